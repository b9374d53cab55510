#pragma once
// Measures a transport stream file when it is loaded: finds the 188-byte packet grid, derives the
// multiplex bitrate from the PCRs, counts packets per PID and hands every packet to the PSI parser.
// Synchronous; used from one thread (the GUI thread on the Streaming page, main thread in nerio-ts).

#include <QFile>
#include <QObject>
#include <QString>
#include <QVector>

#include <array>

class tsparser;

class tspcrmeasure : public QObject
{
    Q_OBJECT
public:
    // How far into the file the first packet start is looked for.
    static constexpr qint64 SYNC_SEARCH_LIMIT = 1024 * 1024;
    // The measurement stops once this many PCR intervals are collected (the first is dropped).
    static constexpr int DEFAULT_SAMPLE_LIMIT = 1000;
    // A PCR step larger than this (or a step back that is not the 2^33 x 300 wrap) is a new time
    // base: a spliced file or a restarted encoder. 10 x the largest interval ISO/IEC 13818-1 allows.
    static constexpr quint64 MAX_PCR_STEP = 27000000;
    // Tables repeat more slowly than PCRs (DVB lets each NIT section come only every 10 s), so once the PCR
    // scan has its samples the PSI parser alone reads on until every table is complete or this much stream
    // from the start of the file has gone by: three NIT periods, so two damaged copies are survived.
    static constexpr int PSI_SEARCH_SECONDS = 30;
    // Stream time is counted at the measured bitrate, and at this one (the fastest the tool sends) when the
    // measurement has nothing better.
    static constexpr qint64 PSI_SEARCH_MAX_BITRATE = 65000000;

    tspcrmeasure(QObject *parent, const QString &fileName);
    ~tspcrmeasure() override;

    bool isOpen() const;
    // Why the file could not be opened; empty when it is open.
    QString openError() const;

    // Why a file is refused when findSync() finds no grid, one text wherever a file is loaded.
    static QString noGridMessage(const QString &fileName, qint64 fileSize);

    // Byte offset of the first packet start, or -1 when no grid is found in the first
    // SYNC_SEARCH_LIMIT bytes. A grid needs sync bytes at +188, +376 and +564 (as many of them as
    // the file holds, at least one).
    qint64 findSync();

    // Bitrate in bit/s from consecutive PCRs of every PCR PID; -1 without a packet grid or with
    // fewer than two PCR intervals; 0 (unchanged) when the file could not be opened. Restarts the
    // scan, the per-PID counts and the parser at each call. The per-PID counts are those of the PCR
    // scan; the parser may read on (PSI_SEARCH_SECONDS).
    qint64 measureBitrate();

    // 0 scans the whole file; the default keeps a file load short.
    void setSampleLimit(int limit) { sampleLimit = limit; }

    // Packets of that PID / all packets scanned; 0.0 for an unseen PID or an empty scan.
    double pidShare(quint16 pid) const;
    quint64 pidPacketCount(quint16 pid) const;

    tsparser *getParser() const { return parser; }
    const QVector<quint16> &getPidList() const { return pidList; }
    const QVector<quint64> &getPidPacketCounts() const { return pidPacketCounts; }
    quint64 getPacketCount() const { return packetCount; }
    // Packets read after the PCR scan for the PSI parser alone.
    quint64 getPsiPacketCount() const { return psiPacketCount; }
    qint64 getSyncOffset() const { return syncOffset; }
    qint64 getMeasuredBitrate() const { return measuredBitrate; }
    qint64 getFileSize() const;
    // PCR intervals that went into the mean, and those refused as time-base changes.
    int getSampleCount() const { return samplesUsed; }
    int getDiscontinuityCount() const { return discontinuities; }

private:
    void resetScan();
    void processPacket(const uchar *packet);
    quint64 psiSearchPackets() const;

    QFile *file;
    qint64 syncOffset = -1;
    quint64 packetCount = 0;
    quint64 psiPacketCount = 0;
    quint16 currentPid = 0;
    std::array<quint64, 8192> lastPcr; // NO_PCR until the PID's first PCR
    std::array<quint64, 8192> lastPcrPosition;
    std::array<qint32, 8192> pidIndex; // index into pidList, -1 while unseen
    QVector<quint16> pidList;
    QVector<quint64> pidPacketCounts;
    qint64 measuredBitrate = 0;
    tsparser *parser = nullptr;

    int sampleLimit = DEFAULT_SAMPLE_LIMIT;
    int samplesCollected = 0;
    int samplesUsed = 0;
    int discontinuities = 0;
    double sampleSum = 0.0;
};
