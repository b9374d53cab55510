#pragma once
// Cuts the sections out of the transport packets of one PID (ISO/IEC 13818-1, 2.4.4.1 and 2.4.4.2): the tail
// of a section started earlier, then every section that starts in the packet, back to back, until stuffing
// (0xFF) or the end of the payload. Long-syntax sections are checked against their CRC_32 and dropped when it
// fails. Used by the thread that scans the file.

#include <QByteArray>
#include <QList>
#include <QtGlobal>

class sectionreader
{
public:
    // Offers one packet of the reader's PID; the sections that end in it are appended to `sections` in
    // stream order. Reads only the `size` bytes given.
    void feed(const uchar *packet, int size, QList<QByteArray> &sections);

    // Long-syntax sections dropped: CRC_32 mismatch, or too short to hold the header and the CRC.
    int crcErrors() const { return crcErrorCount; }

    // CRC-32/MPEG-2 (polynomial 0x04C11DB7, all-ones start, no reflection, no final xor). Run over a whole
    // section, its own CRC_32 included, it gives 0 (Annex B).
    static quint32 crc32(const uchar *data, int size);

private:
    // Adds bytes of [from, end) to the section being collected; returns where it stopped, which is `end`
    // unless the section completed first.
    const uchar *collect(const uchar *from, const uchar *end, QList<QByteArray> &sections);
    void finish(QList<QByteArray> &sections);

    QByteArray partial; // the section being collected, from its table_id on
    int expected = 0; // its total length, known once section_length is in; 0 before
    int lastCc = -1; // continuity_counter of the last packet with payload, -1 before the first
    int crcErrorCount = 0;
};
