#pragma once
// Streams at exactly 10 Mbit/s for the measurement tests: a packet lasts 188 x 8 / 10e6 s = 4060.8
// ticks of 27 MHz, so PCRs on packets whose index is a multiple of 5 carry whole tick values
// (index x 4060.8) and every interval between them measures exactly 10 000 000 bit/s.

#include "tsbuilder.h"

namespace pcrstream
{

constexpr quint64 WRAP = (quint64(1) << 33) * 300;

inline quint64 ticksAt(quint64 packetIndex) // packetIndex a multiple of 5
{
    return packetIndex * 4060 + packetIndex / 5 * 4;
}

struct pcrAt {
    int packet;
    quint64 value;
    bool discontinuity = false;
};

// totalPackets packets: the listed PCR packets (in packet order) on PID 0x100, payload on PID 0x101 elsewhere.
inline QByteArray build(const QList<pcrAt> &pcrs, int totalPackets)
{
    QByteArray all;
    int next = 0;
    for (int i = 0; i < totalPackets; ++i) {
        if (next < pcrs.size() && pcrs.at(next).packet == i) {
            const pcrAt &p = pcrs.at(next++);
            all.append(tsbuild::pcrPacket(0x100, p.value % WRAP, p.discontinuity));
        } else {
            all.append(tsbuild::packet(0x101, false, i, QByteArray(184, char(0x33))));
        }
    }
    return all;
}

// `count` PCRs every `spacing` packets from packet 0, values starting at `start`.
inline QList<pcrAt> regular(int count, int spacing, quint64 start = 0)
{
    QList<pcrAt> pcrs;
    for (int k = 0; k < count; ++k)
        pcrs.append({ k * spacing, start + ticksAt(quint64(k) * spacing) });
    return pcrs;
}

} // namespace pcrstream
