#include "tsmonitor.h"

#include "tsstamp.h"

#include <QJsonDocument>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
constexpr int PKT_SIZE = 188;
constexpr int GAP_BINS = 1000000; // 1 s in 1 us bins
constexpr quint8 CC_NONE = 0x10;
constexpr double PCR_HZ = 27000000.0;
// A PCR more than 1 ms off the line its PID was on starts a new time base (a file wrap without PCR
// correction, an encoder restart): the fits restart there instead of counting it as inaccuracy.
constexpr double DISCONTINUITY_TICKS = 27000.0;

quint16 pidOf(const uchar *p)
{
    return quint16(((p[1] & 0x1F) << 8) | p[2]);
}

struct lineFit {
    long double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    void add(long double x, long double y)
    {
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    bool valid() const { return n >= 2 && (n * sxx - sx * sx) != 0; }
    long double slope() const { return (n * sxy - sx * sy) / (n * sxx - sx * sx); }
    long double intercept() const { return (sy - slope() * sx) / n; }
};

double percentile(const QVector<quint32> &histogram, quint64 overflow, qint64 maxNs, quint64 total, double q)
{
    if (total == 0)
        return 0;
    const quint64 rank = quint64(std::ceil(q * double(total)));
    quint64 seen = 0;
    for (int i = 0; i < histogram.size(); ++i) {
        seen += histogram[i];
        if (seen >= rank)
            return i;
    }
    Q_UNUSED(overflow);
    return double(maxNs) / 1000.0;
}
} // namespace

tsmonitor::tsmonitor()
    : gapHistogram(GAP_BINS, 0)
{
    std::memset(lastCc, CC_NONE, sizeof lastCc);
    std::memset(duplicateSeen, 0, sizeof duplicateSeen);
}

void tsmonitor::datagram(const uchar *data, int size, qint64 arrivalNs)
{
    if (size <= 0)
        return;
    int offset = 0;
    // RTP (RFC 3550 version 2, payload type 33) in front of whole packets.
    if (size >= 12 && (data[0] & 0xC0) == 0x80 && (data[1] & 0x7F) == 33 && (size - 12) % PKT_SIZE == 0) {
        ++rtpDatagrams;
        offset = 12 + 4 * (data[0] & 0x0F);
        const int sequence = (data[2] << 8) | data[3];
        if (nextSequence >= 0 && sequence != nextSequence)
            ++rtpSequenceErrors;
        nextSequence = (sequence + 1) & 0xFFFF;
    }
    if (datagrams == 0) {
        firstArrival = arrivalNs;
    } else {
        const qint64 gap = std::max<qint64>(0, arrivalNs - lastArrival);
        gapMax = std::max(gapMax, gap);
        gapSum += gap;
        if (gap / 1000 < GAP_BINS)
            ++gapHistogram[int(gap / 1000)];
        else
            ++gapOverflow;
    }
    lastArrival = arrivalNs;
    ++datagrams;

    window.push_back(arrivalNs);
    while (arrivalNs - window.front() >= 1000000)
        window.pop_front();
    maxPerMs = std::max(maxPerMs, int(window.size()));

    const long double t = (arrivalNs - firstArrival) / 1e9L;
    sumT += t;
    sumB += tsBytes;
    sumTT += t * t;
    sumTB += t * tsBytes;

    const int payload = size - offset;
    if (payload != 7 * PKT_SIZE)
        ++partialDatagrams;
    for (int at = offset; at + PKT_SIZE <= size; at += PKT_SIZE) {
        packet(data + at, arrivalNs);
        tsBytes += PKT_SIZE;
    }
}

void tsmonitor::packet(const uchar *p, qint64 arrivalNs)
{
    ++packets;
    if (p[0] != 0x47) {
        ++syncByteErrors;
        goodSyncRun = 0;
        // Two corrupted sync bytes in a row lose sync; five good ones regain it (TR 101 290, 1.1).
        if (++badSyncRun == 2 && !syncLost) {
            syncLost = true;
            ++syncLosses;
        }
        return;
    }
    badSyncRun = 0;
    if (syncLost && ++goodSyncRun >= 5)
        syncLost = false;
    if (p[1] & 0x80)
        return; // transport_error_indicator: nothing in the packet can be trusted
    const quint16 pid = pidOf(p);
    const bool adaptation = p[3] & 0x20;
    const bool discontinuity = adaptation && p[4] > 0 && (p[5] & 0x80);
    if (pid != 0x1FFF) {
        const quint8 cc = p[3] & 0x0F;
        const bool payload = p[3] & 0x10;
        const quint8 last = lastCc[pid];
        if (last != CC_NONE && !discontinuity) {
            if (!payload) {
                if (cc != last)
                    ++ccErrors;
            } else if (cc == last) {
                // One repetition is a legal duplicate; a second is an error.
                if (duplicateSeen[pid])
                    ++ccErrors;
                duplicateSeen[pid] = true;
            } else {
                if (cc != ((last + 1) & 0x0F))
                    ++ccErrors;
                duplicateSeen[pid] = false;
            }
        }
        lastCc[pid] = cc;
    }
    if (tsstamp::hasPcr(p) && p[4] >= 7 && pcrs.size() < maxPcrSamples)
        pcrs.append({ pid, tsBytes, tsstamp::readPcr(p), arrivalNs, discontinuity });
}

