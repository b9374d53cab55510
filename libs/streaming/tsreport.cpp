#include "tsreport.h"

#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <tuple>

namespace
{
// Chart geometry, in SVG user units (pixels at 100 %).
constexpr int WIDTH = 960;
constexpr int LEFT = 78;
constexpr int RIGHT = 16;
constexpr int TOP = 34;
constexpr int BOTTOM = 30;
constexpr int PLOT_HEIGHT = 150;
constexpr int HEIGHT = TOP + PLOT_HEIGHT + BOTTOM;
constexpr int PLOT_WIDTH = WIDTH - LEFT - RIGHT;

const char *const OK_COLOR = "#1a7f37";
const char *const FAIL_COLOR = "#c62828";
const char *const BITRATE_COLOR = "#1f5fbf";
const char *const BOUND_COLOR = "#c62828";

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// With its offset from UTC, so a report read elsewhere tells the same moment.
QString timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

QString number(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString clockText(double seconds, bool hours)
{
    const qint64 s = qint64(std::llround(seconds));
    const QString mmss = QStringLiteral("%1:%2")
                             .arg(hours ? (s / 60) % 60 : s / 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                             .arg(s % 60, 2, 10, QLatin1Char('0'));
    return hours ? QStringLiteral("%1:").arg(s / 3600) + mmss : mmss;
}

// 1, 2 or 5 times a power of ten, at least `value`.
double niceCeiling(double value)
{
    if (value <= 0)
        return 1;
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : { 1.0, 2.0, 5.0, 10.0 }) {
        if (step * decade >= value * (1 - 1e-9))
            return step * decade;
    }
    return 10 * decade;
}

struct line {
    QString name;
    const char *color;
    QVector<double> values; // one per point; negative or NaN: nothing there
    bool dashed = false;
};

struct bound {
    double value;
    QString label;
};

struct chart {
    QString title;
    QString unit;
    bool logScale = false;
    QVector<line> lines;
    QVector<bound> bounds;
    QVector<line> bars; // counts per point, drawn as bars from zero
    QVector<int> marks; // points with continuity errors: a red tick across the plot
};

class plot
{
public:
    plot(const chart &c, double secondsPerPoint, double seconds)
        : c(c)
        , span(secondsPerPoint)
        , total(std::max(seconds, 1.0))
    {
        double low = std::numeric_limits<double>::infinity();
        double high = 0;
        const auto look = [&](double v) {
            if (!(v >= 0))
                return;
            high = std::max(high, v);
            if (v > 0)
                low = std::min(low, v);
        };
        for (const line &l : c.lines)
            std::for_each(l.values.begin(), l.values.end(), look);
        for (const line &l : c.bars)
            std::for_each(l.values.begin(), l.values.end(), look);
        for (const bound &b : c.bounds)
            look(b.value);
        if (c.logScale) {
            bottomDecade = std::isfinite(low) ? std::floor(std::log10(low)) : 0;
            topDecade = std::max(bottomDecade + 1, std::ceil(std::log10(std::max(high, 1e-300))));
        } else {
            // Five ticks of a round step; whole ones for counts.
            const double step = niceCeiling(high * 1.05 / 5);
            top = 5 * (c.bars.isEmpty() ? step : std::max(1.0, step));
        }
    }

    double x(double seconds) const { return LEFT + PLOT_WIDTH * std::min(1.0, seconds / total); }
    double xOfPoint(int i) const { return x(std::min(total, (i + 0.5) * span)); }
    double y(double value) const
    {
        double share = 0;
        if (c.logScale)
            share = value > 0 ? (std::log10(value) - bottomDecade) / (topDecade - bottomDecade) : 0;
        else
            share = value / top;
        return TOP + PLOT_HEIGHT * (1 - std::clamp(share, 0.0, 1.0));
    }

    QString svg() const
    {
        QString s;
        s += QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
            "role=\"img\" aria-label=\"%3\">\n")
                 .arg(WIDTH)
                 .arg(HEIGHT)
                 .arg(escaped(c.title));
        s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"plot\"/>\n")
                 .arg(LEFT)
                 .arg(TOP)
                 .arg(PLOT_WIDTH)
                 .arg(PLOT_HEIGHT);
        s += QStringLiteral("<text x=\"%1\" y=\"18\" class=\"title\">%2 <tspan class=\"unit\">(%3)</tspan></text>\n")
                 .arg(LEFT)
                 .arg(escaped(c.title), escaped(c.unit));
        s += legend();
        s += yAxis();
        s += xAxis();
        s += bars();
        for (const bound &b : c.bounds) {
            s += QStringLiteral(
                "<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"%4\" stroke-dasharray=\"6 4\"/>\n"
                "<text x=\"%5\" y=\"%6\" class=\"bound\" text-anchor=\"end\">%7</text>\n")
                     .arg(LEFT)
                     .arg(LEFT + PLOT_WIDTH)
                     .arg(number(y(b.value)))
                     .arg(QLatin1String(BOUND_COLOR))
                     .arg(LEFT + PLOT_WIDTH - 4)
                     .arg(number(y(b.value) - 4))
                     .arg(escaped(b.label));
        }
        for (int i : c.marks) {
            s += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" stroke=\"%4\" stroke-width=\"1.5\" "
                                "opacity=\"0.7\"/>\n")
                     .arg(number(xOfPoint(i)))
                     .arg(TOP)
                     .arg(TOP + PLOT_HEIGHT)
                     .arg(QLatin1String(FAIL_COLOR));
        }
        // References (dashed) beneath what was measured.
        for (const line &l : c.lines) {
            if (l.dashed)
                s += polylines(l);
        }
        for (const line &l : c.lines) {
            if (!l.dashed)
                s += polylines(l);
        }
        s += QStringLiteral("</svg>\n");
        return s;
    }

