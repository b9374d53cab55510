#pragma once
// The last minutes of a streaming run, one sample a second, for the Streaming page's chart: the rate the run
// sent, and what the modulator last reported of its IP input. A fixed ring, so a run of hours holds the same
// memory as one of minutes. GUI thread.

#include <QtGlobal>

#include <array>

class streamhealth
{
public:
    enum class inputLock { Unknown, Locked, NotLocked };

    // The modulator's latest status reading, as the Configuration page's poll got it.
    struct deviceReading {
        bool valid = false; // a session polls the device and has had a reading
        qint64 ageMs = 0;
        double rawBps = -1; // negative: the reading had no bitrate
        inputLock lock = inputLock::Unknown;
    };

    struct sample {
        qint64 atMs = 0; // wall clock, milliseconds since the epoch
        double sentBps = 0; // since the sample before
        double deviceRawBps = -1; // negative: no fresh reading
        inputLock deviceLock = inputLock::Unknown;
    };

    static constexpr int SECONDS = 300;
    // A reading older than two polls (one a second, each answer within the command time-out's first second) is
    // from a device that stopped answering: shown as nothing rather than as a value it no longer reports.
    static constexpr qint64 MAX_READING_AGE_MS = 2500;

    // A new run: no samples; its packet count starts from `packetsSent` at `elapsedMs` on a monotonic clock.
    void start(qint64 elapsedMs, quint64 packetsSent);
    // One sample, stamped `atMs` (wall clock, for the time axis): the rate of the packets sent since the last
    // call over the monotonic time that passed, and the reading when fresh.
    void record(qint64 atMs, qint64 elapsedMs, quint64 packetsSent, const deviceReading &device);

    int size() const { return count; }
    // 0 is the oldest.
    const sample &at(int i) const { return ring[size_t((first + i) % SECONDS)]; }

private:
    std::array<sample, SECONDS> ring {};
    int first = 0;
    int count = 0;
    qint64 lastElapsedMs = 0;
    quint64 lastPackets = 0;
};
