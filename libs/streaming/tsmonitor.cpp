#include "tsmonitor.h"

#include "tspacket.h"

#include <QJsonArray>
#include <QJsonDocument>
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
        timeline.start(arrivalNs);
    } else {
        const qint64 gap = std::max<qint64>(0, arrivalNs - lastArrival);
        gapMax = std::max(gapMax, gap);
        gapSum += gap;
        if (gap / 1000 < GAP_BINS)
            ++gapHistogram[int(gap / 1000)];
        else
            ++gapOverflow;
        timeline.gap(arrivalNs, gap);
    }
    lastArrival = arrivalNs;
    ++datagrams;
    tstimeline::point &now = timeline.at(arrivalNs);
    ++now.datagrams;
    now.bytes += quint64((size - offset) / PKT_SIZE * PKT_SIZE);

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
            ++timeline.at(arrivalNs).syncLosses;
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
            bool error = false;
            if (!payload) {
                error = cc != last;
            } else if (cc == last) {
                // One repetition is a legal duplicate; a second is an error.
                error = duplicateSeen[pid];
                duplicateSeen[pid] = true;
            } else {
                error = cc != ((last + 1) & 0x0F);
                duplicateSeen[pid] = false;
            }
            if (error) {
                ++ccErrors;
                timeline.ccError(arrivalNs, pid);
            }
        }
        lastCc[pid] = cc;
    }
    if (!tspacket::hasPcr(p) || p[4] < 7)
        return;
    pcrClock &clock = clocks[pid];
    const pcrSample sample { tsBytes, tspacket::pcr(p), arrivalNs, discontinuity };
    const pcrSample *before = !clock.block.empty() ? &clock.block.back()
        : clock.hasPrevious                        ? &clock.previous
                                                   : nullptr;
    if (before) {
        const double interval = (arrivalNs - before->arrival) / 1e6;
        pcrIntervalMaxMs = std::max(pcrIntervalMaxMs, interval);
        pcrIntervalSum += interval;
        ++pcrIntervals;
        pcrStepMaxBytes = std::max(pcrStepMaxBytes, sample.position - before->position);
        double &worst = timeline.at(arrivalNs).pcrIntervalMs;
        worst = std::max(worst, interval);
    }
    ++pcrCount;
    clock.block.push_back(sample);
    ++pendingPcrs;
    const qint64 span = arrivalNs - clock.block.front().arrival;
    if (int(clock.block.size()) >= PCR_BLOCK_MAX || (clock.block.size() >= 3 && span >= PCR_BLOCK_NS)
        || pendingPcrs >= MAX_PENDING_PCRS)
        judgeBlock(clock);
}

void tsmonitor::judgeBlock(pcrClock &clock)
{
    judge(clock, judged, &timeline);
    pendingPcrs -= int(clock.block.size());
    clock.previous = clock.block.back();
    clock.hasPrevious = true;
    // Freed, not only emptied: a PID that stops carrying PCRs keeps nothing.
    std::vector<pcrSample>().swap(clock.block);
}

