// Packet grid search and PCR bitrate measurement on any file. The first input byte chooses the sample
// limit (0: the whole file) and whether the rest is repeated until the file passes one read block and the
// sync search window, so block edges and the search limit are reached too. Properties: a grid offset
// points at a sync byte inside the file, the bitrate is -1 or positive and finite, and the per-PID
// counts add up to the packets scanned.

#include "tspcrmeasure.h"
#include "fuzzfile.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const int limit = bytes[0] & 0x0F; // 0 scans everything
    const bool tile = (bytes[0] & 0x70) == 0x70 && size > 1; // one input in eight: a 1 MiB scan is slow
    std::vector<uint8_t> content(bytes + 1, bytes + size);
    if (tile) {
        // Past 4096 packets (one read) and 1 MiB (the sync search window).
        const size_t target = 1024 * 1024 + 4096;
        const size_t unit = content.size();
        while (content.size() < target)
            content.insert(content.end(), bytes + 1, bytes + 1 + unit);
    }
    FuzzFile file(content.data(), content.size());

    tspcrmeasure measure(nullptr, file.path());
    if (!measure.isOpen())
        abort();
    measure.setSampleLimit(limit);
    const qint64 sync = measure.findSync();
    if (sync != -1) {
        if (sync < 0 || sync >= qint64(content.size()) || content[size_t(sync)] != 0x47)
            abort();
    }
    const qint64 bitrate = measure.measureBitrate();
    if (bitrate != -1 && bitrate <= 0)
        abort();
    if (sync == -1 && bitrate != -1)
        abort();

    quint64 counted = 0;
    for (quint64 n : measure.getPidPacketCounts())
        counted += n;
    quint64 withSync = 0;
    if (sync >= 0) {
        for (size_t at = size_t(sync); at + 188 <= content.size() && limit == 0; at += 188)
            withSync += content[at] == 0x47;
        if (limit == 0 && counted != withSync)
            abort();
        if (limit == 0 && measure.getPacketCount() != (content.size() - size_t(sync)) / 188)
            abort();
    }
    if (counted > measure.getPacketCount())
        abort();
    for (quint16 pid : measure.getPidList()) {
        if (pid > 0x1FFF)
            abort();
        const double share = measure.pidShare(pid);
        if (!(share > 0.0 && share <= 1.0))
            abort();
    }
    return 0;
}
