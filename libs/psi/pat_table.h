#pragma once
// Program association table on PID 0 (ISO/IEC 13818-1, 2.4.4.3). Scan thread only.

#include "table.h"

#include <QList>

struct pat_entry {
    quint16 program_number = 0;
    quint16 PID = 0;
};

class pat_table : public table
{
    Q_OBJECT
public:
    explicit pat_table(QObject *parent);

    // Decodes the version held: the entries of all its sections in section order.
    void parse();
    const QList<pat_entry> &entries() const { return programs; }

private:
    QList<pat_entry> programs;
};
