#include "firmwarefile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <openssl/evp.h>

#include <memory>

namespace
{

Q_LOGGING_CATEGORY(lcFirmware, "nerio.firmware")

const char *const BANK_NAMES[FirmwareFile::BANK_COUNT] = {
    "FPGA First bank",
    "FPGA second bank",
    "FPGA third bank",
    "Micro bank",
    "Micro factory bank",
    "LCD bank",
};

// Field bytes up to the first NUL, never past the field's own end.
QString fieldText(const QByteArray &plain, int offset, int size)
{
    const QByteArray field = plain.mid(offset, size);
    const int nul = field.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? field : field.left(nul));
}

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

} // namespace

QString FirmwareFile::statusText(Status status)
{
    switch (status) {
    case Status::Ok:
        return QString();
    case Status::OpenFailed:
    case Status::ReadFailed:
        return unableToOpenText();
    case Status::NotFirmware:
        return notFirmwareText();
    case Status::CipherError:
        return QStringLiteral("Unable to decrypt the firmware header");
    case Status::TooLarge:
        return QStringLiteral("The binary file is too large to be a firmware file");
    case Status::Changed:
        return QStringLiteral("The binary file has changed since it was checked, please load it again");
    }
    return QString();
}

QByteArray FirmwareFile::key()
{
    return QByteArray::fromHex("5c1f0a93d4e8b27061fa3c9e8d20b4a7");
}

QByteArray FirmwareFile::initialisationVector()
{
    return QByteArray::fromHex("f3e1c07a9b5d2846e0c7a1b93d5f6028");
}

quint16 FirmwareFile::crc16(const QByteArray &encryptedHeader)
{
    // Qt 5.15's default is the ISO 3309 (X.25) frame check sequence, the one the image maker uses.
    return qChecksum(encryptedHeader.constData(), uint(encryptedHeader.size()));
}

bool FirmwareFile::decryptHeader(const QByteArray &encrypted, QByteArray *plain)
{
    plain->clear();
    if (encrypted.size() != HEADER_SIZE)
        return false;
    // A fresh context per header: CBC chains from the initialisation vector every time.
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return false;
    const QByteArray k = key();
    const QByteArray iv = initialisationVector();
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr,
            reinterpret_cast<const unsigned char *>(k.constData()),
            reinterpret_cast<const unsigned char *>(iv.constData()))
        != 1)
        return false;
    // The header is exactly two blocks without padding; with padding on the final step would fail.
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    QByteArray out(HEADER_SIZE + 16, '\0');
    int written = 0;
    int tail = 0;
    auto *dst = reinterpret_cast<unsigned char *>(out.data());
    if (EVP_DecryptUpdate(
            ctx.get(), dst, &written, reinterpret_cast<const unsigned char *>(encrypted.constData()), HEADER_SIZE)
            != 1
        || EVP_DecryptFinal_ex(ctx.get(), dst + written, &tail) != 1 || written + tail != HEADER_SIZE)
        return false;
    out.truncate(HEADER_SIZE);
    *plain = out;
    return true;
}

FirmwareFile::Header FirmwareFile::decodeHeader(const QByteArray &plain)
{
    Header h;
    if (plain.size() < HEADER_SIZE)
        return h;
    h.name = fieldText(plain, 0, NAME_FIELD_SIZE);
    h.serial = fieldText(plain, SERIAL_OFFSET, SERIAL_SIZE);
    h.bank = qint8(quint8(plain.at(BANK_OFFSET)));
    const auto *s = reinterpret_cast<const uchar *>(plain.constData()) + SIZE_OFFSET;
    h.size = (quint32(s[0]) << 24) | (quint32(s[1]) << 16) | (quint32(s[2]) << 8) | quint32(s[3]);
    return h;
}

FirmwareFile::Status FirmwareFile::parseStoredHeader(const QByteArray &stored, Header *header)
{
    if (stored.size() < STORED_HEADER_SIZE)
        return Status::NotFirmware;
    const QByteArray encrypted = stored.left(HEADER_SIZE);
    const quint16 crc = crc16(encrypted);
    if (quint8(stored.at(HEADER_SIZE)) != (crc >> 8) || quint8(stored.at(HEADER_SIZE + 1)) != (crc & 0xff))
        return Status::NotFirmware;
    QByteArray plain;
    if (!decryptHeader(encrypted, &plain))
        return Status::CipherError;
    *header = decodeHeader(plain);
    return Status::Ok;
}

QString FirmwareFile::bankName(int code)
{
    if (code < 0 || code >= BANK_COUNT)
        return QStringLiteral("Unknown bank (code %1)").arg(code);
    return QString::fromLatin1(BANK_NAMES[code]);
}

FirmwareFile::Status FirmwareFile::check(const QString &path)
{
    QFile file(path);
    // A FIFO or a device would block the window for good, in open() or in the first read.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Status::OpenFailed;
    const QByteArray stored = file.read(STORED_HEADER_SIZE);
    const qint64 length = file.size();
    Header h;
    const Status status = parseStoredHeader(stored, &h);
    if (status != Status::Ok) {
        qCDebug(lcFirmware) << "firmware file refused" << path << int(status);
        return status;
    }
    if (length > MAX_IMAGE_SIZE)
        return Status::TooLarge;
    // Hashed in chunks, so the download can tell whether the payload changed since this check.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.seek(0) || !hash.addData(&file))
        return Status::ReadFailed;
    filePath = path;
    contentHash = hash.result();
    storedHeader = stored;
    storedFileSize = length;
    fields = h;
    return Status::Ok;
}

QString FirmwareFile::serialText() const
{
    if (fields.serial.isEmpty())
        return QStringLiteral("Valid for all products");
    return QStringLiteral("Valid only for SN = ") + fields.serial;
}

QString FirmwareFile::informationText() const
{
    QString text = QStringLiteral("Firmware details :\n") + QStringLiteral("- Size : ") + QString::number(fields.size)
        + QStringLiteral("\n- Name : ") + fields.name + QStringLiteral("\n- Product SN : ") + serialText()
        + QStringLiteral("\n- Bank : ") + bankName(fields.bank);
    if (!sizeMatchesPayload())
        text += QStringLiteral("\n- Warning : the file holds %1 bytes of payload").arg(payloadSize());
    return text;
}

QString FirmwareFile::readyToolTip() const
{
    return QStringLiteral("Firmware ") + fields.name + QStringLiteral(" is ready for download");
}

FirmwareFile::Status FirmwareFile::readForDownload(QByteArray *image) const
{
    image->clear();
    if (!isValid())
        return Status::OpenFailed;
    QFile file(filePath);
    if (!QFileInfo(filePath).isFile() || !file.open(QIODevice::ReadOnly))
        return Status::OpenFailed;
    const qint64 length = file.size();
    if (length > MAX_IMAGE_SIZE)
        return Status::TooLarge;
    if (length != storedFileSize)
        return Status::Changed;
    QByteArray content = file.read(length);
    if (content.size() != length || !file.atEnd())
        return Status::ReadFailed;
    Header h;
    if (!content.startsWith(storedHeader) || parseStoredHeader(content, &h) != Status::Ok
        || QCryptographicHash::hash(content, QCryptographicHash::Sha256) != contentHash)
        return Status::Changed;
    *image = content;
    return Status::Ok;
}
