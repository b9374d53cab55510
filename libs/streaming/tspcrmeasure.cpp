#include "tspcrmeasure.h"

#include "streaminglog.h"
#include "tspacket.h"
#include "tsparser.h"

#include <limits>

namespace
{
constexpr quint64 NO_PCR = std::numeric_limits<quint64>::max();
// Packets read per file access: large reads keep the scan disk-bound rather than call-bound.
constexpr int PACKETS_PER_READ = 4096;
// Bytes from the packet start to the last byte of the PCR field: the PCR's own position.
constexpr quint64 PCR_BYTE_OFFSET = 10;
} // namespace

tspcrmeasure::tspcrmeasure(QObject *parent, const QString &fileName)
    : QObject(parent)
    , file(new QFile(fileName))
{
    if (file->open(QIODevice::ReadOnly)) {
        resetScan();
    } else {
        qCDebug(lcStreaming) << "cannot open" << fileName << file->errorString();
    }
}

tspcrmeasure::~tspcrmeasure()
{
    delete parser;
    if (file->isOpen())
        file->close();
    delete file;
}

bool tspcrmeasure::isOpen() const
{
    return file->isOpen();
}

QString tspcrmeasure::openError() const
{
    return file->isOpen() ? QString() : file->errorString();
}

qint64 tspcrmeasure::getFileSize() const
{
    return file->isOpen() ? file->size() : 0;
}

void tspcrmeasure::resetScan()
{
    lastPcr.fill(NO_PCR);
    lastPcrPosition.fill(0);
    pidIndex.fill(-1);
    pidList.clear();
    pidPacketCounts.clear();
    packetCount = 0;
    psiPacketCount = 0;
    samplesCollected = 0;
    samplesUsed = 0;
    discontinuities = 0;
    sampleSum = 0.0;
    delete parser;
    parser = new tsparser(nullptr);
}

QString tspcrmeasure::noGridMessage(const QString &fileName, qint64 fileSize)
{
    return QStringLiteral("no transport stream packet grid in the first %1 bytes of %2")
        .arg(qMin(fileSize, SYNC_SEARCH_LIMIT))
        .arg(fileName);
}

qint64 tspcrmeasure::findSync()
{
    if (!file->isOpen())
        return -1;
    using tspacket::PKT_SIZE;
    const qint64 fileSize = file->size();
    file->seek(0);
    // Everything a candidate below the limit can need: itself and three packets further on.
    const QByteArray head = file->read(SYNC_SEARCH_LIMIT + 3 * PKT_SIZE + 1);
    const uchar *data = reinterpret_cast<const uchar *>(head.constData());
    const qint64 available = head.size();
    const qint64 lastCandidate = qMin(SYNC_SEARCH_LIMIT, available);
    for (qint64 x = 0; x < lastCandidate; ++x) {
        if (data[x] != tspacket::SYNC_BYTE)
            continue;
        int checked = 0;
        bool grid = true;
        for (int k = 1; k <= 3 && grid; ++k) {
            const qint64 at = x + k * PKT_SIZE;
            if (at >= available)
                break;
            grid = data[at] == tspacket::SYNC_BYTE;
            ++checked;
        }
        if (grid && checked > 0) {
            syncOffset = x;
            file->seek(x);
            return x;
        }
    }
    qCDebug(lcStreaming) << "no packet grid in the first" << qMin(fileSize, SYNC_SEARCH_LIMIT) << "bytes";
    file->seek(0);
    return -1;
}

