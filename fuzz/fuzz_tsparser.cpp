// PSI parser: any bytes as a run of 188-byte transport packets (the first input byte decides whether every packet
// is forced to start with the sync byte, which reaches the tables more often), or as sections whose lengths and
// CRC_32 this target makes right, so that the table decoders see sections that pass the check: each record is a
// PID (two bytes), a length byte and that many section bytes, sent in packets of its own. Properties: the parser
// reads only the packet it is given, and the program list holds only 13-bit PIDs.

#include "sectionreader.h"
#include "tsparser.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

void feed(tsparser &parser, const uint8_t *bytes, bool forceSync)
{
    // Copied into an exact 188-byte buffer: ASan reports any read beyond the packet.
    uint8_t packet[188];
    for (int i = 0; i < 188; ++i)
        packet[i] = bytes[i];
    if (forceSync)
        packet[0] = 0x47;
    parser.parse(packet, 188);
}

void feedSections(tsparser &parser, const uint8_t *data, size_t length)
{
    std::array<uint8_t, 8192> cc {};
    for (size_t at = 0; at + 3 <= length;) {
        const uint16_t pid = uint16_t(((data[at] << 8) | data[at + 1]) & 0x1FFF);
        const size_t size = data[at + 2];
        at += 3;
        if (size < 3 || at + size > length)
            return;
        std::vector<uint8_t> section(data + at, data + at + size);
        at += size;
        const size_t sectionLength = size + 4 - 3;
        section[1] = uint8_t((section[1] & 0xF0) | (sectionLength >> 8));
        section[2] = uint8_t(sectionLength & 0xFF);
        const quint32 crc = sectionreader::crc32(section.data(), int(section.size()));
        for (int shift = 24; shift >= 0; shift -= 8)
            section.push_back(uint8_t(crc >> shift));

        section.insert(section.begin(), 0); // pointer field
        for (size_t done = 0; done < section.size(); done += 184) {
            uint8_t packet[188];
            packet[0] = 0x47;
            packet[1] = uint8_t((done == 0 ? 0x40 : 0) | (pid >> 8));
            packet[2] = uint8_t(pid & 0xFF);
            packet[3] = uint8_t(0x10 | (cc[pid]++ & 0x0F));
            for (size_t i = 0; i < 184; ++i)
                packet[4 + i] = done + i < section.size() ? section[done + i] : 0xFF;
            feed(parser, packet, false);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const bool forceSync = bytes[0] & 1;
    const bool feedShort = bytes[0] & 2; // a trailing part packet is handed over as it is
    const bool sections = bytes[0] & 4;
    const uint8_t *data = bytes + 1;
    const size_t length = size - 1;

    tsparser parser;
    if (sections) {
        feedSections(parser, data, length);
    } else {
        size_t at = 0;
        for (; at + 188 <= length; at += 188)
            feed(parser, data + at, forceSync);
        if (feedShort && at < length) {
            const QByteArray tail(reinterpret_cast<const char *>(data + at), int(length - at));
            parser.parse(tail);
        }
    }

    const QList<program_info> programs = parser.programs();
    for (const program_info &p : programs) {
        if (p.PMT_PID > 0x1FFF || p.PCR_PID > 0x1FFF || p.program_number == 0)
            abort();
        for (const es_entry &e : p.es_list) {
            if (e.elementary_PID > 0x1FFF)
                abort();
        }
    }
    if (parser.crc_errors() < 0)
        abort();
    (void)parser.transport_stream_id();
    (void)parser.network_name().size();
    (void)parser.complete();
    return 0;
}