private:
    // Right-aligned above the plot, so a long title never runs into it.
    QString legend() const
    {
        QVector<std::tuple<QString, const char *, bool>> entries;
        for (const line &l : c.lines)
            entries.append({ l.name, l.color, l.dashed });
        for (const line &b : c.bars)
            entries.append({ b.name, b.color, false });
        if (!c.marks.isEmpty())
            entries.append({ QStringLiteral("continuity errors"), FAIL_COLOR, false });
        QString s;
        double at = LEFT + PLOT_WIDTH;
        for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
            const auto &[name, color, dashed] = *it;
            at -= 26 + name.size() * 6.2;
            s += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"14\" y2=\"14\" stroke=\"%3\" stroke-width=\"3\"%4/>"
                                "<text x=\"%5\" y=\"18\" class=\"legend\">%6</text>\n")
                     .arg(number(at))
                     .arg(number(at + 16))
                     .arg(QLatin1String(color))
                     .arg(dashed ? QStringLiteral(" stroke-dasharray=\"4 3\"") : QString())
                     .arg(number(at + 20))
                     .arg(escaped(name));
            at -= 12;
        }
        return s;
    }

    QString yAxis() const
    {
        QString s;
        QVector<double> ticks;
        if (c.logScale) {
            for (double d = bottomDecade; d <= topDecade + 1e-9; d += 1)
                ticks.append(std::pow(10.0, d));
        } else {
            for (int k = 0; k <= 5; ++k)
                ticks.append(top * k / 5);
        }
        // As many decimals as the step between ticks needs.
        const int decimals = c.logScale ? 0 : std::max(0, int(-std::floor(std::log10(top / 5) + 1e-9)));
        for (double t : ticks) {
            s += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" class=\"grid\"/>"
                                "<text x=\"%4\" y=\"%5\" class=\"tick\" text-anchor=\"end\">%6</text>\n")
                     .arg(LEFT)
                     .arg(LEFT + PLOT_WIDTH)
                     .arg(number(y(t)))
                     .arg(LEFT - 6)
                     .arg(number(y(t) + 4))
                     .arg(QString::number(t, 'f', decimals));
        }
        return s;
    }

    QString xAxis() const
    {
        static const double steps[]
            = { 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 14400, 21600, 43200, 86400 };
        double step = steps[std::size(steps) - 1];
        for (double candidate : steps) {
            if (total / candidate <= 10) {
                step = candidate;
                break;
            }
        }
        const bool hours = total >= 3600;
        QString s;
        for (double t = 0; t <= total + 1e-9; t += step) {
            s += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" class=\"grid\"/>"
                                "<text x=\"%1\" y=\"%4\" class=\"tick\" text-anchor=\"middle\">%5</text>\n")
                     .arg(number(x(t)))
                     .arg(TOP)
                     .arg(TOP + PLOT_HEIGHT)
                     .arg(TOP + PLOT_HEIGHT + 18)
                     .arg(clockText(t, hours));
        }
        return s;
    }

    QString polylines(const line &l) const
    {
        QString s;
        QStringList run;
        const auto flush = [&]() {
            if (run.size() == 1) {
                const QStringList xy = run.first().split(QLatin1Char(','));
                s += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"2\" fill=\"%3\"/>\n")
                         .arg(xy.value(0), xy.value(1), QLatin1String(l.color));
            } else if (run.size() > 1) {
                s += QStringLiteral("<polyline fill=\"none\" stroke=\"%1\" stroke-width=\"2\"%2 points=\"%3\"/>\n")
                         .arg(QLatin1String(l.color))
                         .arg(l.dashed ? QStringLiteral(" stroke-dasharray=\"4 3\"") : QString())
                         .arg(run.join(QLatin1Char(' ')));
            }
            run.clear();
        };
        for (int i = 0; i < l.values.size(); ++i) {
            const double v = l.values[i];
            if (!(v >= 0) || (c.logScale && v <= 0)) {
                flush();
                continue;
            }
            run << number(xOfPoint(i)) + QLatin1Char(',') + number(y(v));
        }
        flush();
        return s;
    }

    // The bar series of a point side by side, each its count high.
    QString bars() const
    {
        QString s;
        const double slot = std::max(1.0, double(PLOT_WIDTH) * span / total * 0.8);
        const double width = slot / std::max(1, int(c.bars.size()));
        for (int k = 0; k < c.bars.size(); ++k) {
            const line &b = c.bars[k];
            for (int i = 0; i < b.values.size(); ++i) {
                if (!(b.values[i] > 0))
                    continue;
                s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                         .arg(number(xOfPoint(i) - slot / 2 + k * width))
                         .arg(number(y(b.values[i])))
                         .arg(number(width))
                         .arg(number(TOP + PLOT_HEIGHT - y(b.values[i])))
                         .arg(QLatin1String(b.color));
            }
        }
        return s;
    }

    const chart &c;
    double span;
    double total;
    double top = 1;
    double bottomDecade = 0;
    double topDecade = 1;
};

