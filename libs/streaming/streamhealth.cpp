#include "streamhealth.h"

#include "tspacket.h"

void streamhealth::start(qint64 elapsedMs, quint64 packetsSent)
{
    first = 0;
    count = 0;
    lastElapsedMs = elapsedMs;
    lastPackets = packetsSent;
}

void streamhealth::record(qint64 atMs, qint64 elapsedMs, quint64 packetsSent, const deviceReading &device)
{
    sample s;
    s.atMs = atMs;
    // Over the time that really passed: a late tick must not read as a rate jump.
    const qint64 elapsed = elapsedMs - lastElapsedMs;
    if (elapsed > 0 && packetsSent >= lastPackets)
        s.sentBps = double(packetsSent - lastPackets) * tspacket::PKT_SIZE * 8 * 1000 / double(elapsed);
    lastElapsedMs = elapsedMs;
    lastPackets = packetsSent;
    if (device.valid && device.ageMs <= MAX_READING_AGE_MS) {
        s.deviceRawBps = device.rawBps;
        s.deviceLock = device.lock;
    }
    if (count < SECONDS) {
        ring[size_t((first + count) % SECONDS)] = s;
        ++count;
    } else {
        ring[size_t(first)] = s;
        first = (first + 1) % SECONDS;
    }
}