qint64 tspcrmeasure::measureBitrate()
{
    if (!file->isOpen())
        return measuredBitrate;
    if (syncOffset < 0 && findSync() < 0) {
        measuredBitrate = -1;
        return -1;
    }
    resetScan();
    file->seek(syncOffset);

    using tspacket::PKT_SIZE;
    QByteArray block(PKT_SIZE * PACKETS_PER_READ, Qt::Uninitialized);
    bool scanning = true;
    quint64 psiLimit = 0; // packets from the file start, once the PCR scan has ended
    bool done = false;
    while (!done) {
        const qint64 got = file->read(block.data(), block.size());
        if (got <= 0)
            break;
        const uchar *data = reinterpret_cast<const uchar *>(block.constData());
        const int packets = int(got / PKT_SIZE);
        for (int i = 0; i < packets; ++i) {
            const uchar *packet = data + i * PKT_SIZE;
            if (scanning && sampleLimit > 0 && samplesCollected >= sampleLimit) {
                scanning = false;
                psiLimit = psiSearchPackets();
            }
            if (scanning) {
                processPacket(packet);
                continue;
            }
            if (parser->complete() || packetCount + psiPacketCount >= psiLimit) {
                done = true;
                break;
            }
            ++psiPacketCount;
            if (packet[0] == tspacket::SYNC_BYTE)
                parser->parse(packet, PKT_SIZE);
        }
        if (got < block.size()) // end of file; a trailing partial packet is not a packet
            break;
    }

    measuredBitrate = samplesUsed > 0 ? qint64(sampleSum / samplesUsed) : -1;
    qCDebug(lcStreaming) << "measured" << measuredBitrate << "bit/s from" << samplesUsed << "PCR intervals,"
                         << discontinuities << "time-base changes," << packetCount << "packets, then" << psiPacketCount
                         << "for the PSI alone";
    return measuredBitrate;
}

void tspcrmeasure::processPacket(const uchar *packet)
{
    const quint64 position = packetCount * tspacket::PKT_SIZE + PCR_BYTE_OFFSET;
    ++packetCount;
    // A lost grid (a hole or garbage in the file) must not invent PIDs and PCRs.
    if (packet[0] != tspacket::SYNC_BYTE)
        return;

    if (!parser->complete())
        parser->parse(packet, tspacket::PKT_SIZE);

    const quint16 pid = tspacket::pid(packet);
    currentPid = pid;

    if (tspacket::hasPcr(packet)) {
        const quint64 pcr = tspacket::pcr(packet) % tspacket::PCR_WRAP;
        const quint64 previous = lastPcr[pid];
        if (previous != NO_PCR && !tspacket::discontinuity(packet)) {
            // Unsigned modular difference: a PCR that wrapped past 2^33 x 300 still gives its step.
            const quint64 step = (pcr + tspacket::PCR_WRAP - previous) % tspacket::PCR_WRAP;
            if (step == 0 || step > MAX_PCR_STEP) {
                ++discontinuities;
            } else {
                const double sample
                    = double(position - lastPcrPosition[pid]) * 8.0 * double(tspacket::SYSTEM_CLOCK_HZ) / double(step);
                // The first interval may start mid-way through the encoder's start-up: left out.
                if (samplesCollected > 0) {
                    sampleSum += sample;
                    ++samplesUsed;
                }
                ++samplesCollected;
            }
        }
        lastPcr[pid] = pcr;
        lastPcrPosition[pid] = position;
    }

    qint32 &index = pidIndex[pid];
    if (index < 0) {
        index = pidList.size();
        pidList.append(pid);
        pidPacketCounts.append(0);
    }
    ++pidPacketCounts[index];
}

quint64 tspcrmeasure::psiSearchPackets() const
{
    const double mean = samplesUsed > 0 ? sampleSum / samplesUsed : 0.0;
    const double bitrate = mean > 0.0 && mean < PSI_SEARCH_MAX_BITRATE ? mean : double(PSI_SEARCH_MAX_BITRATE);
    return quint64(PSI_SEARCH_SECONDS * bitrate / 8.0 / tspacket::PKT_SIZE);
}

double tspcrmeasure::pidShare(quint16 pid) const
{
    if (packetCount == 0)
        return 0.0;
    return double(pidPacketCount(pid)) / double(packetCount);
}

quint64 tspcrmeasure::pidPacketCount(quint16 pid) const
{
    if (pid >= pidIndex.size() || pidIndex[pid] < 0)
        return 0;
    return pidPacketCounts[pidIndex[pid]];
}
