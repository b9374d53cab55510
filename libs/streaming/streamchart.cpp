#include "streamchart.h"

#include "streamhealth.h"

#include <QDateTime>
#include <QPen>
#include <QVBoxLayout>
#include <QVector>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <cmath>

namespace
{
const QColor SENT_COLOR(0x1f, 0x5f, 0xbf);
const QColor DEVICE_COLOR(0xef, 0x6c, 0x00);
const QColor LOCKED_COLOR(0x2e, 0x9d, 0x4a);
const QColor NOT_LOCKED_COLOR(0xd3, 0x2f, 0x2f);
// The lock markers sit at 1 on a hidden 0..20 axis: a band along the bottom of the plot.
constexpr double LOCK_AXIS_TOP = 20;
constexpr double LOCK_BAND = 1;

QScatterSeries *lockSeries(const QString &name, const QColor &color)
{
    auto *series = new QScatterSeries;
    series->setName(name);
    series->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    series->setMarkerSize(7);
    series->setColor(color);
    series->setBorderColor(color);
    return series;
}
} // namespace

streamchart::streamchart(QWidget *parent)
    : QGroupBox(QStringLiteral("STREAM HEALTH - LAST 5 MINUTES"), parent)
    , chart(new QChart)
    , timeAxis(new QDateTimeAxis)
    , rateAxis(new QValueAxis)
    , lockAxis(new QValueAxis)
    , sent(new QLineSeries)
    , locked(lockSeries(QStringLiteral("IP input locked"), LOCKED_COLOR))
    , notLocked(lockSeries(QStringLiteral("IP input not locked"), NOT_LOCKED_COLOR))
{
    // Drawn over the page's trees while shown.
    setAutoFillBackground(true);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignTop);
    timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    timeAxis->setTickCount(6);
    rateAxis->setTitleText(QStringLiteral("Mbit/s"));
    rateAxis->setLabelFormat(QStringLiteral("%.1f"));
    lockAxis->setRange(0, LOCK_AXIS_TOP);
    lockAxis->setVisible(false);
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(rateAxis, Qt::AlignLeft);
    chart->addAxis(lockAxis, Qt::AlignRight);

    sent->setName(QStringLiteral("Sent by this run"));
    sent->setPen(QPen(SENT_COLOR, 3));
    chart->addSeries(sent);
    sent->attachAxis(timeAxis);
    sent->attachAxis(rateAxis);
    deviceStretch(0);
    for (QScatterSeries *series : { locked, notLocked }) {
        chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(lockAxis);
    }

    view = new QChartView(chart, this);
    view->setRenderHint(QPainter::Antialiasing);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view);
    display(streamhealth());
}

QLineSeries *streamchart::deviceStretch(int index)
{
    while (device.size() <= index) {
        auto *series = new QLineSeries;
        series->setName(QStringLiteral("Modulator raw bitrate"));
        // Dashed over the solid line sent: where both agree, both stay visible.
        series->setPen(QPen(DEVICE_COLOR, 2, Qt::DashLine));
        chart->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(rateAxis);
        // One legend entry for all stretches.
        if (!device.isEmpty()) {
            for (auto *marker : chart->legend()->markers(series))
                marker->setVisible(false);
        }
        device.append(series);
    }
    return device[index];
}

QList<QLineSeries *> streamchart::deviceSeries() const
{
    return device.mid(0, deviceUsed);
}

void streamchart::display(const streamhealth &health)
{
    const int n = health.size();
    const qint64 newest = n > 0 ? health.at(n - 1).atMs : QDateTime::currentMSecsSinceEpoch();
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(newest - qint64(streamhealth::SECONDS) * 1000),
        QDateTime::fromMSecsSinceEpoch(newest));

    QVector<QPointF> sentPoints;
    QVector<QPointF> lockedPoints;
    QVector<QPointF> notLockedPoints;
    QVector<QPointF> stretch;
    int stretches = 0;
    double top = 0;
    const auto closeStretch = [&]() {
        if (!stretch.isEmpty())
            deviceStretch(stretches++)->replace(stretch);
        stretch.clear();
    };
    for (int i = 0; i < n; ++i) {
        const streamhealth::sample &s = health.at(i);
        const double x = double(s.atMs);
        sentPoints.append(QPointF(x, s.sentBps / 1e6));
        top = std::max(top, s.sentBps / 1e6);
        if (s.deviceRawBps >= 0) {
            stretch.append(QPointF(x, s.deviceRawBps / 1e6));
            top = std::max(top, s.deviceRawBps / 1e6);
        } else {
            closeStretch();
        }
        if (s.deviceLock == streamhealth::inputLock::Locked)
            lockedPoints.append(QPointF(x, LOCK_BAND));
        else if (s.deviceLock == streamhealth::inputLock::NotLocked)
            notLockedPoints.append(QPointF(x, LOCK_BAND));
    }
    closeStretch();
    for (int k = stretches; k < deviceUsed; ++k)
        device[k]->clear();
    deviceUsed = stretches;
    sent->replace(sentPoints);
    locked->replace(lockedPoints);
    notLocked->replace(notLockedPoints);
    // Headroom above the highest rate, on round ticks.
    rateAxis->setRange(0, std::max(1.0, top * 1.15));
    rateAxis->applyNiceNumbers();
}
