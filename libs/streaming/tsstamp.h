#pragma once
// Clock stage of a streaming run: counts the packets it passes on and, with PCR correction on, rewrites
// every PCR from the packet's position in the outgoing stream and shifts PTS/DTS by the same amount, so the
// clocks stay continuous across file wraps and seeks. Runs in the pacing thread; setters take the reader's
// pipeline lock.

#include <QByteArray>
#include <QObject>

#include "tspacket.h"

class tsloop;

class tsstamp : public QObject
{
public:
    tsstamp(tsloop *parent, quint64 bitrate, bool pcrCorrection);

    QByteArray nextPacket();
    // Fills out (188 bytes of room) with the next packet; returns its length as the reader gave it.
    int readPacket(uchar *out);

    void setPcrCorrection(bool value);
    // PTS/DTS of elementaryPid follow the PCR of pcrPid (its program's PCR PID). Without an entry a PID's
    // timestamps are left as they are.
    void setPcrPidOf(quint16 elementaryPid, quint16 pcrPid);

    tsloop *source() const { return loop; }
    quint64 getPacketCount() const { return packetCount; }

    // Clock fields the stage writes (ISO/IEC 13818-1, 2.4.3.4 and 2.4.3.7; the PCR is read through tspacket.h);
    // p points to a 188-byte packet or to the five bytes of a PES timestamp.
    static void writePcr(uchar *p, quint64 value);
    static quint64 readTimestamp(const uchar *t);
    static void writeTimestamp(uchar *t, quint64 value);

    // PTS/DTS run modulo 2^33 ticks of 90 kHz (the PCR modulo tspacket::PCR_WRAP).
    static constexpr quint64 PTS_MODULUS = quint64(1) << 33;
    static constexpr quint16 NO_PCR_PID = 0x2000;

    // Regenerated PCR: the reference PCR plus the time the bytes since the reference take at bitrate.
    static quint64 regeneratedPcr(quint64 referencePcr, quint64 bytesSinceReference, quint64 bitrate);
    // Timestamp shifted by the PCR offset (new PCR minus incoming PCR, 27 MHz ticks, modulo the PCR range).
    static quint64 shiftedTimestamp(quint64 timestamp, quint64 newPcr, quint64 incomingPcr);

private:
    void clockStage(uchar *p);
    void timestampStage(uchar *p);

    tsloop *loop;
    bool pcrCorrection;
    quint64 bitrate;
    quint64 packetCount = 0;
    quint64 referencePcr[tspacket::PID_COUNT];
    quint64 referencePosition[tspacket::PID_COUNT];
    bool referenceSet[tspacket::PID_COUNT];
    quint64 lastIncomingPcr[tspacket::PID_COUNT];
    quint64 lastNewPcr[tspacket::PID_COUNT];
    quint16 pcrPidOf[tspacket::PID_COUNT];
};
