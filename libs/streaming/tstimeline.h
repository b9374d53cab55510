#pragma once
// A received stream's figures over time, for the report's charts: one point per second from the first
// arrival, in bounded memory. A run longer than MAX_POINTS seconds merges neighbouring points, so each then
// spans twice the seconds: counts are summed, gap and PCR figures are those of the point's worst second.
// Fed by tsmonitor; single-threaded.

#include <QVector>

#include <vector>

class tstimeline
{
public:
    struct point {
        quint64 bytes = 0; // TS bytes that arrived
        quint64 datagrams = 0;
        quint64 ccErrors = 0;
        quint64 pcrDiscontinuities = 0;
        quint64 syncLosses = 0;
        // Negative: nothing measured in the point.
        double gapP50Us = -1;
        double gapP99Us = -1;
        double gapMaxUs = -1;
        double pcrIntervalMs = -1; // longest PCR interval ending in the point, by arrival
        double pcrAccuracyNs = -1; // largest |PCR - fit on byte position| of the PCRs that arrived in it
    };
    struct ccEvent {
        double seconds; // after the first arrival
        quint16 pid;
    };

    // An hour at one point a second; beyond, the points merge (about 200 KB whatever the run's length).
    static constexpr int MAX_POINTS = 3600;
    static constexpr int MAX_CC_EVENTS = 100;
    // Gaps kept to rank one second's percentiles: over 2.7 Gbit/s of 7-packet datagrams; beyond, only the max.
    static constexpr int MAX_GAPS_PER_SECOND = 1 << 18;

    // The first arrival: second 0.
    void start(qint64 originNs);
    bool started() const { return isStarted; }
    // The point holding an arrival, merged as needed; arrivals before the origin go to the first.
    point &at(qint64 arrivalNs);
    // The gap between two datagrams, counted in the second the later one arrived in.
    void gap(qint64 arrivalNs, qint64 gapNs);
    void ccError(qint64 arrivalNs, quint16 pid);
    // Ranks the gaps of the second still open; call before reading a copy.
    void closeSecond();

    int secondsPerPoint() const { return span; }
    const QVector<point> &points() const { return line; }
    const QVector<ccEvent> &ccEvents() const { return events; }
    quint64 ccErrorsNotListed() const { return unlisted; }

private:
    qint64 secondOf(qint64 arrivalNs) const;

    bool isStarted = false;
    qint64 origin = 0;
    int span = 1;
    QVector<point> line;
    QVector<ccEvent> events;
    quint64 unlisted = 0;
    qint64 gapSecond = -1;
    qint64 gapSecondMax = 0;
    std::vector<qint64> gaps;
};
