#include "pat_table.h"

#include "psibuffer.h"
#include "tspacket.h"

pat_table::pat_table(QObject *parent)
    : table(parent, tspacket::PID_PAT)
{
}

int pat_table::parse()
{
    programs.clear();
    if (section.isEmpty() || quint8(section.at(0)) != 0x00)
        return 0;
    psibuffer buf(section);
    // Entries sit between the 8-byte header and the 4-byte CRC_32; program_number 0 (the NIT
    // entry) is kept like any other.
    const int loopEnd = int(section_length) - 1;
    for (int i = 8; i + 4 <= loopEnd; i += 4) {
        pat_entry entry;
        entry.program_number = buf.u16(i);
        entry.PID = buf.u16(i + 2) & 0x1FFF;
        if (buf.error())
            break;
        programs.append(entry);
    }
    return 3;
}
