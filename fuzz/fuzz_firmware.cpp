// Firmware header check. The first input byte chooses the path: the stored 34 bytes with the CRC the
// harness computes (so the check passes and the decrypted header is decoded), the stored bytes as given,
// or a decrypted 32-byte header decoded directly. Properties: a header is accepted only with its CRC,
// every field is read inside its own bytes (name at most 21, serial at most 6 characters), and the bank
// code is a signed byte with a name.

#include "firmwarefile.h"

#include <cstdint>
#include <cstdlib>

namespace
{
void checkHeader(const FirmwareFile::Header &h)
{
    if (h.name.size() > FirmwareFile::NAME_FIELD_SIZE || h.serial.size() > FirmwareFile::SERIAL_SIZE)
        abort();
    if (h.bank < -128 || h.bank > 127)
        abort();
    if (FirmwareFile::bankName(h.bank).isEmpty())
        abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const int mode = bytes[0] % 3;
    QByteArray data(reinterpret_cast<const char *>(bytes + 1), int(size - 1));

    if (mode == 2) {
        checkHeader(FirmwareFile::decodeHeader(data));
        return 0;
    }
    if (mode == 0 && data.size() >= FirmwareFile::HEADER_SIZE) {
        const quint16 crc = FirmwareFile::crc16(data.left(FirmwareFile::HEADER_SIZE));
        data = data.left(FirmwareFile::HEADER_SIZE);
        data.append(char(crc >> 8));
        data.append(char(crc & 0xFF));
    }
    FirmwareFile::Header h;
    const FirmwareFile::Status status = FirmwareFile::parseStoredHeader(data, &h);
    const bool crcOk = data.size() >= FirmwareFile::STORED_HEADER_SIZE && [&] {
        const quint16 crc = FirmwareFile::crc16(data.left(FirmwareFile::HEADER_SIZE));
        return quint8(data.at(32)) == (crc >> 8) && quint8(data.at(33)) == (crc & 0xFF);
    }();
    if (status == FirmwareFile::Status::Ok) {
        if (!crcOk)
            abort();
        checkHeader(h);
    } else if (status != FirmwareFile::Status::NotFirmware && status != FirmwareFile::Status::CipherError) {
        abort();
    } else if (mode == 0 && data.size() >= FirmwareFile::STORED_HEADER_SIZE && status == FirmwareFile::Status::NotFirmware) {
        abort(); // the harness made the CRC right
    }
    return 0;
}