tsmonitor::report tsmonitor::finish() const
{
    report r;
    r.datagrams = datagrams;
    r.packets = packets;
    r.rtpDatagrams = rtpDatagrams;
    r.partialDatagrams = partialDatagrams;
    r.rtpSequenceErrors = rtpSequenceErrors;
    r.receiverDrops = receiverDrops;
    r.seconds = (lastArrival - firstArrival) / 1e9;
    r.ccErrors = ccErrors;
    r.syncByteErrors = syncByteErrors;
    r.syncLosses = syncLosses;
    r.maxPerMs = maxPerMs;
    const long double n = datagrams;
    const long double denominator = n * sumTT - sumT * sumT;
    if (datagrams >= 2 && denominator > 0)
        r.bitrate = double((n * sumTB - sumT * sumB) / denominator * 8);
    const quint64 gaps = datagrams > 0 ? datagrams - 1 : 0;
    if (gaps) {
        r.gapMeanUs = double(gapSum / gaps / 1000);
        r.gapP50Us = percentile(gapHistogram, gapOverflow, gapMax, gaps, 0.50);
        r.gapP99Us = percentile(gapHistogram, gapOverflow, gapMax, gaps, 0.99);
        r.gapMaxUs = gapMax / 1000.0;
    }

    // PCRs per PID, split into segments of one time base each.
    QMap<quint16, QVector<pcrSample>> byPid;
    for (const pcrSample &s : pcrs)
        byPid[s.pid].append(s);
    r.pcrCount = quint64(pcrs.size());
    const double bytesPerSecond = r.bitrate / 8;
    long double intervalSum = 0;
    quint64 intervals = 0;
    long double rateSum = 0;
    int rates = 0;
    for (auto it = byPid.cbegin(); it != byPid.cend(); ++it) {
        const QVector<pcrSample> &samples = it.value();
        QVector<long double> unwrappedValues(samples.size());
        QVector<bool> startsSegment(samples.size(), false);
        quint64 unwrapped = 0;
        for (int i = 0; i < samples.size(); ++i) {
            if (i == 0) {
                unwrapped = samples[i].pcr;
                startsSegment[i] = true;
            } else {
                const double interval = (samples[i].arrival - samples[i - 1].arrival) / 1e6;
                r.pcrIntervalMaxMs = std::max(r.pcrIntervalMaxMs, interval);
                if (bytesPerSecond > 0)
                    r.pcrIntervalStreamMaxMs = std::max(r.pcrIntervalStreamMaxMs,
                        double(samples[i].position - samples[i - 1].position) / bytesPerSecond * 1000);
                intervalSum += interval;
                ++intervals;
                // The PCR runs modulo 2^33 * 300; an increase across that boundary is a step, not a jump.
                const quint64 step
                    = (samples[i].pcr + tsstamp::PCR_MODULUS - samples[i - 1].pcr) % tsstamp::PCR_MODULUS;
                const double expected = bytesPerSecond > 0
                    ? double(samples[i].position - samples[i - 1].position) / bytesPerSecond * PCR_HZ
                    : double(step);
                if (samples[i].discontinuity || std::fabs(double(step) - expected) > DISCONTINUITY_TICKS) {
                    ++r.pcrDiscontinuities;
                    startsSegment[i] = true;
                    unwrapped = samples[i].pcr;
                } else {
                    unwrapped += step;
                }
            }
            unwrappedValues[i] = (long double)unwrapped;
        }
        // Fit each segment: PCR over byte position (accuracy), arrival over PCR (jitter).
        int begin = 0;
        while (begin < samples.size()) {
            int end = begin + 1;
            while (end < samples.size() && !startsSegment[end])
                ++end;
            if (end - begin >= 3) {
                const long double x0 = samples[begin].position;
                const long double y0 = unwrappedValues[begin];
                const long double a0 = samples[begin].arrival;
                lineFit accuracy;
                lineFit jitter;
                for (int i = begin; i < end; ++i) {
                    accuracy.add(samples[i].position - x0, unwrappedValues[i] - y0);
                    jitter.add(unwrappedValues[i] - y0, samples[i].arrival - a0);
                }
                if (accuracy.valid() && jitter.valid()) {
                    for (int i = begin; i < end; ++i) {
                        const long double x = samples[i].position - x0;
                        const long double y = unwrappedValues[i] - y0;
                        const long double residual = y - (accuracy.intercept() + accuracy.slope() * x);
                        r.pcrAccuracyNs = std::max(r.pcrAccuracyNs, double(std::fabs(residual) / PCR_HZ * 1e9));
                        const long double late = (samples[i].arrival - a0) - (jitter.intercept() + jitter.slope() * y);
                        r.pcrJitterUs = std::max(r.pcrJitterUs, double(std::fabs(late) / 1000));
                    }
                    if (accuracy.slope() > 0) {
                        rateSum += PCR_HZ * 8 / accuracy.slope() * (end - begin);
                        rates += end - begin;
                    }
                }
            }
            begin = end;
        }
    }
    if (intervals)
        r.pcrIntervalMeanMs = double(intervalSum / intervals);
    if (rates)
        r.pcrBitrate = double(rateSum / rates);
    r.repetitionOk = r.pcrIntervalMaxMs <= MAX_PCR_INTERVAL_MS;
    r.accuracyOk = r.pcrAccuracyNs <= MAX_PCR_ACCURACY_NS;
    return r;
}

