#pragma once
// Program map table of one program (ISO/IEC 13818-1, 2.4.4.8). Scan thread only.

#include "es_entry.h"
#include "table.h"

#include <QList>

class pmt_table : public table
{
    Q_OBJECT
public:
    pmt_table(QObject *parent, quint16 pid, quint16 program_number);

    // 3 for a TS_program_map_section of this table's program, else 0 (several programs may share
    // one PMT PID, so a section of another program is not ours).
    int parse();

    quint16 getProgramNumber() const { return programNumber; }
    quint16 getPcrPid() const { return pcrPid; }
    const QList<es_entry> &streams() const { return esList; }

private:
    quint16 programNumber;
    quint16 pcrPid = 0x1FFF;
    QList<es_entry> esList;
};
