#pragma once
// Firmware image format: a 32-byte AES-128-CBC encrypted header, its CRC-16 (high byte first),
// then the payload as stored. Builds images (make-firmware) and checks announced headers (flash).

#include <QByteArray>

#include <cstdint>

struct FirmwareHeader {
    QByteArray name; // ASCII, at most 20 characters
    QByteArray serial; // ASCII, at most 6 characters; empty = valid for every product
    int bank = 0; // signed 8-bit on the wire
    quint32 size = 0; // payload length
};

class FirmwareImage
{
public:
    enum class Check { Ok, BadLength, BadCrc, CipherError };

    static constexpr int HeaderSize = 32;
    static constexpr int StoredHeaderSize = 34;
    static constexpr int MaxNameLength = 20;
    static constexpr int SerialLength = 6;

    // The 34 stored bytes (encrypted header + CRC) for this header; empty if a field does not fit.
    static QByteArray storedHeader(const FirmwareHeader &header);
    // Checks the CRC of the 34 stored bytes and decrypts the header into `header`.
    static Check parseStoredHeader(const QByteArray &stored, FirmwareHeader *header);

    static quint16 crc(const QByteArray &encryptedHeader);

private:
    static bool cipher(const QByteArray &in, bool encrypt, QByteArray *out);
};
