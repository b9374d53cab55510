#include "tsparser.h"

#include "nit_table.h"
#include "pat_table.h"
#include "pmt_table.h"
#include "sdt_table.h"
#include "sectionreader.h"
#include "tspacket.h"

tsparser::tsparser(QObject *parent)
    : QObject(parent)
    , patTable(new pat_table(this))
    , nitTable(new nit_table(this))
    , sdtTable(new sdt_table(this))
{
    readPid(tspacket::PID_PAT);
    readPid(tspacket::PID_NIT);
    readPid(tspacket::PID_SDT);
}

tsparser::~tsparser() = default;

void tsparser::readPid(quint16 pid)
{
    if (!readers[pid])
        readers[pid] = std::make_unique<sectionreader>();
}

void tsparser::parse(const QByteArray &packet)
{
    parse(reinterpret_cast<const uchar *>(packet.constData()), packet.size());
}

void tsparser::parse(const uchar *packet, int size)
{
    if (size < 4)
        return;
    const quint16 pid = tspacket::pid(packet);
    sectionreader *reader = readers[pid].get();
    if (!reader)
        return;
    reader->feed(packet, size, cut);
    if (cut.isEmpty())
        return;
    for (const QByteArray &section : qAsConst(cut))
        take(pid, section);
    cut.clear();
}

void tsparser::take(quint16 pid, const QByteArray &section)
{
    // Every section that is not the one a table expects (an NIT or SDT of another network or stream, a
    // bouquet, the PMT of a program not in the PAT) goes nowhere.
    const quint8 tableId = quint8(section.at(0));
    if (pid == tspacket::PID_PAT && tableId == patTable->getTableId()) {
        if (patTable->add_section(section)) {
            patTable->parse();
            patChanged();
        }
    } else if (pid == tspacket::PID_NIT && tableId == nitTable->getTableId()) {
        if (nitTable->add_section(section))
            nitTable->parse();
    } else if (pid == tspacket::PID_SDT && tableId == sdtTable->getTableId()) {
        if (sdtTable->add_section(section))
            sdtTable->parse();
    }
    // A PMT PID may equal another table's (a hand-made or broken PAT), so it is looked at apart.
    if (tableId == 0x02 && section.size() >= 5) {
        const quint16 program = quint16((quint8(section.at(3)) << 8) | quint8(section.at(4)));
        pmt_table *pmt = pmtByProgram.value(program);
        if (pmt && pmt->getPid() == pid) {
            const bool first = !pmt->isComplete();
            if (pmt->add_section(section)) {
                pmt->parse();
                pmtsPending -= first ? 1 : 0;
            }
        }
    }
    checkComplete();
}

void tsparser::patChanged()
{
    // A program that keeps its PMT PID keeps what its PMT already gave.
    QHash<quint16, pmt_table *> previous;
    previous.swap(pmtByProgram);
    pmtTables.clear();
    pmtsPending = 0;
    for (const pat_entry &entry : patTable->entries()) {
        // Program 0 points at the network PID, not at a PMT; a program listed twice keeps its first PID.
        if (entry.program_number == 0 || pmtByProgram.contains(entry.program_number))
            continue;
        pmt_table *pmt = previous.take(entry.program_number);
        if (pmt && pmt->getPid() != entry.PID) {
            delete pmt;
            pmt = nullptr;
        }
        if (!pmt)
            pmt = new pmt_table(this, entry.PID, entry.program_number);
        pmtByProgram.insert(entry.program_number, pmt);
        pmtTables.append(pmt);
        pmtsPending += pmt->isComplete() ? 0 : 1;
        readPid(entry.PID);
    }
    qDeleteAll(previous);
}

void tsparser::checkComplete()
{
    allComplete = patTable->isComplete() && pmtsPending == 0 && nitTable->isComplete() && sdtTable->isComplete();
}

int tsparser::crc_errors() const
{
    int errors = 0;
    for (const auto &reader : readers) {
        if (reader)
            errors += reader->crcErrors();
    }
    return errors;
}

QList<program_info> tsparser::programs()
{
    programList.clear();
    for (const pmt_table *pmt : qAsConst(pmtTables)) {
        program_info info;
        info.PMT_PID = pmt->getPid();
        info.PCR_PID = pmt->getPcrPid();
        info.program_number = pmt->getProgramNumber();
        info.es_list = pmt->streams();
        for (const sdt_service &service : sdtTable->services()) {
            if (service.service_id == info.program_number) {
                info.free_CA_mode = service.free_CA_mode;
                info.provider_name = service.provider_name;
                info.service_name = service.service_name;
                break;
            }
        }
        programList.append(info);
    }
    return programList;
}

quint16 tsparser::transport_stream_id() const
{
    if (sdtTable->isComplete())
        return sdtTable->getTransportStreamId();
    return patTable->isComplete() ? patTable->getExtension() : 0;
}

QString tsparser::network_name() const
{
    return nitTable->getNetworkName();
}
