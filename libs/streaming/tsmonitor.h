#pragma once
// Measures a received transport stream datagram by datagram: TS bitrate, datagram spacing, continuity and
// sync errors, PCR repetition, PCR accuracy against the byte position and PCR arrival jitter, with the
// TR 101 290 yardsticks (repetition <= 40 ms, accuracy +/- 500 ns). Feed datagrams with their arrival times
// (nanoseconds on any monotonic clock), then read the report and the figures over time. Memory stays bounded
// however long the run: PCRs are judged in blocks of at most 10 s per PID as they come. Single-threaded.

#include "tstimeline.h"

#include <QHash>
#include <QJsonObject>
#include <QStringList>
#include <QVector>

#include <deque>
#include <vector>

class tsmonitor
{
public:
    struct report {
        quint64 datagrams = 0;
        quint64 packets = 0;
        quint64 rtpDatagrams = 0;
        quint64 partialDatagrams = 0; // payload not 7 whole packets
        quint64 rtpSequenceErrors = 0;
        quint64 receiverDrops = 0; // datagrams the receiving socket itself dropped (its queue was full)
        double seconds = 0; // first to last arrival
        double bitrate = 0; // TS bit/s, least-squares slope of bytes over arrival time
        double gapMeanUs = 0;
        double gapP50Us = 0;
        double gapP99Us = 0;
        double gapMaxUs = 0;
        int maxPerMs = 0; // most datagrams arriving within any 1 ms
        quint64 ccErrors = 0;
        quint64 syncByteErrors = 0;
        quint64 syncLosses = 0;
        quint64 pcrCount = 0;
        quint64 pcrDiscontinuities = 0;
        double pcrIntervalMaxMs = 0; // by arrival, the largest over PCR PIDs
        double pcrIntervalMeanMs = 0;
        double pcrIntervalStreamMaxMs = 0; // by byte position at the measured rate: the stream's own
        double pcrAccuracyNs = 0; // largest |PCR - fit on byte position|
        double pcrJitterUs = 0; // largest |arrival - fit on PCR|
        double pcrBitrate = 0; // multiplex rate implied by PCR over byte position
        // Which figures the stream allowed to measure; one that was not is reported as such, never as a value.
        bool bitrateMeasured = false; // two datagrams at least
        bool pcrRepetitionMeasured = false; // two PCRs of one PID at least
        bool pcrAccuracyMeasured = false; // three PCRs of one time base at least (also jitter and PCR rate)
        bool repetitionOk = false;
        bool accuracyOk = false;

        // What fails the stream: continuity errors, sync losses, PCR discontinuities, repetition, accuracy, an
        // arrival rate off the PCR rate, and each of those figures that could not be measured. Empty: it passes.
        QStringList faults() const;
        QJsonObject toJson() const;
        QString toText() const;
    };

    tsmonitor();

    void datagram(const uchar *data, int size, qint64 arrivalNs);
    report finish() const;
    // The figures over time, the PCRs still waiting for their block judged too.
    tstimeline history() const;
    // Drops the receiving socket reports: losses that are the measuring side's, not the sender's.
    void setReceiverDrops(quint64 value) { receiverDrops = value; }

    static constexpr double MAX_PCR_INTERVAL_MS = 40.0;
    static constexpr double MAX_PCR_ACCURACY_NS = 500.0;
    // The arrival rate may differ from the rate the PCRs give by this share: a sender paced on its own clock is
    // within a few ppm, and a machine stall made up late moves a 2 s least-squares slope well under 1 %.
    static constexpr double MAX_RATE_DEVIATION = 0.01;

    // A PID's PCRs are judged (time base, accuracy, jitter) once its block spans this long or holds this many;
    // all PIDs together hold at most MAX_PENDING_PCRS (about 2 MB) before a block is judged early.
    static constexpr qint64 PCR_BLOCK_NS = 10000000000LL;
    static constexpr int PCR_BLOCK_MAX = 1024;
    static constexpr int MAX_PENDING_PCRS = 65536;

private:
    struct pcrSample {
        quint64 position;
        quint64 pcr;
        qint64 arrival;
        bool discontinuity;
    };
    // One PID's PCRs not judged yet, and the last judged one, from which the block's first step is taken.
    struct pcrClock {
        std::vector<pcrSample> block;
        pcrSample previous {};
        bool hasPrevious = false;
    };
    // What the judged blocks found.
    struct pcrFigures {
        quint64 discontinuities = 0;
        double accuracyNs = 0;
        double jitterUs = 0;
        long double rateSum = 0; // PCR rate of each fitted segment times its PCRs
        quint64 rates = 0;
    };

    void packet(const uchar *p, qint64 arrivalNs);
    void judgeBlock(pcrClock &clock);
    // Time base steps, fits and their residuals of a block; the residuals also go into `marks` when given.
    static void judge(const pcrClock &clock, pcrFigures &into, tstimeline *marks);

    quint64 datagrams = 0;
    quint64 packets = 0;
    quint64 rtpDatagrams = 0;
    quint64 partialDatagrams = 0;
    quint64 rtpSequenceErrors = 0;
    quint64 receiverDrops = 0;
    int nextSequence = -1;
    qint64 firstArrival = 0;
    qint64 lastArrival = 0;
    quint64 tsBytes = 0;
    // Least-squares sums of (arrival seconds since the first, TS bytes before the datagram).
    long double sumT = 0, sumB = 0, sumTT = 0, sumTB = 0;

    QVector<quint32> gapHistogram; // 1 us bins
    quint64 gapOverflow = 0;
    qint64 gapMax = 0;
    long double gapSum = 0;
    std::deque<qint64> window;
    int maxPerMs = 0;

    quint8 lastCc[8192];
    bool duplicateSeen[8192];
    quint64 ccErrors = 0;
    quint64 syncByteErrors = 0;
    quint64 syncLosses = 0;
    int badSyncRun = 0;
    int goodSyncRun = 0;
    bool syncLost = false;

    QHash<quint16, pcrClock> clocks;
    int pendingPcrs = 0;
    pcrFigures judged;
    quint64 pcrCount = 0;
    double pcrIntervalMaxMs = 0;
    long double pcrIntervalSum = 0;
    quint64 pcrIntervals = 0;
    quint64 pcrStepMaxBytes = 0;

    tstimeline timeline;
};
