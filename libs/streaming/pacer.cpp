#include "pacer.h"

#include "muldiv.h"

#include <algorithm>

namespace
{
constexpr quint64 NS_PER_S = 1000000000;
} // namespace

pacer::pacer(quint64 bitrate_, quint32 bitsPerDatagram_)
    : bitrate(bitrate_)
    , bitsPerDatagram(bitsPerDatagram_)
{
    period = bitrate ? dueOffsetNs(1, bitrate, bitsPerDatagram) : 0;
    // Every PCR sent while a backlog is made up arrives late, so it is cleared quickly: at three times the
    // rate in half its own length, and at low rates faster still, at the spacing of a 75 Mbit/s stream (a
    // 100 ms stall at 10 Mbit/s is made up within 16 ms, 8 datagrams in any millisecond at most).
    catchUpGap = std::min(period / catchUpFactor, dueOffsetNs(1, catchUpFloorBitrate, bitsPerDatagram));
    // A lateness of a few datagrams is ordinary wake-up jitter; a stall is a lateness no sleep explains.
    stallThreshold = std::max<qint64>(4 * period, 2000000);
}

qint64 pacer::dueOffsetNs(quint64 index, quint64 bitrate, quint32 bitsPerDatagram)
{
    if (bitrate == 0)
        return 0;
    // Wide product: index * bits * 1e9 passes 2^64 after about 20 days at 65 Mbit/s.
    return static_cast<qint64>(muldiv::ceilDiv(index * bitsPerDatagram, NS_PER_S, bitrate));
}

quint64 pacer::datagramsDueBy(qint64 elapsedNs, quint64 bitrate, quint32 bitsPerDatagram)
{
    if (elapsedNs < 0 || bitsPerDatagram == 0)
        return 0;
    // ceil(k*b*1e9/r) <= e  <=>  k*b*1e9 <= e*r, the elapsed time being whole nanoseconds.
    return muldiv::floorDiv(static_cast<quint64>(elapsedNs), bitrate, quint64(bitsPerDatagram) * NS_PER_S) + 1;
}

void pacer::restart(qint64 nowNs)
{
    origin = nowNs;
    lastSend = nowNs;
    sentCount = 0;
    started = true;
    inStall = false;
}

qint64 pacer::nominalDue() const
{
    return origin + dueOffsetNs(sentCount, bitrate, bitsPerDatagram);
}

qint64 pacer::nextDeadline() const
{
    const qint64 due = nominalDue();
    if (sentCount == 0)
        return due;
    return std::max(due, lastSend + catchUpGap);
}

void pacer::sent(qint64 nowNs)
{
    const qint64 lateness = nowNs - nominalDue();
    if (lateness > stallThreshold) {
        if (!inStall)
            ++stalls;
        inStall = true;
    } else if (lateness <= period) {
        inStall = false;
    }
    worstLateness = std::max(worstLateness, lateness);
    if (lateness > maxBacklogNs) {
        // Making up more than this would flood the receiver for seconds; the time is given up and counted.
        origin += lateness;
        forgiven += lateness;
        inStall = false;
    }
    lastSend = nowNs;
    ++sentCount;
}
