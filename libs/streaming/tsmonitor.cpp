#include "tsmonitor.h"

#include "tspacket.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
using tspacket::PKT_SIZE;
constexpr int GAP_BINS = 1000000; // 1 s in 1 us bins
constexpr quint8 CC_NONE = 0x10;
constexpr double PCR_HZ = double(tspacket::SYSTEM_CLOCK_HZ);
// A PCR more than 1 ms off the line its PID was on starts a new time base (a file wrap without PCR
// correction, an encoder restart, lost datagrams): the fits restart there instead of counting it as inaccuracy.
constexpr double DISCONTINUITY_TICKS = 27000.0;

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
    if (p[0] != tspacket::SYNC_BYTE) {
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
    const quint16 pid = tspacket::pid(p);
    const bool discontinuity = tspacket::discontinuity(p);
    if (pid != tspacket::PID_NULL) {
        const quint8 cc = quint8(tspacket::continuityCounter(p));
        const bool payload = tspacket::adaptationFieldControl(p) & 1;
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
    if (tspacket::hasPcr(p) && p[4] >= 7 && pcrs.size() < maxPcrSamples)
        pcrs.append({ pid, tsBytes, tspacket::pcr(p), arrivalNs, discontinuity });
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
    r.bitrateMeasured = datagrams >= 2 && denominator > 0;
    if (r.bitrateMeasured)
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
        // The PCR runs modulo 2^33 * 300; an increase across that boundary is a step, not a jump.
        const auto stepAt = [&samples](int i) {
            return (samples[i].pcr + tspacket::PCR_WRAP - samples[i - 1].pcr) % tspacket::PCR_WRAP;
        };
        // The PID's own clock rate in ticks per byte, the median of its steps: a time-base change stands out from
        // it however fast or slow the stream arrives (judged against the arrival rate, a stream sent faster than
        // its PCRs would be all discontinuities and never measured).
        QVector<double> ratios;
        for (int i = 1; i < samples.size(); ++i)
            ratios.append(double(stepAt(i)) / double(samples[i].position - samples[i - 1].position));
        double ticksPerByte = 0;
        if (!ratios.isEmpty()) {
            std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
            ticksPerByte = ratios[ratios.size() / 2];
        }
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
                r.pcrRepetitionMeasured = true;
                if (bytesPerSecond > 0)
                    r.pcrIntervalStreamMaxMs = std::max(r.pcrIntervalStreamMaxMs,
                        double(samples[i].position - samples[i - 1].position) / bytesPerSecond * 1000);
                intervalSum += interval;
                ++intervals;
                const quint64 step = stepAt(i);
                const double expected = double(samples[i].position - samples[i - 1].position) * ticksPerByte;
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
    r.pcrAccuracyMeasured = rates > 0;
    if (rates)
        r.pcrBitrate = double(rateSum / rates);
    r.repetitionOk = r.pcrRepetitionMeasured && r.pcrIntervalMaxMs <= MAX_PCR_INTERVAL_MS;
    r.accuracyOk = r.pcrAccuracyMeasured && r.pcrAccuracyNs <= MAX_PCR_ACCURACY_NS;
    return r;
}

QStringList tsmonitor::report::faults() const
{
    QStringList found;
    if (ccErrors)
        found << QStringLiteral("%1 continuity errors").arg(ccErrors);
    if (syncLosses)
        found << QStringLiteral("%1 sync losses").arg(syncLosses);
    if (pcrCount == 0) {
        found << QStringLiteral("no PCR");
        return found;
    }
    if (pcrDiscontinuities)
        found << QStringLiteral("%1 PCR discontinuities").arg(pcrDiscontinuities);
    if (!pcrRepetitionMeasured)
        found << QStringLiteral("PCR repetition not measured");
    else if (!repetitionOk)
        found << QStringLiteral("PCR repetition %1 ms over %2 ms")
                     .arg(pcrIntervalMaxMs, 0, 'f', 1)
                     .arg(MAX_PCR_INTERVAL_MS);
    if (!pcrAccuracyMeasured)
        found << QStringLiteral("PCR accuracy not measured");
    else if (!accuracyOk)
        found << QStringLiteral("PCR accuracy %1 ns over %2 ns").arg(pcrAccuracyNs, 0, 'f', 1).arg(MAX_PCR_ACCURACY_NS);
    if (!bitrateMeasured || !pcrAccuracyMeasured || pcrBitrate <= 0) {
        found << QStringLiteral("arrival rate against PCR rate not measured");
    } else {
        const double deviation = (bitrate - pcrBitrate) / pcrBitrate;
        if (std::fabs(deviation) > MAX_RATE_DEVIATION)
            found << QStringLiteral("arrival rate %1 bit/s is %2 % %3 the PCR rate %4 bit/s (tolerance %5 %)")
                         .arg(qint64(std::llround(bitrate)))
                         .arg(std::fabs(deviation) * 100, 0, 'f', 1)
                         .arg(deviation > 0 ? QStringLiteral("above") : QStringLiteral("below"))
                         .arg(qint64(std::llround(pcrBitrate)))
                         .arg(MAX_RATE_DEVIATION * 100);
    }
    return found;
}

QJsonObject tsmonitor::report::toJson() const
{
    // A figure the stream did not allow to measure is null, never a number that looks like one.
    const auto figure = [](bool measured, double value) { return measured ? QJsonValue(value) : QJsonValue(); };
    const auto verdict = [](bool measured, bool ok) { return measured ? QJsonValue(ok) : QJsonValue(); };
    const bool gaps = datagrams >= 2;
    const bool streamInterval = pcrRepetitionMeasured && bitrateMeasured;
    QJsonObject o;
    o.insert(QStringLiteral("datagrams"), qint64(datagrams));
    o.insert(QStringLiteral("packets"), qint64(packets));
    o.insert(QStringLiteral("rtp_datagrams"), qint64(rtpDatagrams));
    o.insert(QStringLiteral("partial_datagrams"), qint64(partialDatagrams));
    o.insert(QStringLiteral("rtp_sequence_errors"), qint64(rtpSequenceErrors));
    o.insert(QStringLiteral("receiver_drops"), qint64(receiverDrops));
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("bitrate"), figure(bitrateMeasured, bitrate));
    o.insert(QStringLiteral("gap_mean_us"), figure(gaps, gapMeanUs));
    o.insert(QStringLiteral("gap_p50_us"), figure(gaps, gapP50Us));
    o.insert(QStringLiteral("gap_p99_us"), figure(gaps, gapP99Us));
    o.insert(QStringLiteral("gap_max_us"), figure(gaps, gapMaxUs));
    o.insert(QStringLiteral("max_datagrams_per_ms"), maxPerMs);
    o.insert(QStringLiteral("cc_errors"), qint64(ccErrors));
    o.insert(QStringLiteral("sync_byte_errors"), qint64(syncByteErrors));
    o.insert(QStringLiteral("sync_losses"), qint64(syncLosses));
    o.insert(QStringLiteral("pcr_count"), qint64(pcrCount));
    o.insert(QStringLiteral("pcr_discontinuities"), qint64(pcrDiscontinuities));
    o.insert(QStringLiteral("pcr_interval_max_ms"), figure(pcrRepetitionMeasured, pcrIntervalMaxMs));
    o.insert(QStringLiteral("pcr_interval_mean_ms"), figure(pcrRepetitionMeasured, pcrIntervalMeanMs));
    o.insert(QStringLiteral("pcr_interval_stream_max_ms"), figure(streamInterval, pcrIntervalStreamMaxMs));
    o.insert(QStringLiteral("pcr_accuracy_ns"), figure(pcrAccuracyMeasured, pcrAccuracyNs));
    o.insert(QStringLiteral("pcr_jitter_us"), figure(pcrAccuracyMeasured, pcrJitterUs));
    o.insert(QStringLiteral("pcr_bitrate"), figure(pcrAccuracyMeasured, pcrBitrate));
    o.insert(QStringLiteral("pcr_repetition_ok"), verdict(pcrRepetitionMeasured, repetitionOk));
    o.insert(QStringLiteral("pcr_accuracy_ok"), verdict(pcrAccuracyMeasured, accuracyOk));
    const QStringList found = faults();
    o.insert(QStringLiteral("verdict"), found.isEmpty() ? QStringLiteral("pass") : QStringLiteral("fail"));
    o.insert(QStringLiteral("faults"), QJsonArray::fromStringList(found));
    return o;
}

