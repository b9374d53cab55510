#include "pmt_table.h"

#include "psibuffer.h"

pmt_table::pmt_table(QObject *parent, quint16 pid, quint16 program_number)
    : table(parent, pid)
    , programNumber(program_number)
{
}

int pmt_table::parse()
{
    esList.clear();
    psibuffer buf(section);
    if (buf.u8(0) != 0x02 || buf.u16(3) != programNumber || buf.error())
        return 0;
    pcrPid = buf.u16(8) & 0x1FFF;
    const int programInfoLength = buf.u16(10) & 0x0FFF;
    // The stream loop ends where the CRC_32 begins; an entry whose lengths run past it ends the walk.
    const int loopEnd = qMin(int(section_length) - 1, buf.size());
    int i = 12 + programInfoLength;
    while (i + 5 <= loopEnd) {
        es_entry entry;
        entry.stream_type = buf.u8(i);
        entry.elementary_PID = buf.u16(i + 1) & 0x1FFF;
        const int esInfoLength = buf.u16(i + 3) & 0x0FFF;
        if (i + 5 + esInfoLength > loopEnd)
            break;
        entry.first_descriptor_tag = esInfoLength ? buf.u8(i + 5) : 255;
        if (buf.error())
            break;
        esList.append(entry);
        i += 5 + esInfoLength;
    }
    return 3;
}