struct row {
    QString figure;
    QString value;
    QString bound;
    QString verdict; // "pass", "fail", "not measured" or empty for a figure without a bound
};

QString verdictCell(const QString &verdict)
{
    if (verdict.isEmpty())
        return QStringLiteral("<td></td>");
    const QString cls = verdict == QLatin1String("pass") ? QStringLiteral("pass") : QStringLiteral("fail");
    return QStringLiteral("<td class=\"%1\">%2</td>").arg(cls, escaped(verdict));
}

QVector<row> figureRows(const tsmonitor::report &r)
{
    const QString notMeasured = QStringLiteral("not measured");
    const auto judged = [&](bool measured, bool ok) {
        return measured ? (ok ? QStringLiteral("pass") : QStringLiteral("fail")) : notMeasured;
    };
    const auto count = [](quint64 n) { return n == 0 ? QStringLiteral("pass") : QStringLiteral("fail"); };
    QVector<row> rows;
    const bool rated = r.bitrateMeasured && r.pcrAccuracyMeasured && r.pcrBitrate > 0;
    const double deviation = rated ? (r.bitrate - r.pcrBitrate) / r.pcrBitrate : 0;
    rows.append({ QStringLiteral("TS bitrate (arrival)"),
        r.bitrateMeasured ? QString::number(std::llround(r.bitrate)) + QStringLiteral(" bit/s") : notMeasured,
        QStringLiteral("within %1 % of the PCR rate").arg(tsmonitor::MAX_RATE_DEVIATION * 100),
        judged(rated, std::fabs(deviation) <= tsmonitor::MAX_RATE_DEVIATION) });
    rows.append({ QStringLiteral("PCR bitrate"),
        r.pcrAccuracyMeasured ? QString::number(std::llround(r.pcrBitrate)) + QStringLiteral(" bit/s") : notMeasured,
        QString(), QString() });
    rows.append(
        { QStringLiteral("Continuity errors"), QString::number(r.ccErrors), QStringLiteral("0"), count(r.ccErrors) });
    rows.append({ QStringLiteral("Sync losses"),
        QStringLiteral("%1 (%2 sync byte errors)").arg(r.syncLosses).arg(r.syncByteErrors), QStringLiteral("0"),
        count(r.syncLosses) });
    rows.append({ QStringLiteral("PCR discontinuities"),
        QStringLiteral("%1 in %2 PCRs").arg(r.pcrDiscontinuities).arg(r.pcrCount),
        QStringLiteral("0, and PCRs present"),
        r.pcrCount == 0 ? QStringLiteral("fail") : count(r.pcrDiscontinuities) });
    rows.append({ QStringLiteral("PCR repetition (arrival)"),
        r.pcrRepetitionMeasured
            ? QStringLiteral("max %1 ms, mean %2 ms").arg(number(r.pcrIntervalMaxMs), number(r.pcrIntervalMeanMs))
            : notMeasured,
        QStringLiteral("≤ %1 ms").arg(tsmonitor::MAX_PCR_INTERVAL_MS),
        judged(r.pcrRepetitionMeasured, r.repetitionOk) });
    rows.append({ QStringLiteral("PCR repetition (in the stream)"),
        r.pcrRepetitionMeasured && r.bitrateMeasured ? QStringLiteral("max %1 ms").arg(number(r.pcrIntervalStreamMaxMs))
                                                     : notMeasured,
        QString(), QString() });
    rows.append({ QStringLiteral("PCR accuracy"),
        r.pcrAccuracyMeasured ? number(r.pcrAccuracyNs) + QStringLiteral(" ns") : notMeasured,
        QStringLiteral("± %1 ns").arg(tsmonitor::MAX_PCR_ACCURACY_NS), judged(r.pcrAccuracyMeasured, r.accuracyOk) });
    rows.append({ QStringLiteral("PCR arrival jitter"),
        r.pcrAccuracyMeasured ? number(r.pcrJitterUs) + QStringLiteral(" µs") : notMeasured, QString(), QString() });
    rows.append({ QStringLiteral("Datagram gap"),
        r.datagrams >= 2 ? QStringLiteral("mean %1, p50 %2, p99 %3, max %4 µs")
                               .arg(number(r.gapMeanUs), number(r.gapP50Us), number(r.gapP99Us), number(r.gapMaxUs))
                         : notMeasured,
        QString(), QString() });
    rows.append({ QStringLiteral("Worst 1 ms"), QStringLiteral("%1 datagrams").arg(r.maxPerMs), QString(), QString() });
    rows.append({ QStringLiteral("Datagrams"),
        QStringLiteral("%1 (%2 RTP, %3 not 7 packets, %4 RTP sequence errors)")
            .arg(r.datagrams)
            .arg(r.rtpDatagrams)
            .arg(r.partialDatagrams)
            .arg(r.rtpSequenceErrors),
        QString(), QString() });
    rows.append({ QStringLiteral("Receiver drops"),
        QStringLiteral("%1 datagrams lost in this receiver's socket queue").arg(r.receiverDrops), QString(),
        QString() });
    return rows;
}

