#pragma once
// The Streaming page's chart of the last five minutes of a run: the rate sent, and the modulator's reported raw
// bitrate and IP input lock, on one time axis. Shows a streamhealth ring; GUI thread only.

#include <QGroupBox>
#include <QList>

#include <QtCharts/qchartglobal.h>

// Qt 5 keeps the chart classes in a namespace of their own, Qt 6 in Qt's.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE
using QtCharts::QChart;
using QtCharts::QChartView;
using QtCharts::QDateTimeAxis;
using QtCharts::QLineSeries;
using QtCharts::QScatterSeries;
using QtCharts::QValueAxis;
#else
QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_END_NAMESPACE
#endif

class streamhealth;

class streamchart : public QGroupBox
{
    Q_OBJECT
public:
    explicit streamchart(QWidget *parent);

    // Redraws from the ring: the five minutes up to its newest sample.
    void display(const streamhealth &health);

    // What is drawn, for the tests: rates in Mbit/s over milliseconds since the epoch.
    QLineSeries *sentSeries() const { return sent; }
    // The device's rate, one series per stretch of fresh readings (a gap between stretches stays a gap).
    QList<QLineSeries *> deviceSeries() const;
    QScatterSeries *lockedSeries() const { return locked; }
    QScatterSeries *notLockedSeries() const { return notLocked; }

private:
    QLineSeries *deviceStretch(int index);

    QChart *chart;
    QChartView *view;
    QDateTimeAxis *timeAxis;
    QValueAxis *rateAxis;
    QValueAxis *lockAxis;
    QLineSeries *sent;
    QList<QLineSeries *> device;
    int deviceUsed = 0;
    QScatterSeries *locked;
    QScatterSeries *notLocked;
};
