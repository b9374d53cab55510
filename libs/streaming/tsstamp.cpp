#include "tsstamp.h"

#include "muldiv.h"
#include "tsloop.h"

#include <cstring>

namespace
{
using tspacket::PCR_WRAP;
using tspacket::PKT_SIZE;
// 27 MHz ticks per byte at 1 bit/s: 27 000 000 x 8.
constexpr quint64 TICKS_PER_BYTE_BIT = tspacket::SYSTEM_CLOCK_HZ * 8;
} // namespace

tsstamp::tsstamp(tsloop *parent, quint64 bitrate_, bool pcrCorrection_)
    : QObject(parent)
    , loop(parent)
    , pcrCorrection(pcrCorrection_)
    , bitrate(bitrate_)
{
    std::memset(referencePcr, 0, sizeof referencePcr);
    std::memset(referencePosition, 0, sizeof referencePosition);
    std::memset(referenceSet, 0, sizeof referenceSet);
    std::memset(lastIncomingPcr, 0, sizeof lastIncomingPcr);
    std::memset(lastNewPcr, 0, sizeof lastNewPcr);
    for (quint16 &q : pcrPidOf)
        q = NO_PCR_PID;
}

void tsstamp::writePcr(uchar *p, quint64 value)
{
    const quint64 base = value / 300;
    const quint64 extension = value % 300;
    p[6] = uchar(base >> 25);
    p[7] = uchar(base >> 17);
    p[8] = uchar(base >> 9);
    p[9] = uchar(base >> 1);
    p[10] = uchar(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
    p[11] = uchar(extension);
}

quint64 tsstamp::readTimestamp(const uchar *t)
{
    return (quint64((t[0] & 0x0E) >> 1) << 30) | (quint64(((t[1] << 8) | t[2]) >> 1) << 15)
        | quint64(((t[3] << 8) | t[4]) >> 1);
}

void tsstamp::writeTimestamp(uchar *t, quint64 value)
{
    t[0] = uchar((t[0] & 0xF0) | ((value >> 29) & 0x0E) | 1);
    t[1] = uchar(value >> 22);
    t[2] = uchar((value >> 14) | 1);
    t[3] = uchar(value >> 7);
    t[4] = uchar((value << 1) | 1);
}

quint64 tsstamp::regeneratedPcr(quint64 referencePcr, quint64 bytesSinceReference, quint64 bitrate)
{
    if (bitrate == 0)
        return referencePcr;
    // Wide product: bytes * 216e6 passes 2^64 after 8.5e10 bytes, under three hours at 65 Mbit/s.
    const quint64 delta = muldiv::floorDiv(bytesSinceReference, TICKS_PER_BYTE_BIT, bitrate);
    return (referencePcr % PCR_WRAP + delta % PCR_WRAP) % PCR_WRAP;
}

quint64 tsstamp::shiftedTimestamp(quint64 timestamp, quint64 newPcr, quint64 incomingPcr)
{
    // Offset taken as the shorter way round the PCR circle, truncated toward zero to 90 kHz ticks.
    qint64 ticks = qint64((newPcr + PCR_WRAP - incomingPcr % PCR_WRAP) % PCR_WRAP);
    if (ticks > qint64(PCR_WRAP / 2))
        ticks -= qint64(PCR_WRAP);
    const qint64 offset = ticks / 300;
    const qint64 shifted = qint64(timestamp % PTS_MODULUS) + offset;
    return quint64((shifted % qint64(PTS_MODULUS) + qint64(PTS_MODULUS)) % qint64(PTS_MODULUS));
}

QByteArray tsstamp::nextPacket()
{
    QByteArray packet(PKT_SIZE, Qt::Uninitialized);
    const int n = readPacket(reinterpret_cast<uchar *>(packet.data()));
    packet.truncate(n);
    return packet;
}

int tsstamp::readPacket(uchar *out)
{
    const int n = loop->readPacket(out);
    if (pcrCorrection && n == PKT_SIZE && out[0] == tspacket::SYNC_BYTE) {
        clockStage(out);
        timestampStage(out);
    }
    ++packetCount;
    return n;
}

void tsstamp::clockStage(uchar *p)
{
    if (!tspacket::hasPcr(p) || p[4] < 7)
        return;
    const quint16 pid = tspacket::pid(p);
    const quint64 incoming = tspacket::pcr(p);
    const quint64 position = quint64(PKT_SIZE) * packetCount;
    lastIncomingPcr[pid] = incoming;
    if (!referenceSet[pid]) {
        referencePcr[pid] = incoming;
        referencePosition[pid] = position;
        referenceSet[pid] = true;
    }
    const quint64 newPcr = regeneratedPcr(referencePcr[pid], position - referencePosition[pid], bitrate);
    lastNewPcr[pid] = newPcr;
    writePcr(p, newPcr);
}

void tsstamp::timestampStage(uchar *p)
{
    if (!tspacket::payloadUnitStart(p))
        return;
    const int control = tspacket::adaptationFieldControl(p);
    int h;
    if (control == 1)
        h = 4;
    else if (control == 3)
        h = 5 + p[4];
    else
        return;
    // Start code, stream_id, length, two flag bytes and the header length: nine bytes before the PTS.
    if (h + 9 > PKT_SIZE)
        return;
    if (p[h] != 0 || p[h + 1] != 0 || p[h + 2] != 1)
        return;
    switch (p[h + 3]) {
    case 0xBC:
    case 0xBE:
    case 0xBF:
    case 0xF0:
    case 0xF1:
    case 0xF2:
    case 0xF8:
    case 0xFF:
        return;
    default:
        break;
    }
    const quint16 q = pcrPidOf[tspacket::pid(p)];
    if (q >= tspacket::PID_COUNT)
        return;
    const quint8 flags = p[h + 7];
    if ((flags & 0x80) && h + 14 <= PKT_SIZE) {
        uchar *pts = p + h + 9;
        writeTimestamp(pts, shiftedTimestamp(readTimestamp(pts), lastNewPcr[q], lastIncomingPcr[q]));
    }
    if ((flags & 0xC0) == 0xC0 && h + 19 <= PKT_SIZE) {
        uchar *dts = p + h + 14;
        writeTimestamp(dts, shiftedTimestamp(readTimestamp(dts), lastNewPcr[q], lastIncomingPcr[q]));
    }
}

void tsstamp::setPcrCorrection(bool value)
{
    const std::lock_guard<std::mutex> locker(loop->pipelineLock());
    pcrCorrection = value;
}

void tsstamp::setPcrPidOf(quint16 elementaryPid, quint16 pcrPid)
{
    if (elementaryPid >= tspacket::PID_COUNT)
        return;
    const std::lock_guard<std::mutex> locker(loop->pipelineLock());
    pcrPidOf[elementaryPid] = pcrPid < tspacket::PID_COUNT ? pcrPid : NO_PCR_PID;
}
