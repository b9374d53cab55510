// File reader and clock stage of a streaming run: any file read for three passes with counter and PCR
// correction on. A 12-byte prefix chooses the run's options: start offset, bitrate, loop state, start
// correction, and error injection (gap, run length, PID). Properties, for a file holding a whole packet
// after its start: every packet is 188 bytes; without the loop exactly one pass comes, then nothing; with
// injection off, the counters of each PID are continuous (payload packets step by one, a counter repeats
// at most once in a row, a packet without payload repeats the last one); the regenerated PCRs of each PID
// never step back (modulo the wrap).

#include "fuzzfile.h"
#include "tsloop.h"
#include "tspacket.h"
#include "tsstamp.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
struct PidTrack {
    bool seen = false;
    int cc = 0;
    bool repeated = false;
    bool pcrSeen = false;
    quint64 pcr = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    constexpr size_t PREFIX = 12;
    if (size < PREFIX || size > PREFIX + 188 * 64)
        return 0;
    const uint8_t *o = bytes;
    const qint16 startOffset = qint16(int(o[0] % 200) - 4); // negative: no grid found
    quint64 bitrate = (quint64(o[1]) << 24 | quint64(o[2]) << 16 | quint64(o[3]) << 8 | o[4]);
    if (o[5] & 0x80)
        bitrate <<= 8; // up to 2^40 bit/s
    const int loopState = (o[5] & 1) ? tsloop::loopDisabled : tsloop::loopEnabled;
    const bool startCorrection = o[5] & 2;
    const bool scrambling = o[5] & 4;
    const bool onPid = o[5] & 8;
    const quint64 gap = o[6] % 8;
    const quint64 run = o[7] % 4;
    const quint16 pid = quint16((o[8] << 8 | o[9]) & 0x1FFF);
    const quint16 esPid = quint16((o[10] << 8 | o[11]) & 0x1FFF);

    FuzzFile file(bytes + PREFIX, size - PREFIX);
    const size_t length = size - PREFIX;
    tsloop loop(nullptr, file.path(), bitrate, startOffset, loopState, true, startCorrection, scrambling, onPid, gap,
        pid, run);
    tsstamp stamp(&loop, bitrate, true);
    stamp.setPcrPidOf(esPid, pid);
    if (!loop.isOpen())
        abort();

    const size_t start = startCorrection && startOffset > 0 ? size_t(startOffset) : 0;
    const bool whole = start + 188 <= length;
    const size_t perPass = whole ? (length - start) / 188 : 1;

    std::vector<PidTrack> track(8192);
    uint8_t packet[188];
    for (size_t i = 0; i < 3 * perPass + 1; ++i) {
        std::memset(packet, 0xA5, sizeof packet);
        const int n = stamp.readPacket(packet);
        if (loopState == tsloop::loopDisabled && (!whole || i >= perPass)) {
            if (n != 0 || !loop.atEnd())
                abort();
            continue;
        }
        if (whole && n != 188)
            abort();
        if (!whole && n >= 188)
            abort();
        if (n != 188)
            continue;
        PidTrack &t = track[tspacket::pid(packet)];
        const int cc = tspacket::continuityCounter(packet);
        const bool payload = tspacket::adaptationFieldControl(packet) & 1;
        if (!scrambling && t.seen) {
            if (!payload) {
                if (cc != t.cc)
                    abort();
            } else if (cc == t.cc) {
                if (t.repeated)
                    abort();
                t.repeated = true;
            } else if (cc == ((t.cc + 1) & 0x0F)) {
                t.repeated = false;
            } else {
                abort();
            }
        }
        if (!t.seen)
            t.repeated = false;
        t.seen = true;
        t.cc = cc;
        if (packet[0] == tspacket::SYNC_BYTE && tspacket::hasPcr(packet) && packet[4] >= 7) {
            const quint64 pcr = tspacket::pcr(packet);
            if (pcr >= tspacket::PCR_WRAP)
                abort();
            if (t.pcrSeen) {
                const quint64 step = (pcr + tspacket::PCR_WRAP - t.pcr) % tspacket::PCR_WRAP;
                if (step > tspacket::PCR_WRAP / 2)
                    abort();
            }
            t.pcrSeen = true;
            t.pcr = pcr;
        }
    }
    return 0;
}
