#pragma once
// Cuts the sections of the PAT, PMTs, NIT and SDT (actual) out of transport packets, assembles each table
// from its sections and joins them into the program list. Built per file analysis; used by the scanning
// thread only.

#include "program_info.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <memory>

class pat_table;
class pmt_table;
class nit_table;
class sdt_table;
class sectionreader;

class tsparser : public QObject
{
    Q_OBJECT
public:
    explicit tsparser(QObject *parent = nullptr);
    ~tsparser() override;

    void parse(const QByteArray &packet);
    void parse(const uchar *packet, int size);

    // Builds (and keeps) the program list of the latest complete PAT, joined with the PMTs and the SDT;
    // program 0 is left out.
    QList<program_info> programs();

    // The SDT's transport_stream_id, else the PAT's, else 0.
    quint16 transport_stream_id() const;
    // Empty until an NIT of the actual network names it.
    QString network_name() const;

    // True once the PAT, the PMT of every program it lists, the NIT and the SDT are complete: the scan may
    // stop feeding the parser.
    bool complete() const { return allComplete; }

    // Long-syntax sections dropped on the PIDs read because their CRC_32 failed.
    int crc_errors() const;

private:
    void take(quint16 pid, const QByteArray &section);
    void patChanged();
    void readPid(quint16 pid);
    void checkComplete();

    pat_table *patTable;
    nit_table *nitTable;
    sdt_table *sdtTable;
    QList<pmt_table *> pmtTables; // one per program of the PAT, in PAT order, program 0 left out
    QHash<quint16, pmt_table *> pmtByProgram;
    int pmtsPending = 0; // PMTs of pmtTables not complete yet
    QList<program_info> programList;
    // Only the PIDs that carry a wanted table have a reader; other packets cost one look-up.
    std::array<std::unique_ptr<sectionreader>, 8192> readers;
    QList<QByteArray> cut; // sections cut from the packet being parsed
    bool allComplete = false;
};
