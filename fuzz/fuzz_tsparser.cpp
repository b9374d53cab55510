// PSI parser: any bytes as a run of 188-byte transport packets (the first input byte decides whether
// every packet is forced to start with the sync byte, which reaches the tables more often). Properties:
// the parser reads only the packet it is given, and the program list holds only 13-bit PIDs.

#include "tsparser.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const bool forceSync = bytes[0] & 1;
    const bool feedShort = bytes[0] & 2; // a trailing part packet is handed over as it is
    const uint8_t *data = bytes + 1;
    const size_t length = size - 1;

    tsparser parser;
    uint8_t packet[188];
    size_t at = 0;
    for (; at + 188 <= length; at += 188) {
        // Copied into an exact 188-byte buffer: ASan reports any read beyond the packet.
        for (int i = 0; i < 188; ++i)
            packet[i] = data[at + i];
        if (forceSync)
            packet[0] = 0x47;
        parser.parse(packet, 188);
    }
    if (feedShort && at < length) {
        const QByteArray tail(reinterpret_cast<const char *>(data + at), int(length - at));
        parser.parse(tail);
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
    (void)parser.transport_stream_id();
    (void)parser.network_name().size();
    (void)parser.complete();
    return 0;
}
