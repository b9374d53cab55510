#include "pat_table.h"

#include "psibuffer.h"
#include "tspacket.h"

pat_table::pat_table(QObject *parent)
    : table(parent, tspacket::PID_PAT, 0x00)
{
}

void pat_table::parse()
{
    programs.clear();
    for (const QByteArray &section : qAsConst(sections)) {
        psibuffer buf(section);
        // Entries sit between the 8-byte header and the 4-byte CRC_32; program_number 0 (the NIT
        // entry) is kept like any other.
        const int loopEnd = buf.size() - 4;
        for (int i = 8; i + 4 <= loopEnd; i += 4) {
            pat_entry entry;
            entry.program_number = buf.u16(i);
            entry.PID = buf.u16(i + 2) & 0x1FFF;
            programs.append(entry);
        }
    }
}
