#pragma once
// Builds transport packets and PSI sections byte by byte for the tests, following the field layouts
// of ISO/IEC 13818-1 and ETSI EN 300 468 independently of the code under test.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtGlobal>

namespace tsbuild
{

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial value all ones, no reflection, no final xor.
inline quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= quint32(quint8(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

inline void put16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xFF));
}

// A long-form section: table_id, section_length, table_id_extension, version 0, current, section
// 0 of 0, the body, CRC_32.
inline QByteArray section(quint8 tableId, quint16 extension, const QByteArray &body)
{
    QByteArray s;
    s.append(char(tableId));
    put16(s, quint16(0xB000 | (5 + body.size() + 4))); // syntax indicator, reserved bits
    put16(s, extension);
    s.append(char(0xC1));
    s.append(char(0));
    s.append(char(0));
    s.append(body);
    const quint32 crc = crc32(s);
    put16(s, quint16(crc >> 16));
    put16(s, quint16(crc & 0xFFFF));
    return s;
}

inline QByteArray patSection(quint16 tsid, const QList<QPair<quint16, quint16>> &programs)
{
    QByteArray body;
    for (const auto &p : programs) {
        put16(body, p.first);
        put16(body, quint16(0xE000 | p.second));
    }
    return section(0x00, tsid, body);
}

struct stream {
    quint8 type;
    quint16 pid;
    QByteArray descriptors;
};

inline QByteArray pmtSection(quint16 program, quint16 pcrPid, const QList<stream> &streams)
{
    QByteArray body;
    put16(body, quint16(0xE000 | pcrPid));
    put16(body, 0xF000); // program_info_length 0
    for (const stream &s : streams) {
        body.append(char(s.type));
        put16(body, quint16(0xE000 | s.pid));
        put16(body, quint16(0xF000 | s.descriptors.size()));
        body.append(s.descriptors);
    }
    return section(0x02, program, body);
}

inline QByteArray descriptor(quint8 tag, const QByteArray &data)
{
    return char(tag) + QByteArray(1, char(data.size())) + data;
}

inline QByteArray nitSection(quint8 tableId, quint16 networkId, const QByteArray &networkDescriptors)
{
    QByteArray body;
    put16(body, quint16(0xF000 | networkDescriptors.size()));
    body.append(networkDescriptors);
    put16(body, 0xF000); // empty transport stream loop
    return section(tableId, networkId, body);
}

struct service {
    quint16 id;
    bool scrambled;
    QByteArray provider;
    QByteArray name;
};

inline QByteArray sdtSection(quint8 tableId, quint16 tsid, const QList<service> &services)
{
    QByteArray body;
    put16(body, 0x0001); // original_network_id
    body.append(char(0xFF));
    for (const service &s : services) {
        const QByteArray data
            = QByteArray(1, char(0x01)) + char(s.provider.size()) + s.provider + char(s.name.size()) + s.name;
        const QByteArray loop = descriptor(0x48, data);
        put16(body, s.id);
        body.append(char(0xFC));
        put16(body, quint16(0x8000 | (s.scrambled ? 0x1000 : 0) | loop.size())); // running, free_CA_mode
        body.append(loop);
    }
    return section(tableId, tsid, body);
}

// One packet: header with payload only, payload padded with 0xFF stuffing.
inline QByteArray packet(quint16 pid, bool pusi, int cc, const QByteArray &payload)
{
    QByteArray p;
    p.append(char(0x47));
    p.append(char((pusi ? 0x40 : 0) | (pid >> 8)));
    p.append(char(pid & 0xFF));
    p.append(char(0x10 | (cc & 0x0F)));
    p.append(payload.left(184));
    p.append(QByteArray(188 - p.size(), char(0xFF)));
    return p;
}

// A section (or several back to back) split into packets; pointer field 0.
inline QList<QByteArray> packetize(quint16 pid, const QByteArray &sections, int firstCc = 0)
{
    QList<QByteArray> packets;
    QByteArray rest = QByteArray(1, char(0)) + sections;
    int cc = firstCc;
    bool first = true;
    while (!rest.isEmpty()) {
        packets.append(packet(pid, first, cc++, rest.left(184)));
        rest.remove(0, 184);
        first = false;
    }
    return packets;
}

// An adaptation-field-only packet carrying a PCR (value in 27 MHz ticks).
inline QByteArray pcrPacket(quint16 pid, quint64 pcr, bool discontinuity = false)
{
    const quint64 base = pcr / 300;
    const quint64 ext = pcr % 300;
    QByteArray p;
    p.append(char(0x47));
    p.append(char(pid >> 8));
    p.append(char(pid & 0xFF));
    p.append(char(0x20)); // adaptation field only
    p.append(char(183));
    p.append(char(0x10 | (discontinuity ? 0x80 : 0)));
    p.append(char(base >> 25));
    p.append(char(base >> 17));
    p.append(char(base >> 9));
    p.append(char(base >> 1));
    p.append(char(((base & 1) << 7) | 0x7E | (ext >> 8)));
    p.append(char(ext & 0xFF));
    p.append(QByteArray(188 - p.size(), char(0xFF)));
    return p;
}

inline QByteArray join(const QList<QByteArray> &packets)
{
    QByteArray all;
    for (const QByteArray &p : packets)
        all.append(p);
    return all;
}

} // namespace tsbuild
