#include "tstimeline.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr qint64 NS_PER_SECOND = 1000000000;

void keepWorst(double &into, double value)
{
    into = std::max(into, value);
}

void merge(tstimeline::point &into, const tstimeline::point &from)
{
    into.bytes += from.bytes;
    into.datagrams += from.datagrams;
    into.ccErrors += from.ccErrors;
    into.pcrDiscontinuities += from.pcrDiscontinuities;
    into.syncLosses += from.syncLosses;
    keepWorst(into.gapP50Us, from.gapP50Us);
    keepWorst(into.gapP99Us, from.gapP99Us);
    keepWorst(into.gapMaxUs, from.gapMaxUs);
    keepWorst(into.pcrIntervalMs, from.pcrIntervalMs);
    keepWorst(into.pcrAccuracyNs, from.pcrAccuracyNs);
}

// The smallest value with at least q of the values at or below it.
double rank(std::vector<qint64> &values, double q)
{
    const size_t k = size_t(std::max(1.0, std::ceil(q * double(values.size())))) - 1;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
    return double(values[k]);
}
} // namespace

void tstimeline::start(qint64 originNs)
{
    *this = tstimeline();
    isStarted = true;
    origin = originNs;
}

qint64 tstimeline::secondOf(qint64 arrivalNs) const
{
    return std::max<qint64>(0, arrivalNs - origin) / NS_PER_SECOND;
}

tstimeline::point &tstimeline::at(qint64 arrivalNs)
{
    const qint64 second = secondOf(arrivalNs);
    while (second / span >= MAX_POINTS) {
        QVector<point> merged((line.size() + 1) / 2);
        for (int i = 0; i < line.size(); ++i)
            merge(merged[i / 2], line[i]);
        line = merged;
        span *= 2;
    }
    const int index = int(second / span);
    if (index >= line.size())
        line.resize(index + 1);
    return line[index];
}

void tstimeline::gap(qint64 arrivalNs, qint64 gapNs)
{
    const qint64 second = secondOf(arrivalNs);
    if (second != gapSecond) {
        closeSecond();
        gapSecond = second;
    }
    gapSecondMax = std::max(gapSecondMax, gapNs);
    if (gaps.size() < size_t(MAX_GAPS_PER_SECOND))
        gaps.push_back(gapNs);
}

void tstimeline::closeSecond()
{
    if (gaps.empty())
        return;
    point &p = at(origin + gapSecond * NS_PER_SECOND);
    keepWorst(p.gapP50Us, rank(gaps, 0.50) / 1000);
    keepWorst(p.gapP99Us, rank(gaps, 0.99) / 1000);
    keepWorst(p.gapMaxUs, double(gapSecondMax) / 1000);
    gaps.clear();
    gapSecondMax = 0;
}

void tstimeline::ccError(qint64 arrivalNs, quint16 pid)
{
    ++at(arrivalNs).ccErrors;
    if (events.size() < MAX_CC_EVENTS)
        events.append({ double(std::max<qint64>(0, arrivalNs - origin)) / NS_PER_SECOND, pid });
    else
        ++unlisted;
}
