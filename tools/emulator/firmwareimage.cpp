#include "firmwareimage.h"

#include <openssl/evp.h>

#include <memory>

namespace
{
// The device's fixed header key and initialisation vector.
const char keyHex[] = "5c1f0a93d4e8b27061fa3c9e8d20b4a7";
const char ivHex[] = "f3e1c07a9b5d2846e0c7a1b93d5f6028";

constexpr int serialOffset = 21;
constexpr int bankOffset = 27;
constexpr int sizeOffset = 28;
}

quint16 FirmwareImage::crc(const QByteArray &encryptedHeader)
{
    return qChecksum(encryptedHeader.constData(), uint(encryptedHeader.size()));
}

bool FirmwareImage::cipher(const QByteArray &in, bool encrypt, QByteArray *out)
{
    const QByteArray key = QByteArray::fromHex(keyHex);
    const QByteArray iv = QByteArray::fromHex(ivHex);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx)
        return false;
    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *v = reinterpret_cast<const unsigned char *>(iv.constData());
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1)
        return false;
    // The header is exactly two blocks: no padding, or the final step fails.
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    out->resize(in.size() + 16);
    int n = 0;
    int tail = 0;
    auto *o = reinterpret_cast<unsigned char *>(out->data());
    if (EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char *>(in.constData()), in.size()) != 1)
        return false;
    if (EVP_CipherFinal_ex(ctx.get(), o + n, &tail) != 1)
        return false;
    out->resize(n + tail);
    return out->size() == in.size();
}

QByteArray FirmwareImage::storedHeader(const FirmwareHeader &header)
{
    if (header.name.size() > MaxNameLength || header.serial.size() > SerialLength || header.bank < -128
        || header.bank > 127 || header.name.contains('\0') || header.serial.contains('\0'))
        return {};
    QByteArray plain(HeaderSize, '\0');
    plain.replace(0, header.name.size(), header.name);
    plain.replace(serialOffset, header.serial.size(), header.serial);
    plain[bankOffset] = char(qint8(header.bank));
    plain[sizeOffset] = char((header.size >> 24) & 0xff);
    plain[sizeOffset + 1] = char((header.size >> 16) & 0xff);
    plain[sizeOffset + 2] = char((header.size >> 8) & 0xff);
    plain[sizeOffset + 3] = char(header.size & 0xff);
    QByteArray encrypted;
    if (!cipher(plain, true, &encrypted))
        return {};
    const quint16 c = crc(encrypted);
    encrypted.append(char(c >> 8));
    encrypted.append(char(c & 0xff));
    return encrypted;
}

FirmwareImage::Check FirmwareImage::parseStoredHeader(const QByteArray &stored, FirmwareHeader *header)
{
    if (stored.size() != StoredHeaderSize)
        return Check::BadLength;
    const QByteArray encrypted = stored.left(HeaderSize);
    const quint16 c = crc(encrypted);
    if (quint8(stored.at(32)) != (c >> 8) || quint8(stored.at(33)) != (c & 0xff))
        return Check::BadCrc;
    QByteArray plain;
    if (!cipher(encrypted, false, &plain))
        return Check::CipherError;
    // Both text fields stop at their first NUL, and never run past their own area.
    const QByteArray nameArea = plain.left(serialOffset);
    const int nameEnd = nameArea.indexOf('\0');
    header->name = nameEnd < 0 ? nameArea : nameArea.left(nameEnd);
    const QByteArray serialArea = plain.mid(serialOffset, SerialLength);
    const int serialEnd = serialArea.indexOf('\0');
    header->serial = serialEnd < 0 ? serialArea : serialArea.left(serialEnd);
    header->bank = qint8(plain.at(bankOffset));
    header->size = (quint32(quint8(plain.at(sizeOffset))) << 24) | (quint32(quint8(plain.at(sizeOffset + 1))) << 16)
        | (quint32(quint8(plain.at(sizeOffset + 2))) << 8) | quint32(quint8(plain.at(sizeOffset + 3)));
    return Check::Ok;
}