QJsonObject tsmonitor::report::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("datagrams"), qint64(datagrams));
    o.insert(QStringLiteral("packets"), qint64(packets));
    o.insert(QStringLiteral("rtp_datagrams"), qint64(rtpDatagrams));
    o.insert(QStringLiteral("partial_datagrams"), qint64(partialDatagrams));
    o.insert(QStringLiteral("rtp_sequence_errors"), qint64(rtpSequenceErrors));
    o.insert(QStringLiteral("receiver_drops"), qint64(receiverDrops));
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("bitrate"), bitrate);
    o.insert(QStringLiteral("gap_mean_us"), gapMeanUs);
    o.insert(QStringLiteral("gap_p50_us"), gapP50Us);
    o.insert(QStringLiteral("gap_p99_us"), gapP99Us);
    o.insert(QStringLiteral("gap_max_us"), gapMaxUs);
    o.insert(QStringLiteral("max_datagrams_per_ms"), maxPerMs);
    o.insert(QStringLiteral("cc_errors"), qint64(ccErrors));
    o.insert(QStringLiteral("sync_byte_errors"), qint64(syncByteErrors));
    o.insert(QStringLiteral("sync_losses"), qint64(syncLosses));
    o.insert(QStringLiteral("pcr_count"), qint64(pcrCount));
    o.insert(QStringLiteral("pcr_discontinuities"), qint64(pcrDiscontinuities));
    o.insert(QStringLiteral("pcr_interval_max_ms"), pcrIntervalMaxMs);
    o.insert(QStringLiteral("pcr_interval_mean_ms"), pcrIntervalMeanMs);
    o.insert(QStringLiteral("pcr_interval_stream_max_ms"), pcrIntervalStreamMaxMs);
    o.insert(QStringLiteral("pcr_accuracy_ns"), pcrAccuracyNs);
    o.insert(QStringLiteral("pcr_jitter_us"), pcrJitterUs);
    o.insert(QStringLiteral("pcr_bitrate"), pcrBitrate);
    o.insert(QStringLiteral("pcr_repetition_ok"), repetitionOk);
    o.insert(QStringLiteral("pcr_accuracy_ok"), accuracyOk);
    return o;
}

QString tsmonitor::report::toText() const
{
    QString s;
    QTextStream out(&s);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(1);
    out << "datagrams        " << datagrams << " (" << rtpDatagrams << " RTP, " << partialDatagrams
        << " not 7 packets, " << rtpSequenceErrors << " RTP sequence errors)\n";
    if (receiverDrops)
        out << "receiver drops   " << receiverDrops << " datagrams lost in this receiver's socket queue\n";
    out << "packets          " << packets << " over " << seconds << " s\n";
    out << "TS bitrate       " << qint64(std::llround(bitrate)) << " bit/s\n";
    out << "datagram gap     mean " << gapMeanUs << " us, p50 " << gapP50Us << ", p99 " << gapP99Us << ", max "
        << gapMaxUs << " us\n";
    out << "worst 1 ms       " << maxPerMs << " datagrams\n";
    out << "CC errors        " << ccErrors << "\n";
    out << "sync             " << syncByteErrors << " sync byte errors, " << syncLosses << " sync losses\n";
    out << "PCR              " << pcrCount << " PCRs, " << pcrDiscontinuities << " discontinuities\n";
    out << "PCR repetition   max " << pcrIntervalMaxMs << " ms, mean " << pcrIntervalMeanMs << " ms ("
        << (repetitionOk ? "ok" : "over") << " 40 ms); in the stream itself max " << pcrIntervalStreamMaxMs << " ms\n";
    out << "PCR accuracy     " << pcrAccuracyNs << " ns (" << (accuracyOk ? "within" : "outside") << " 500 ns)\n";
    out << "PCR jitter       " << pcrJitterUs << " us (arrival against PCR)\n";
    out << "PCR bitrate      " << qint64(std::llround(pcrBitrate)) << " bit/s\n";
    return s;
}