QString page(const QString &title, const QString &body)
{
    return QStringLiteral(
        "<!DOCTYPE html>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
        "<title>%1</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 24px; color: #222; max-width: 980px; }\n"
        "h1 { font-size: 22px; margin-bottom: 4px; } h2 { font-size: 17px; margin-top: 28px; }\n"
        ".meta { color: #555; margin-top: 0; }\n"
        ".verdict { font-size: 18px; font-weight: bold; padding: 8px 12px; border-radius: 4px; color: #fff; }\n"
        ".verdict.pass { background: %2; } .verdict.fail { background: %3; }\n"
        "table { border-collapse: collapse; margin-top: 8px; }\n"
        "th, td { border: 1px solid #ccc; padding: 4px 10px; text-align: left; }\n"
        "th { background: #eee; } td.pass { color: %2; font-weight: bold; }\n"
        "td.fail { color: %3; font-weight: bold; }\n"
        "svg { display: block; margin: 10px 0; font-family: sans-serif; }\n"
        "svg .plot { fill: #fcfcfc; stroke: #999; } svg .grid { stroke: #e3e3e3; }\n"
        "svg .title { font-size: 14px; font-weight: bold; } svg .unit { font-weight: normal; fill: #555; }\n"
        "svg .tick, svg .legend, svg .bound { font-size: 11px; fill: #444; } svg .bound { fill: %3; }\n"
        ".note { color: #555; font-size: 13px; }\n"
        "</style>\n</head>\n<body>\n%4</body>\n</html>\n")
        .arg(escaped(title), QLatin1String(OK_COLOR), QLatin1String(FAIL_COLOR), body);
}
} // namespace

