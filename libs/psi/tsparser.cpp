#include "tsparser.h"

#include "nit_table.h"
#include "pat_table.h"
#include "pmt_table.h"
#include "sdt_table.h"
#include "tspacket.h"

tsparser::tsparser(QObject *parent)
    : QObject(parent)
    , patTable(new pat_table(this))
    , nitTable(new nit_table(this))
    , sdtTable(new sdt_table(this))
{
}

void tsparser::parse(const QByteArray &packet)
{
    parse(reinterpret_cast<const uchar *>(packet.constData()), packet.size());
}

void tsparser::parse(const uchar *packet, int size)
{
    if (size < 4 || complete())
        return;
    const quint16 pid = tspacket::pid(packet);

    if (!patDone && pid == tspacket::PID_PAT && patTable->get_section(packet, size) == table::section_complete) {
        if (patTable->parse() == 3) {
            patDone = true;
            for (const pat_entry &entry : patTable->entries()) {
                pmtTables.append(new pmt_table(this, entry.PID, entry.program_number));
                // Program 0 points at the NIT, not at a PMT: its table is never fed.
                if (entry.program_number != 0) {
                    ++pmtsPending;
                    pmtPidPending.set(entry.PID);
                }
            }
        } else {
            patTable->reset();
        }
    }

    // Every section that is not the one a table expects (an NIT or SDT of another network or
    // stream, the PMT of another program sharing the PID) is skipped and the next one tried.
    if (pmtPidPending.test(pid)) {
        bool pidPending = false;
        for (pmt_table *pmt : qAsConst(pmtTables)) {
            if (pmt->getPid() != pid || pmt->getProgramNumber() == 0 || pmt->getStatus() == table::section_complete)
                continue;
            if (pmt->get_section(packet, size) == table::section_complete) {
                if (pmt->parse() == 3) {
                    --pmtsPending;
                    continue;
                }
                pmt->reset();
            }
            pidPending = true;
        }
        if (!pidPending)
            pmtPidPending.reset(pid);
    }

    if (!nitDone && pid == tspacket::PID_NIT && nitTable->get_section(packet, size) == table::section_complete) {
        if (nitTable->parse() == 3)
            nitDone = true;
        else
            nitTable->reset();
    }

    if (!sdtDone && pid == tspacket::PID_SDT && sdtTable->get_section(packet, size) == table::section_complete) {
        if (sdtTable->parse() == 3)
            sdtDone = true;
        else
            sdtTable->reset();
    }
}

bool tsparser::complete() const
{
    return patDone && pmtsPending == 0 && nitDone && sdtDone;
}

QList<program_info> tsparser::programs()
{
    programList.clear();
    for (const pmt_table *pmt : qAsConst(pmtTables)) {
        if (pmt->getProgramNumber() == 0)
            continue;
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
    return sdtDone ? sdtTable->getTransportStreamId() : 0;
}

QString tsparser::network_name() const
{
    return nitDone ? nitTable->getNetworkName() : QString();
}
