#pragma once
// The "Streaming" page: loads a transport stream file and shows its analysis, holds the broadcast
// options, and drives one streaming run at a time (play, pause, stop, loop, seek). GUI thread only;
// the run's position and end-of-file notices arrive as queued calls.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

#include "analysisnode.h"
#include "program_info.h"
#include "streamhealth.h"

namespace Ui
{
class streamingpanel;
}

class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QPushButton;
class QStandardItemModel;
class QTimer;
class streamchart;
class streaming;
class streamingQSlider;
class streamingtools;
class tspcrmeasure;

class streamingpanel : public QWidget
{
    Q_OBJECT
public:
    enum pageState { Stopped = 0, Paused = 1, Playing = 2, Dragging = 3 };
    static constexpr qint64 MIN_BITRATE = 100000;
    static constexpr qint64 MAX_BITRATE = 65000000;
    static constexpr quint8 PACKETS_PER_DATAGRAM = 7;
    static constexpr int PAUSE_BLINK_MS = 700;

    explicit streamingpanel(QWidget *parent);
    ~streamingpanel() override;

    // The modulator's IP input as the device reported it, read by "Same as modulator" at Play; the main window
    // hands the page where to read it. Without a source, or with empty texts, the address is not known yet.
    struct modulatorInput {
        QString address;
        QString port;
    };
    void setModulatorInputSource(std::function<modulatorInput()> source);
    // The modulator's latest status reading, for the chart; the main window hands the page where to read it.
    void setModulatorStatusSource(std::function<streamhealth::deviceReading()> source);

    // What the page holds, for the main window's tests and the end-to-end run.
    int currentState() const { return state; }
    int currentLoopState() const { return loopState; }
    qint64 currentBitrate() const { return bitrate; }
    qint64 currentDuration() const { return duration; }
    qint64 currentPosition() const { return position; }
    quint64 currentFileSize() const { return fileSize; }
    QString currentFileName() const { return fileName; }
    streaming *currentEngine() const { return engine; }
    const streamingtools &currentTools() const { return *tools; }
    bool isRtpEnabled() const { return rtpEnabled; }
    streamingQSlider *seekSlider() const { return slider; }
    QStandardItemModel *fileModel() const { return fileInfoModel; }
    QStandardItemModel *programModel() const { return programTreeModel; }
    QStandardItemModel *pidModel() const { return pidTreeModel; }
    const streamhealth &healthHistory() const { return health; }
    streamchart *healthChart() const { return chart; }

    // The file-information, program and PID trees as a model, one item per node.
    static void fillModel(QStandardItemModel *model, const QList<analysisnode> &nodes);

signals:
    void moveSliderAllowed(int value);

public slots:
    void setNewStreamingTools(streamingtools &streamParam);

private slots:
    void on_loop_pushButton_clicked();
    void on_file_pushButton_clicked();
    void on_ipConfig_checkBox_stateChanged(int arg1);
    void bitrateLineSlot(QString arg1);
    void ipPortLineSlot(QString arg1);
    void addressLineSlot(QString arg);
    void streamSliderChangedValue_sliderReleased();
    void streamSlider_sliderPressed();
    void streamSlider_wheel(int value);
    void loopDisable_StopStreaming();
    void streamingPauseAnimationEnd();
    void RTPEnaSlot(int value);

private:
    // Connected by pointer: named on_..., they would otherwise be taken for by-name form slots.
    void on_play_pause_qbutton_clicked();
    void on_stop_qbutton_clicked();
    void on_position_changed(const quint64 &currentTime);

    bool checkBeforeStreaming();
    // The address and port of the next run, typed or from the device, checked alike; boxes what is refused.
    bool checkDestination();
    void reportSendFailure();
    void startStreaming();
    void stopStreaming();
    void stopPauseBlink();
    void animatePause(qreal from, qreal to);
    void setBitrateField(qint64 value);
    void updateDuration();
    void rebuildProgramTrees();
    void recordHealth();
    void showChart(bool shown);

    Ui::streamingpanel *ui;
    std::function<modulatorInput()> modulatorSource;
    std::function<streamhealth::deviceReading()> statusSource;
    QString fileName;
    int state = Stopped;
    int loopState;
    qint64 bitrate = 0;
    qint64 duration = 0;
    qint64 position = 0;
    quint64 fileSize = 0;
    streaming *engine = nullptr;
    qint64 syncOffset = 0;
    streamingQSlider *slider = nullptr;
    streamingtools *tools = nullptr;
    QString lastValidAddress;
    bool bitrateEdited = false;
    tspcrmeasure *measure = nullptr;
    QList<program_info> programs;
    QGraphicsOpacityEffect *pauseEffect = nullptr;
    QPropertyAnimation *pauseAnimation = nullptr;
    bool pauseFadeUp = false;
    bool rtpEnabled = false;
    QStandardItemModel *fileInfoModel;
    QStandardItemModel *programTreeModel;
    QStandardItemModel *pidTreeModel;
    QList<QMetaObject::Connection> runLinks;
    // Where the run sends, as checked at Play.
    QHostAddress engineDestination;
    quint16 enginePort = 0;
    // Send figures of the run at the last position report, and whether its refused sends were reported.
    quint64 checkedSent = 0;
    quint64 checkedErrors = 0;
    bool sendFailureReported = false;
    // The chart of the run's last minutes: sampled once a second while a run exists, kept after it stops.
    streamhealth health;
    QTimer *healthTimer;
    QElapsedTimer healthClock;
    streamchart *chart;
    QPushButton *chartButton;
};
