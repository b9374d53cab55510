#pragma once
// Datagram schedule of a streaming run, as pure arithmetic on clock readings the caller passes in, so
// the pacing rules are testable without sleeping. Used by the pacing thread only.
//
// Datagram k of a schedule is due at origin + ceil(k * bitsPerDatagram * 1e9 / bitrate) ns, so the payload
// rate equals the nominal bitrate exactly over any span and never runs ahead of it. When the sender falls
// behind (the process was not scheduled), the backlog goes out at the catch-up rate (three times the nominal
// rate, and never slower than catchUpFloorBitrate), never as one burst; a backlog over maxBacklogNs is given
// up instead of being made up.

#include <QtGlobal>

class pacer
{
public:
    pacer(quint64 bitrate, quint32 bitsPerDatagram);

    // Starts a new schedule whose first datagram is due at nowNs; nothing from before is made up.
    void restart(qint64 nowNs);
    bool isStarted() const { return started; }

    // Earliest time the next datagram may leave.
    qint64 nextDeadline() const;
    bool isDue(qint64 nowNs) const { return started && nowNs >= nextDeadline(); }
    // The next datagram is already overdue: the sender is making up a backlog and should not sleep (a
    // sleep's wake-up can outlast the catch-up spacing, so the backlog would only grow).
    bool isBehind(qint64 nowNs) const { return started && sentCount > 0 && nowNs > nominalDue(); }
    // Records that the next datagram left at nowNs.
    void sent(qint64 nowNs);

    quint64 datagramsSent() const { return sentCount; }
    quint64 stallCount() const { return stalls; }
    qint64 worstLatenessNs() const { return worstLateness; }
    qint64 forgivenNs() const { return forgiven; }
    qint64 periodNs() const { return period; }

    // Offset of datagram index from the schedule origin, rounded up to whole nanoseconds.
    static qint64 dueOffsetNs(quint64 index, quint64 bitrate, quint32 bitsPerDatagram);
    // Datagrams due within elapsedNs of the origin, the one due at the origin included.
    static quint64 datagramsDueBy(qint64 elapsedNs, quint64 bitrate, quint32 bitsPerDatagram);

    static constexpr int catchUpFactor = 3;
    static constexpr quint64 catchUpFloorBitrate = 75000000;
    static constexpr qint64 maxBacklogNs = 1000000000;

private:
    qint64 nominalDue() const;

    quint64 bitrate;
    quint32 bitsPerDatagram;
    qint64 period;
    qint64 catchUpGap;
    qint64 stallThreshold;
    qint64 origin = 0;
    qint64 lastSend = 0;
    quint64 sentCount = 0;
    quint64 stalls = 0;
    qint64 worstLateness = 0;
    qint64 forgiven = 0;
    bool started = false;
    bool inStall = false;
};
