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

    // Decodes the version held. Several programs may share one PMT PID: only sections whose
    // table_id_extension is this program's number are to be offered.
    void parse();

    quint16 getProgramNumber() const { return programNumber; }
    quint16 getPcrPid() const { return pcrPid; }
    const QList<es_entry> &streams() const { return esList; }

private:
    quint16 programNumber;
    quint16 pcrPid = 0x1FFF;
    QList<es_entry> esList;
};
