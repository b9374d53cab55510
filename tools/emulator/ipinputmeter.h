#pragma once
// What the device's IP input sees: packet lock (188 or 204 bytes) and the raw and net transport
// stream bitrates over the last second. Datagrams go in with their arrival time; no sockets here.

#include <QByteArray>

#include <deque>

class IpInputMeter
{
public:
    enum class Lock { NoData, NotLocked, Locked188, Locked204 };

    struct Reading {
        Lock lock = Lock::NoData;
        double rawMbps = 0.0; // every transport packet, counted as 188 bytes
        double netMbps = 0.0; // without null packets (PID 0x1FFF)
    };

    static constexpr qint64 WindowMs = 1000;

    // One UDP payload: transport packets, optionally behind an RTP header.
    void addDatagram(const QByteArray &datagram, qint64 nowMs);
    Reading reading(qint64 nowMs);
    void reset();

    // The transport packets inside a datagram (RTP header removed), or empty if it carries none.
    static QByteArray transportPayload(const QByteArray &datagram);
    // 188 or 204 when every packet of the payload starts with the sync byte, else 0.
    static int packetSize(const QByteArray &payload);

private:
    struct Sample {
        qint64 timeMs;
        Lock lock;
        qint64 rawBytes;
        qint64 netBytes;
    };

    void expire(qint64 nowMs);

    std::deque<Sample> samples;
    qint64 rawSum = 0;
    qint64 netSum = 0;
};
