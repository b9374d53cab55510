#pragma once
// Feeds transport packets to the PAT, PMTs, NIT and SDT until each has its first section, then
// joins them into the program list. Built per file analysis; used by the scanning thread only.

#include "program_info.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <bitset>

class pat_table;
class pmt_table;
class nit_table;
class sdt_table;

class tsparser : public QObject
{
    Q_OBJECT
public:
    explicit tsparser(QObject *parent = nullptr);

    void parse(const QByteArray &packet);
    void parse(const uchar *packet, int size);

    // Builds (and keeps) the program list from the PMTs and the SDT; program 0 is left out.
    QList<program_info> programs();

    // 0 and an empty text until the SDT and the NIT have been decoded.
    quint16 transport_stream_id() const;
    QString network_name() const;

    // True once no table wants more packets: the scan may stop feeding the parser.
    bool complete() const;

    const pat_table *pat() const { return patTable; }
    const QList<pmt_table *> &pmts() const { return pmtTables; }

private:
    pat_table *patTable;
    nit_table *nitTable;
    sdt_table *sdtTable;
    QList<pmt_table *> pmtTables;
    QList<program_info> programList;
    bool patDone = false;
    bool nitDone = false;
    bool sdtDone = false;
    int pmtsPending = 0;
    // PIDs that still carry an undecoded PMT, so other packets skip the PMT list at once.
    std::bitset<8192> pmtPidPending;
};
