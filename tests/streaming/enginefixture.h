#pragma once
// Packet and file builders for the streaming engine tests, on top of the shared byte-by-byte builders
// (tsbuilder.h), so expected values never come from the code under test.

#include "tsbuilder.h"

#include <QFile>
#include <QTemporaryDir>

namespace fixture
{

// Payload-only packet whose first payload bytes carry a serial number, so a test can tell which file
// packet went out; 0xFF elsewhere.
inline QByteArray packet(quint16 pid, quint8 cc, quint32 serial = 0)
{
    const char bytes[] = { char(serial >> 24), char(serial >> 16), char(serial >> 8), char(serial) };
    return tsbuild::packet(pid, false, cc, QByteArray(bytes, 4));
}

// Adaptation-field-only packet, 183 bytes of adaptation field.
inline QByteArray adaptationOnly(quint16 pid, quint8 cc)
{
    QByteArray p = tsbuild::packet(pid, false, cc, {});
    p[3] = char(0x20 | cc);
    return p.replace(4, 2, QByteArray::fromHex("b700"));
}

// The PCR of a packet with one, at bytes 6..11 (ISO/IEC 13818-1, 2.4.3.4), in 27 MHz ticks.
inline quint64 pcrOf(const QByteArray &p)
{
    const auto b = [&](int i) { return quint64(quint8(p[i])); };
    return ((b(6) << 25 | b(7) << 17 | b(8) << 9 | b(9) << 1 | b(10) >> 7)) * 300 + ((b(10) & 1) << 8 | b(11));
}

// Five-byte PES timestamp field with its prefix nibble (ISO/IEC 13818-1, 2.4.3.7).
inline QByteArray timestamp(quint8 prefix, quint64 v)
{
    const char t[] = { char((prefix << 4) | ((v >> 29) & 0x0E) | 1), char(v >> 22), char(((v >> 14) & 0xFE) | 1),
        char(v >> 7), char(((v << 1) & 0xFE) | 1) };
    return QByteArray(t, 5);
}

inline quint64 timestampOf(const QByteArray &p, int at)
{
    const auto b = [&](int i) { return quint64(quint8(p[at + i])); };
    return ((b(0) >> 1) & 7) << 30 | (b(1) << 8 | b(2)) >> 1 << 15 | (b(3) << 8 | b(4)) >> 1;
}

// Payload-only packet starting a video PES with PTS and DTS (header at byte 4, PTS at 13, DTS at 18).
inline QByteArray pesPacket(quint16 pid, quint8 cc, quint64 pts, quint64 dts)
{
    return tsbuild::packet(
        pid, true, cc, QByteArray::fromHex("000001E0000080C00A") + timestamp(3, pts) + timestamp(1, dts));
}

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
}

// N packets of one PID with counters 0, 1, 2 ... (mod 16) and serial numbers 0 .. N-1.
inline QByteArray counterRun(quint16 pid, int count)
{
    QByteArray all;
    for (int i = 0; i < count; ++i)
        all += packet(pid, quint8(i & 0x0F), quint32(i));
    return all;
}

inline quint32 serialOf(const QByteArray &p)
{
    return quint32(quint8(p[4])) << 24 | quint32(quint8(p[5])) << 16 | quint32(quint8(p[6])) << 8 | quint8(p[7]);
}

} // namespace fixture