void tsmonitor::judge(const pcrClock &clock, pcrFigures &into, tstimeline *marks)
{
    const std::vector<pcrSample> &samples = clock.block;
    const size_t n = samples.size();
    const pcrSample *const previous = clock.hasPrevious ? &clock.previous : nullptr;
    const auto before = [&](size_t i) { return i > 0 ? &samples[i - 1] : previous; };
    // The PCR runs modulo 2^33 * 300; an increase across that boundary is a step, not a jump.
    const auto stepAt
        = [&](size_t i) { return (samples[i].pcr + tspacket::PCR_WRAP - before(i)->pcr) % tspacket::PCR_WRAP; };
    const auto bytesAt = [&](size_t i) { return double(samples[i].position - before(i)->position); };
    // The PID's own clock rate in ticks per byte, the median of the block's steps: a time-base change stands out
    // from it however fast or slow the stream arrives (judged against the arrival rate, a stream sent faster than
    // its PCRs would be all discontinuities and never measured).
    std::vector<double> ratios;
    for (size_t i = 0; i < n; ++i) {
        if (before(i))
            ratios.push_back(double(stepAt(i)) / bytesAt(i));
    }
    double ticksPerByte = 0;
    if (!ratios.empty()) {
        std::nth_element(ratios.begin(), ratios.begin() + std::ptrdiff_t(ratios.size() / 2), ratios.end());
        ticksPerByte = ratios[ratios.size() / 2];
    }
    // Segments of one time base each; the block's first PCR starts one whatever came before (the previous block
    // was fitted on its own).
    std::vector<long double> unwrapped;
    std::vector<size_t> segmentStarts;
    quint64 value = 0;
    for (size_t i = 0; i < n; ++i) {
        const pcrSample &s = samples[i];
        const bool jump = before(i)
            && (s.discontinuity || std::fabs(double(stepAt(i)) - bytesAt(i) * ticksPerByte) > DISCONTINUITY_TICKS);
        if (jump) {
            ++into.discontinuities;
            if (marks)
                ++marks->at(s.arrival).pcrDiscontinuities;
        }
        if (i == 0 || jump) {
            segmentStarts.push_back(i);
            value = s.pcr;
        } else {
            value += stepAt(i);
        }
        unwrapped.push_back((long double)value);
    }
    segmentStarts.push_back(n);
    // Fit each segment: PCR over byte position (accuracy), arrival over PCR (jitter).
    for (size_t k = 0; k + 1 < segmentStarts.size(); ++k) {
        const size_t begin = segmentStarts[k];
        const size_t end = segmentStarts[k + 1];
        if (end - begin < 3)
            continue;
        const long double x0 = samples[begin].position;
        const long double y0 = unwrapped[begin];
        const long double a0 = samples[begin].arrival;
        lineFit accuracy;
        lineFit jitter;
        for (size_t i = begin; i < end; ++i) {
            accuracy.add(samples[i].position - x0, unwrapped[i] - y0);
            jitter.add(unwrapped[i] - y0, samples[i].arrival - a0);
        }
        if (!accuracy.valid() || !jitter.valid())
            continue;
        for (size_t i = begin; i < end; ++i) {
            const long double x = samples[i].position - x0;
            const long double y = unwrapped[i] - y0;
            const long double residual = y - (accuracy.intercept() + accuracy.slope() * x);
            const double offsetNs = double(std::fabs(residual) / PCR_HZ * 1e9);
            into.accuracyNs = std::max(into.accuracyNs, offsetNs);
            if (marks) {
                double &worst = marks->at(samples[i].arrival).pcrAccuracyNs;
                worst = std::max(worst, offsetNs);
            }
            const long double late = (samples[i].arrival - a0) - (jitter.intercept() + jitter.slope() * y);
            into.jitterUs = std::max(into.jitterUs, double(std::fabs(late) / 1000));
        }
        if (accuracy.slope() > 0) {
            into.rateSum += PCR_HZ * 8 / accuracy.slope() * (end - begin);
            into.rates += end - begin;
        }
    }
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

    // The judged blocks, and the PCRs still waiting for theirs.
    pcrFigures figures = judged;
    for (const pcrClock &clock : clocks)
        judge(clock, figures, nullptr);
    r.pcrCount = pcrCount;
    r.pcrDiscontinuities = figures.discontinuities;
    r.pcrRepetitionMeasured = pcrIntervals > 0;
    r.pcrIntervalMaxMs = pcrIntervalMaxMs;
    if (pcrIntervals)
        r.pcrIntervalMeanMs = double(pcrIntervalSum / pcrIntervals);
    if (r.bitrate > 0)
        r.pcrIntervalStreamMaxMs = double(pcrStepMaxBytes) / (r.bitrate / 8) * 1000;
    r.pcrAccuracyMeasured = figures.rates > 0;
    if (r.pcrAccuracyMeasured) {
        r.pcrAccuracyNs = figures.accuracyNs;
        r.pcrJitterUs = figures.jitterUs;
        r.pcrBitrate = double(figures.rateSum / figures.rates);
    }
    r.repetitionOk = r.pcrRepetitionMeasured && r.pcrIntervalMaxMs <= MAX_PCR_INTERVAL_MS;
    r.accuracyOk = r.pcrAccuracyMeasured && r.pcrAccuracyNs <= MAX_PCR_ACCURACY_NS;
    return r;
}

tstimeline tsmonitor::history() const
{
    tstimeline copy = timeline;
    copy.closeSecond();
    pcrFigures unused;
    for (const pcrClock &clock : clocks)
        judge(clock, unused, &copy);
    return copy;
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
