#pragma once
// A firmware image file (*.bin) as the control panel checks it before a download: a 32-byte AES-128-CBC
// encrypted header, its CRC-16 (high byte first), then the payload sent to the modulator as stored.
// Checking decodes the 34 stored header bytes and hashes the file in chunks; the whole image is read into
// memory only for the download, and then checked again so a file changed in between is not sent. Plain value code, any
// thread.

#include <QByteArray>
#include <QString>

class FirmwareFile
{
public:
    enum class Status {
        Ok,
        OpenFailed, // missing or unreadable file
        NotFirmware, // shorter than the stored header, or the check value does not match
        CipherError, // the crypto library refused the header
        TooLarge, // larger than any image the modulator takes; never read into memory
        ReadFailed, // the image could not be read whole for the download
        Changed, // the file no longer holds the header that was checked
    };

    static constexpr int HEADER_SIZE = 32; // two AES blocks
    static constexpr int CHECK_SIZE = 2; // CRC-16, high byte first
    static constexpr int STORED_HEADER_SIZE = 34; // what setFlashRequest announces
    // Decrypted header layout.
    static constexpr int NAME_FIELD_SIZE = 21; // name and its NUL; the serial field follows
    static constexpr int SERIAL_OFFSET = 21;
    static constexpr int SERIAL_SIZE = 6;
    static constexpr int BANK_OFFSET = 27; // signed 8-bit
    static constexpr int SIZE_OFFSET = 28; // unsigned 32-bit, big-endian
    static constexpr int BANK_COUNT = 6;
    // At 115200 baud and two hex digits a byte, 64 MiB would take over three hours to send; anything larger
    // is not an image for this device and is refused before it is read into memory.
    static constexpr qint64 MAX_IMAGE_SIZE = qint64(64) * 1024 * 1024;

    // Texts the panel shows for the outcomes.
    static QString unableToOpenText() { return QStringLiteral("Unable to open the binary file"); }
    static QString notFirmwareText()
    {
        return QStringLiteral("This is not a firmware file, please check and try again");
    }
    static QString statusText(Status status);

    // The decoded header fields.
    struct Header {
        QString name;
        QString serial; // empty: valid for all products
        int bank = 0;
        quint32 size = 0;
    };

    // Opens the file, reads its 34 header bytes, checks the CRC and decodes the header. On anything but Ok
    // the object keeps its previous state, so a refused file leaves an earlier acceptance in place.
    Status check(const QString &path);
    bool isValid() const { return !filePath.isEmpty(); }
    QString path() const { return filePath; }
    const Header &header() const { return fields; }
    qint64 fileSize() const { return storedFileSize; }
    qint64 payloadSize() const { return storedFileSize - STORED_HEADER_SIZE; }
    bool sizeMatchesPayload() const { return qint64(fields.size) == payloadSize(); }

    // "Firmware details :" box text, with a warning line when the size field disagrees with the payload.
    QString informationText() const;
    QString serialText() const;
    QString readyToolTip() const;

    // Reads the whole accepted image for the download after checking it again: Changed if its content is no
    // longer the one check() accepted.
    Status readForDownload(QByteArray *image) const;

    // Pure helpers, also used by the fuzz harness.
    static quint16 crc16(const QByteArray &encryptedHeader);
    // Checks the CRC of the 34 stored bytes (anything shorter is NotFirmware), decrypts and decodes them.
    static Status parseStoredHeader(const QByteArray &stored, Header *header);
    static bool decryptHeader(const QByteArray &encrypted, QByteArray *plain);
    // Fields of a decrypted 32-byte header; every field is read inside its own bytes.
    static Header decodeHeader(const QByteArray &plain);
    static QString bankName(int code);
    static QByteArray key();
    static QByteArray initialisationVector();

private:
    QString filePath;
    QByteArray storedHeader;
    QByteArray contentHash;
    qint64 storedFileSize = 0;
    Header fields;
};
