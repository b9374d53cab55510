#include "pmt_table.h"

#include "psibuffer.h"

pmt_table::pmt_table(QObject *parent, quint16 pid, quint16 program_number)
    : table(parent, pid, 0x02)
    , programNumber(program_number)
{
}

void pmt_table::parse()
{
    esList.clear();
    pcrPid = 0x1FFF;
    for (const QByteArray &section : qAsConst(sections)) {
        psibuffer buf(section);
        pcrPid = buf.u16(8) & 0x1FFF;
        const int programInfoLength = buf.u16(10) & 0x0FFF;
        // The stream loop ends where the CRC_32 begins; an entry whose lengths run past it ends the walk.
        const int loopEnd = buf.size() - 4;
        int i = 12 + programInfoLength;
        while (i + 5 <= loopEnd) {
            es_entry entry;
            entry.stream_type = buf.u8(i);
            entry.elementary_PID = buf.u16(i + 1) & 0x1FFF;
            const int esInfoLength = buf.u16(i + 3) & 0x0FFF;
            const int descriptorsEnd = i + 5 + esInfoLength;
            if (descriptorsEnd > loopEnd)
                break;
            entry.first_descriptor_tag = esInfoLength ? buf.u8(i + 5) : 255;
            for (int j = i + 5; j + 2 <= descriptorsEnd; j += 2 + buf.u8(j + 1))
                entry.descriptor_tags.append(buf.u8(j));
            esList.append(entry);
            i = descriptorsEnd;
        }
    }
}
