#include "sectionreader.h"

#include "psilog.h"
#include "tspacket.h"

namespace
{
constexpr int SECTION_HEADER = 3; // table_id and the 12-bit section_length (2.4.4.3)
constexpr int LONG_HEADER = 8; // up to last_section_number
constexpr int CRC_SIZE = 4;
constexpr uchar STUFFING = 0xFF; // a table_id of 0xFF: the rest of the payload is stuffing

struct crcTable {
    quint32 value[256] {};
    constexpr crcTable()
    {
        for (quint32 byte = 0; byte < 256; ++byte) {
            quint32 crc = byte << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
            value[byte] = crc;
        }
    }
};
constexpr crcTable CRC_TABLE;
} // namespace

quint32 sectionreader::crc32(const uchar *data, int size)
{
    quint32 crc = 0xFFFFFFFF;
    for (int i = 0; i < size; ++i)
        crc = (crc << 8) ^ CRC_TABLE.value[(crc >> 24) ^ data[i]];
    return crc;
}

void sectionreader::feed(const uchar *p, int size, QList<QByteArray> &sections)
{
    if (size < 4)
        return;
    // transport_error_indicator: the packet is known to be damaged, and so is any section it continues.
    if (p[1] & 0x80) {
        partial.clear();
        lastCc = -1;
        return;
    }
    const int afc = tspacket::adaptationFieldControl(p);
    if (afc == 0) {
        qCDebug(lcPsiSection) << "Invalid adaptation field";
        return;
    }
    if (afc == 2) // no payload, and the continuity counter does not move (2.4.3.3)
        return;
    int payload = 4;
    if (afc == 3) {
        if (size < 5)
            return;
        payload = 5 + p[4];
    }
    if (payload >= size)
        return;

    const int cc = tspacket::continuityCounter(p);
    const bool duplicate = cc == lastCc;
    const bool continuous = lastCc >= 0 && cc == ((lastCc + 1) & 0x0F);
    lastCc = cc;
    const uchar *end = p + size;

    const uchar *at;
    if (!tspacket::payloadUnitStart(p)) {
        // A repeated packet would add its bytes twice; after a lost one the section has a hole.
        if (partial.isEmpty() || duplicate)
            return;
        if (!continuous) {
            partial.clear();
            return;
        }
        at = collect(p + payload, end, sections);
    } else {
        if (payload + 2 < size && p[payload] == 0 && p[payload + 1] == 0 && p[payload + 2] == 1) {
            partial.clear(); // a PES start, not a section
            return;
        }
        const uchar *start = p + payload + 1 + p[payload];
        if (start > end) {
            qCDebug(lcPsiSection) << "parse_section : pointer field exceeds max value, its value = "
                                  << int(start - p) - 1;
            partial.clear();
            return;
        }
        // The bytes before the first new section are the tail of the one being collected.
        if (!partial.isEmpty()) {
            if (continuous)
                collect(p + payload + 1, start, sections);
            partial.clear(); // still unfinished where the next section starts: broken
        }
        at = start;
    }
    // Sections follow back to back until stuffing. A section that starts in a packet without
    // payload_unit_start_indicator breaks the rule for multiplexers but is still a section.
    while (at < end && *at != STUFFING)
        at = collect(at, end, sections);
}

const uchar *sectionreader::collect(const uchar *from, const uchar *end, QList<QByteArray> &sections)
{
    if (partial.size() < SECTION_HEADER) {
        const int take = int(qMin<qint64>(SECTION_HEADER - partial.size(), end - from));
        partial.append(reinterpret_cast<const char *>(from), take);
        from += take;
        if (partial.size() < SECTION_HEADER)
            return from;
        expected = SECTION_HEADER + (((quint8(partial.at(1)) & 0x0F) << 8) | quint8(partial.at(2)));
    }
    const int take = int(qMin<qint64>(expected - partial.size(), end - from));
    partial.append(reinterpret_cast<const char *>(from), take);
    from += take;
    if (partial.size() == expected)
        finish(sections);
    return from;
}

void sectionreader::finish(QList<QByteArray> &sections)
{
    const uchar *data = reinterpret_cast<const uchar *>(partial.constData());
    // section_syntax_indicator: the long form, which ends with a CRC_32.
    if ((data[1] & 0x80) && (partial.size() < LONG_HEADER + CRC_SIZE || crc32(data, partial.size()) != 0)) {
        ++crcErrorCount;
        qCDebug(lcPsiSection) << "CRC_32 error in a section of table_id" << data[0] << "and" << partial.size()
                              << "bytes";
    } else {
        sections.append(partial);
    }
    partial.clear();
}