QString tsmonitor::report::toText() const
{
    const QString notMeasured = QStringLiteral("not measured");
    const auto number = [](double value, int decimals = 1) { return QString::number(value, 'f', decimals); };
    QString s;
    QTextStream out(&s);
    out << "datagrams        " << datagrams << " (" << rtpDatagrams << " RTP, " << partialDatagrams
        << " not 7 packets, " << rtpSequenceErrors << " RTP sequence errors)\n";
    if (receiverDrops)
        out << "receiver drops   " << receiverDrops << " datagrams lost in this receiver's socket queue\n";
    out << "packets          " << packets << " over " << number(seconds) << " s\n";
    out << "TS bitrate       " << (bitrateMeasured ? QString::number(std::llround(bitrate)) + " bit/s" : notMeasured)
        << "\n";
    if (datagrams >= 2)
        out << "datagram gap     mean " << number(gapMeanUs) << " us, p50 " << number(gapP50Us) << ", p99 "
            << number(gapP99Us) << ", max " << number(gapMaxUs) << " us\n";
    else
        out << "datagram gap     " << notMeasured << "\n";
    out << "worst 1 ms       " << maxPerMs << " datagrams\n";
    out << "CC errors        " << ccErrors << "\n";
    out << "sync             " << syncByteErrors << " sync byte errors, " << syncLosses << " sync losses\n";
    out << "PCR              " << pcrCount << " PCRs, " << pcrDiscontinuities << " discontinuities\n";
    if (pcrRepetitionMeasured) {
        out << "PCR repetition   max " << number(pcrIntervalMaxMs) << " ms, mean " << number(pcrIntervalMeanMs)
            << " ms (" << (repetitionOk ? "ok" : "over") << " 40 ms)";
        if (bitrateMeasured)
            out << "; in the stream itself max " << number(pcrIntervalStreamMaxMs) << " ms";
        out << "\n";
    } else {
        out << "PCR repetition   " << notMeasured << "\n";
    }
    if (pcrAccuracyMeasured) {
        out << "PCR accuracy     " << number(pcrAccuracyNs) << " ns (" << (accuracyOk ? "within" : "outside")
            << " 500 ns)\n";
        out << "PCR jitter       " << number(pcrJitterUs) << " us (arrival against PCR)\n";
        out << "PCR bitrate      " << std::llround(pcrBitrate) << " bit/s\n";
    } else {
        out << "PCR accuracy     " << notMeasured << "\n";
        out << "PCR jitter       " << notMeasured << "\n";
        out << "PCR bitrate      " << notMeasured << "\n";
    }
    const QStringList found = faults();
    out << "verdict          "
        << (found.isEmpty() ? QStringLiteral("PASS") : "FAIL: " + found.join(QStringLiteral("; "))) << "\n";
    return s;
}