namespace tsreport
{

QString html(const tsmonitor::report &r, const tstimeline &history, const QString &listen, const QDateTime &started)
{
    const QString title = QStringLiteral("Stream report: %1").arg(listen);
    QString body;
    body += QStringLiteral("<h1>%1</h1>\n<p class=\"meta\">From %2 for %3 s: %4 datagrams, %5 packets.</p>\n")
                .arg(escaped(title), escaped(timeText(started)), number(r.seconds))
                .arg(r.datagrams)
                .arg(r.packets);
    const QStringList faults = r.faults();
    if (faults.isEmpty()) {
        body += QStringLiteral("<p class=\"verdict pass\">PASS</p>\n");
    } else {
        body += QStringLiteral("<p class=\"verdict fail\">FAIL</p>\n<ul>\n");
        for (const QString &fault : faults)
            body += QStringLiteral("<li>%1</li>\n").arg(escaped(fault));
        body += QStringLiteral("</ul>\n");
    }

    body += QStringLiteral("<h2>Figures</h2>\n<table>\n<tr><th>Figure</th><th>Measured</th><th>Bound</th>"
                           "<th>Verdict</th></tr>\n");
    for (const row &rw : figureRows(r)) {
        body += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td>%4</tr>\n")
                    .arg(escaped(rw.figure), escaped(rw.value), escaped(rw.bound), verdictCell(rw.verdict));
    }
    body += QStringLiteral("</table>\n");

    // Series over the timeline's points.
    const QVector<tstimeline::point> &points = history.points();
    const int span = history.secondsPerPoint();
    const auto series = [&points](const std::function<double(const tstimeline::point &)> &value) {
        QVector<double> v;
        v.reserve(points.size());
        for (const tstimeline::point &p : points)
            v.append(value(p));
        return v;
    };
    // The last point may cover less than its span: its rate is over the time it had.
    const auto pointSeconds = [&](int i) {
        const double start = double(i) * span;
        return std::clamp(r.seconds - start, 1e-9, double(span));
    };
    QVector<double> mbps;
    for (int i = 0; i < points.size(); ++i)
        mbps.append(points[i].datagrams ? points[i].bytes * 8 / pointSeconds(i) / 1e6 : 0);
    QVector<int> errorPoints;
    for (int i = 0; i < points.size(); ++i) {
        if (points[i].ccErrors)
            errorPoints.append(i);
    }

    body += QStringLiteral("<h2>Over time</h2>\n");
    chart rate { QStringLiteral("TS bitrate"), QStringLiteral("Mbit/s"), false,
        { { QStringLiteral("arrived"), BITRATE_COLOR, mbps } }, {}, {}, errorPoints };
    if (r.pcrAccuracyMeasured)
        rate.lines.append(
            { QStringLiteral("PCR rate"), "#7b1fa2", QVector<double>(points.size(), r.pcrBitrate / 1e6), true });
    chart gaps { QStringLiteral("Datagram gap"), QStringLiteral("µs, log scale"), true,
        { { QStringLiteral("p50"), OK_COLOR, series([](const tstimeline::point &p) { return p.gapP50Us; }) },
            { QStringLiteral("p99"), "#ef6c00", series([](const tstimeline::point &p) { return p.gapP99Us; }) },
            { QStringLiteral("max"), FAIL_COLOR, series([](const tstimeline::point &p) { return p.gapMaxUs; }) } },
        {}, {}, {} };
    chart repetition { QStringLiteral("PCR repetition"), QStringLiteral("longest interval, ms"), false,
        { { QStringLiteral("by arrival"), BITRATE_COLOR,
            series([](const tstimeline::point &p) { return p.pcrIntervalMs; }) } },
        { { tsmonitor::MAX_PCR_INTERVAL_MS, QStringLiteral("%1 ms").arg(tsmonitor::MAX_PCR_INTERVAL_MS) } }, {}, {} };
    chart accuracy { QStringLiteral("PCR accuracy"), QStringLiteral("largest offset, ns"), false,
        { { QStringLiteral("|PCR - fit|"), BITRATE_COLOR,
            series([](const tstimeline::point &p) { return p.pcrAccuracyNs; }) } },
        { { tsmonitor::MAX_PCR_ACCURACY_NS, QStringLiteral("%1 ns").arg(tsmonitor::MAX_PCR_ACCURACY_NS) } }, {}, {} };
    chart events { QStringLiteral("Errors"), QStringLiteral("count"), false, {}, {},
        { { QStringLiteral("continuity errors"), FAIL_COLOR,
              series([](const tstimeline::point &p) { return double(p.ccErrors); }) },
            { QStringLiteral("PCR discontinuities"), "#ef6c00",
                series([](const tstimeline::point &p) { return double(p.pcrDiscontinuities); }) },
            { QStringLiteral("sync losses"), "#6d4c41",
                series([](const tstimeline::point &p) { return double(p.syncLosses); }) } },
        {} };
    for (const chart &c : { rate, gaps, repetition, accuracy, events })
        body += plot(c, span, r.seconds).svg();
    body += QStringLiteral("<p class=\"note\">%1</p>\n")
                .arg(span == 1 ? QStringLiteral("Each point is one second of arrivals.")
                               : QStringLiteral("Each point spans %1 s: counts and rates over the span, gap and PCR "
                                                "figures of its worst second.")
                                     .arg(span));

    const QVector<tstimeline::ccEvent> &ccEvents = history.ccEvents();
    if (!ccEvents.isEmpty()) {
        body += QStringLiteral("<h2>Continuity errors</h2>\n<table>\n<tr><th>Time</th><th>PID</th></tr>\n");
        for (const tstimeline::ccEvent &e : ccEvents) {
            body += QStringLiteral("<tr><td>%1 s</td><td>%2 (0x%3)</td></tr>\n")
                        .arg(number(e.seconds, 3))
                        .arg(e.pid)
                        .arg(e.pid, 4, 16, QLatin1Char('0'));
        }
        body += QStringLiteral("</table>\n");
        if (history.ccErrorsNotListed())
            body += QStringLiteral("<p class=\"note\">%1 more not listed.</p>\n").arg(history.ccErrorsNotListed());
    }
    return page(title, body);
}

QString emptyHtml(const QString &listen, const QDateTime &since, double waitedSeconds)
{
    const QString title = QStringLiteral("Stream report: %1").arg(listen);
    return page(title,
        QStringLiteral("<h1>%1</h1>\n<p class=\"meta\">From %2 for %3 s.</p>\n"
                       "<p class=\"verdict fail\">FAIL</p>\n<ul>\n<li>no datagram received</li>\n</ul>\n")
            .arg(escaped(title), escaped(timeText(since)), number(waitedSeconds)));
}

} // namespace tsreport
