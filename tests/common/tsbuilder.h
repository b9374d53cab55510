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

// A 16-bit field, most significant byte first.
inline QByteArray be16(int value)
{
    return QByteArray(1, char(value >> 8)) + char(value & 0xFF);
}

// A long-form section: table_id, section_length (syntax indicator and reserved bits set), table_id_extension,
// version 0, current, section 0 of 0, the body, CRC_32.
inline QByteArray section(quint8 tableId, quint16 extension, const QByteArray &body)
{
    const QByteArray s
        = char(tableId) + be16(0xB000 | (5 + body.size() + 4)) + be16(extension) + QByteArray::fromHex("c10000") + body;
    const quint32 crc = crc32(s);
    return s + be16(int(crc >> 16)) + be16(int(crc & 0xFFFF));
}

// A built section with its CRC_32 computed again, after bytes of it were changed.
inline QByteArray recrc(QByteArray section)
{
    section.chop(4);
    const quint32 crc = crc32(section);
    return section + be16(int(crc >> 16)) + be16(int(crc & 0xFFFF));
}

// A built section with one byte changed and a CRC_32 that matches again.
inline QByteArray patched(QByteArray section, int offset, quint8 value)
{
    section[offset] = char(value);
    return recrc(section);
}

// A built section given version_number, section_number and last_section_number (current_next_indicator 1).
inline QByteArray numbered(QByteArray section, int version, int number, int last)
{
    section[5] = char(0xC1 | (version & 0x1F) << 1);
    section[6] = char(number);
    section[7] = char(last);
    return recrc(section);
}

inline QByteArray patSection(quint16 tsid, const QList<QPair<quint16, quint16>> &programs)
{
    QByteArray body;
    for (const auto &p : programs)
        body += be16(p.first) + be16(0xE000 | p.second);
    return section(0x00, tsid, body);
}

struct stream {
    quint8 type;
    quint16 pid;
    QByteArray descriptors;
};

inline QByteArray pmtSection(quint16 program, quint16 pcrPid, const QList<stream> &streams)
{
    QByteArray body = be16(0xE000 | pcrPid) + be16(0xF000); // program_info_length 0
    for (const stream &s : streams)
        body += char(s.type) + be16(0xE000 | s.pid) + be16(0xF000 | s.descriptors.size()) + s.descriptors;
    return section(0x02, program, body);
}

inline QByteArray descriptor(quint8 tag, const QByteArray &data)
{
    return char(tag) + QByteArray(1, char(data.size())) + data;
}

// The network descriptors, then an empty transport stream loop.
inline QByteArray nitSection(quint8 tableId, quint16 networkId, const QByteArray &networkDescriptors)
{
    const QByteArray body = be16(0xF000 | networkDescriptors.size()) + networkDescriptors + be16(0xF000);
    return section(tableId, networkId, body);
}

struct service {
    quint16 id;
    bool scrambled;
    QByteArray provider;
    QByteArray name;
};

// original_network_id 1; each service running, with one service descriptor (type 1).
inline QByteArray sdtSection(quint8 tableId, quint16 tsid, const QList<service> &services)
{
    QByteArray body = be16(0x0001) + char(0xFF);
    for (const service &s : services) {
        const QByteArray loop = descriptor(
            0x48, QByteArray(1, char(0x01)) + char(s.provider.size()) + s.provider + char(s.name.size()) + s.name);
        body += be16(s.id) + char(0xFC) + be16(0x8000 | (s.scrambled ? 0x1000 : 0) | loop.size()) + loop;
    }
    return section(tableId, tsid, body);
}

// One packet: header with payload only, payload padded with 0xFF stuffing.
inline QByteArray packet(quint16 pid, bool pusi, int cc, const QByteArray &payload)
{
    const QByteArray p = char(0x47) + be16((pusi ? 0x4000 : 0) | pid) + char(0x10 | (cc & 0x0F)) + payload.left(184);
    return p + QByteArray(188 - p.size(), char(0xFF));
}

// A section (or several back to back) split into packets; pointer field 0.
inline QList<QByteArray> packetize(quint16 pid, const QByteArray &sections, int firstCc = 0)
{
    QList<QByteArray> packets;
    const QByteArray all = QByteArray(1, char(0)) + sections;
    for (int at = 0; at < all.size(); at += 184)
        packets.append(packet(pid, at == 0, firstCc + at / 184, all.mid(at, 184)));
    return packets;
}

// Sections back to back split into packets as a multiplexer must: payload_unit_start_indicator set on every
// packet where a section starts, its pointer field giving the first start.
inline QList<QByteArray> packetizeSections(quint16 pid, const QList<QByteArray> &sections, int firstCc = 0)
{
    QByteArray all;
    QList<int> starts;
    for (const QByteArray &s : sections) {
        starts.append(all.size());
        all += s;
    }
    QList<QByteArray> packets;
    for (int at = 0; at < all.size();) {
        int first = -1;
        for (const int s : starts) {
            if (s >= at && s <= at + 183) {
                first = s;
                break;
            }
        }
        const int cc = firstCc + packets.size();
        // A start at the last byte needs a pointer field there is no room for: stuffing, then the next packet.
        const int length = first < 0 ? 184 : 183;
        const bool pusi = first >= 0 && first < at + 183;
        packets.append(packet(pid, pusi, cc, pusi ? char(first - at) + all.mid(at, length) : all.mid(at, length)));
        at += length;
    }
    return packets;
}

// An adaptation-field-only packet carrying a PCR (value in 27 MHz ticks).
inline QByteArray pcrPacket(quint16 pid, quint64 pcr, bool discontinuity = false)
{
    QByteArray p = packet(pid, false, 0, QByteArray());
    p[3] = 0x20; // adaptation field only
    p[4] = char(183);
    p[5] = char(0x10 | (discontinuity ? 0x80 : 0)); // PCR flag
    // 33-bit base, 6 reserved bits, 9-bit extension.
    const quint64 field = (pcr / 300) << 15 | 0x7E00 | pcr % 300;
    for (int i = 0; i < 6; ++i)
        p[6 + i] = char(field >> (40 - 8 * i));
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
