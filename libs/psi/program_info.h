#pragma once
// One analysed program: what its PMT says, joined with its SDT service. A plain value, built by
// tsparser::programs() after the scan and copied freely.

#include "es_entry.h"

#include <QList>
#include <QString>

struct program_info {
    quint16 PMT_PID = 0;
    // 0x1FFF: no PCR, or the program's PMT never arrived.
    quint16 PCR_PID = 0x1FFF;
    quint16 program_number = 0;
    // free_CA_mode of the SDT service; non-zero means scrambled.
    quint8 free_CA_mode = 0;
    QString provider_name;
    QString service_name;
    QList<es_entry> es_list;
};
