#include "ipinputmeter.h"

namespace
{
constexpr char syncByte = 0x47;
constexpr int tsPacket = 188;
constexpr int rsPacket = 204;
constexpr int rtpHeader = 12;
constexpr quint16 nullPid = 0x1fff;
// At 1 Gbit/s of 7-packet datagrams a second holds about 95 000 samples; beyond this the oldest go.
constexpr size_t maxSamples = 200000;
}

QByteArray IpInputMeter::transportPayload(const QByteArray &datagram)
{
    if (datagram.isEmpty())
        return {};
    if (datagram.at(0) == syncByte)
        return datagram;
    // RTP version 2: fixed header, CSRC list, optional extension (its length in 32-bit words).
    if (datagram.size() < rtpHeader || (quint8(datagram.at(0)) & 0xc0) != 0x80)
        return {};
    const int csrcCount = quint8(datagram.at(0)) & 0x0f;
    qsizetype offset = rtpHeader + 4 * csrcCount;
    if (quint8(datagram.at(0)) & 0x10) {
        if (datagram.size() < offset + 4)
            return {};
        const int words = (quint8(datagram.at(offset + 2)) << 8) | quint8(datagram.at(offset + 3));
        offset += 4 + 4 * words;
    }
    if (offset >= datagram.size())
        return {};
    qsizetype end = datagram.size();
    if (quint8(datagram.at(0)) & 0x20) {
        // Padding: the last byte counts the padding bytes, itself included.
        const int pad = quint8(datagram.at(end - 1));
        if (pad == 0 || pad > end - offset)
            return {};
        end -= pad;
    }
    return datagram.mid(offset, end - offset);
}

int IpInputMeter::packetSize(const QByteArray &payload)
{
    for (int size : { tsPacket, rsPacket }) {
        if (payload.isEmpty() || payload.size() % size != 0)
            continue;
        bool synced = true;
        for (qsizetype i = 0; i < payload.size() && synced; i += size)
            synced = payload.at(i) == syncByte;
        if (synced)
            return size;
    }
    return 0;
}

void IpInputMeter::addDatagram(const QByteArray &datagram, qint64 nowMs)
{
    const QByteArray payload = transportPayload(datagram);
    const int size = packetSize(payload);
    Sample s { nowMs, Lock::NotLocked, 0, 0 };
    if (size != 0) {
        s.lock = size == tsPacket ? Lock::Locked188 : Lock::Locked204;
        for (qsizetype i = 0; i < payload.size(); i += size) {
            const quint16 pid = quint16(((quint8(payload.at(i + 1)) & 0x1f) << 8) | quint8(payload.at(i + 2)));
            s.rawBytes += tsPacket;
            if (pid != nullPid)
                s.netBytes += tsPacket;
        }
    }
    expire(nowMs);
    if (samples.size() >= maxSamples) {
        rawSum -= samples.front().rawBytes;
        netSum -= samples.front().netBytes;
        samples.pop_front();
    }
    samples.push_back(s);
    rawSum += s.rawBytes;
    netSum += s.netBytes;
}

void IpInputMeter::expire(qint64 nowMs)
{
    while (!samples.empty() && samples.front().timeMs <= nowMs - WindowMs) {
        rawSum -= samples.front().rawBytes;
        netSum -= samples.front().netBytes;
        samples.pop_front();
    }
}

IpInputMeter::Reading IpInputMeter::reading(qint64 nowMs)
{
    expire(nowMs);
    Reading r;
    if (samples.empty())
        return r;
    // The lock follows the latest datagram: a stream that changes packet size relocks at once.
    r.lock = samples.back().lock;
    r.rawMbps = double(rawSum) * 8.0 / (double(WindowMs) * 1000.0);
    r.netMbps = double(netSum) * 8.0 / (double(WindowMs) * 1000.0);
    return r;
}

void IpInputMeter::reset()
{
    samples.clear();
    rawSum = 0;
    netSum = 0;
}
