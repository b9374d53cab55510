#pragma once
// Packet and file builders for the streaming engine tests: every byte laid out by hand from the
// transport stream syntax, so expected values never come from the code under test.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace fixture
{

// A 188-byte packet of 0xFF with its header: PID, adaptation_field_control and continuity counter.
inline QByteArray header(quint16 pid, quint8 control, quint8 cc)
{
    QByteArray p(188, char(0xFF));
    p[0] = 0x47;
    p[1] = char((pid >> 8) & 0x1F);
    p[2] = char(pid & 0xFF);
    p[3] = char(control << 4 | (cc & 0x0F));
    return p;
}

// Payload-only packet with the given PID and continuity counter; the payload bytes carry the packet's
// serial number so a test can tell which file packet went out.
inline QByteArray packet(quint16 pid, quint8 cc, quint32 serial = 0)
{
    QByteArray p = header(pid, 1, cc);
    for (int i = 0; i < 4; ++i)
        p[4 + i] = char(serial >> (24 - 8 * i));
    return p;
}

// Adaptation-field-only packet, 183 bytes of adaptation field.
inline QByteArray adaptationOnly(quint16 pid, quint8 cc)
{
    return header(pid, 2, cc).replace(4, 2, QByteArray::fromHex("b700"));
}

// Packet with a PCR (adaptation field of 7 bytes, then payload); the value in 27 MHz ticks.
inline QByteArray pcrPacket(quint16 pid, quint8 cc, quint64 ticks)
{
    const quint64 base = ticks / 300;
    const quint64 extension = ticks % 300;
    QByteArray p = header(pid, 3, cc);
    p[4] = 7;
    p[5] = 0x10;
    for (int i = 0; i < 4; ++i)
        p[6 + i] = char(base >> (25 - 8 * i));
    p[10] = char(((base & 1) << 7) | 0x7E | (extension >> 8));
    p[11] = char(extension & 0xFF);
    return p;
}

inline quint64 pcrOf(const QByteArray &p)
{
    const auto b = [&](int i) { return quint64(quint8(p[i])); };
    return ((b(6) << 25 | b(7) << 17 | b(8) << 9 | b(9) << 1 | b(10) >> 7)) * 300 + ((b(10) & 1) << 8 | b(11));
}

// Five-byte PES timestamp field with its prefix nibble (ISO/IEC 13818-1, 2.4.3.7).
inline QByteArray timestamp(quint8 prefix, quint64 v)
{
    QByteArray t(5, 0);
    t[0] = char((prefix << 4) | ((v >> 29) & 0x0E) | 1);
    t[1] = char(v >> 22);
    t[2] = char(((v >> 14) & 0xFE) | 1);
    t[3] = char(v >> 7);
    t[4] = char(((v << 1) & 0xFE) | 1);
    return t;
}

inline quint64 timestampOf(const QByteArray &p, int at)
{
    const auto b = [&](int i) { return quint64(quint8(p[at + i])); };
    return ((b(0) >> 1) & 7) << 30 | (b(1) << 8 | b(2)) >> 1 << 15 | (b(3) << 8 | b(4)) >> 1;
}

// Payload-only packet starting a video PES with PTS and DTS (header at byte 4, PTS at 13, DTS at 18).
inline QByteArray pesPacket(quint16 pid, quint8 cc, quint64 pts, quint64 dts)
{
    QByteArray p = packet(pid, cc);
    p[1] = char(p[1] | 0x40);
    const QByteArray header = QByteArray::fromHex("000001E00000"
                                                  "80C00A");
    p.replace(4, header.size(), header);
    p.replace(13, 5, timestamp(3, pts));
    p.replace(18, 5, timestamp(1, dts));
    return p;
}

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
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
