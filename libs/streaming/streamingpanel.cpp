#include "streamingpanel.h"
#include "ui_streamingpanel.h"

#include "analysistree.h"
#include "es_table.h"
#include "streamchart.h"
#include "streaming.h"
#include "streaminglog.h"
#include "streamingqslider.h"
#include "streamingtools.h"
#include "tsloop.h"
#include "tsparser.h"
#include "tspcrmeasure.h"
#include "uiprompts.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHeaderView>
#include <QHostAddress>
#include <QPropertyAnimation>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTimer>

#include <memory>

namespace
{
const char *const ICON_PLAY = ":/play.png";
const char *const ICON_PAUSE = ":/pause.png";
const char *const ICON_LOOP = ":/loop.png";
const char *const ICON_LOOP_LOCK = ":/loop-lock.png";
const char *const ICON_PADLOCK_OPEN = ":/padlock-open.png";
const char *const ICON_PADLOCK_CLOSED = ":/padlock-closed.png";

const char *const CRITICAL_TITLE = "Critical error";
const char *const BITRATE_RANGE_ERROR
    = "Bitrate calcul error. Please check the following condition : \n100 000 < bitrate < 65 000 000";
const char *const ADDRESS_RANGE_ERROR
    = "IP Streaming Address Error. Please check the following condition : \n224.0.0.0 < IP Address < 239.255.255.255";
const char *const PORT_RANGE_ERROR
    = "IP Streaming Port Error. Please check the following condition : \n0 < IP Port < 65536";
const char *const SEND_ERROR
    = "The stream cannot be sent to %1:%2 (%3). Please check the network route to the modulator.";
const char *const NO_MODULATOR_ADDRESS = "The modulator's IP input address is not known yet. Please connect to your "
                                         "modulator or uncheck \"Same as modulator\".";
const char *const OPEN_ERROR = "Unable to open transport stream file";
const char *const NO_PCR_WARNING = "No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps";
const char *const CALCUL_ERROR = "Bitrate calcul error. Default bitrate value is : 10 Mbps";

const char *const SHOW_CHART_TIP = "Show the chart of the last 5 minutes: rate sent, modulator's raw bitrate and lock";
const char *const HIDE_CHART_TIP = "Hide the chart (back to the file and decoder trees)";
// Over the file and decoder groups, which it covers while shown; below the button's group.
const QRect CHART_GEOMETRY(10, 145, 835, 430);
// Under the remaining time, at the controller group's right edge.
const QRect CHART_BUTTON_GEOMETRY(735, 106, 80, 24);
constexpr int HEALTH_PERIOD_MS = 1000;

const char *const BITRATE_PATTERN = "^[0-9]{1,8}$";
const char *const PORT_PATTERN = "^[0-9]{1,5}$";
// The dots match any character: only edits that keep a whole four-part address are accepted.
const char *const ADDRESS_PATTERN
    = "^((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?).)((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?).){2}"
      "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$";
const char *const DOTTED_QUAD_PATTERN
    = "^(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)([.](25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)){3}$";
constexpr int PORT_RANGE = 65536;

bool matches(const char *pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern))).match(text).hasMatch();
}

QIcon icon(const char *path)
{
    return QIcon(QString::fromLatin1(path));
}

QStandardItem *itemFor(const analysisnode &node)
{
    auto *item = new QStandardItem(node.text);
    item->setEditable(false);
    if (!node.icon.isEmpty())
        item->setIcon(QIcon(node.icon));
    if (!node.toolTip.isEmpty())
        item->setToolTip(node.toolTip);
    for (const analysisnode &child : node.children)
        item->appendRow(itemFor(child));
    return item;
}

// The measurement runs synchronously on this thread; the operator sees the wait.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
} // namespace

streamingpanel::streamingpanel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::streamingpanel)
    , loopState(tsloop::loopDisabled)
    , fileInfoModel(new QStandardItemModel(this))
    , programTreeModel(new QStandardItemModel(this))
    , pidTreeModel(new QStandardItemModel(this))
    , healthTimer(new QTimer(this))
{
    ui->setupUi(this);
    lastValidAddress = ui->address_lineEdit->text();
    tools = new streamingtools(this);

    slider = new streamingQSlider(ui->groupBox);
    // Built over the designed groups and hidden: the page looks as designed until the operator asks for the chart.
    chart = new streamchart(this);
    chart->setGeometry(CHART_GEOMETRY);
    chart->hide();
    chartButton = new QPushButton(QStringLiteral("Chart"), ui->groupBox);
    chartButton->setObjectName(QStringLiteral("chart_pushButton"));
    chartButton->setCheckable(true);
    chartButton->setGeometry(CHART_BUTTON_GEOMETRY);
    chartButton->setToolTip(tr(SHOW_CHART_TIP));
    healthTimer->setInterval(HEALTH_PERIOD_MS);

    ui->loop_pushButton->setToolTip(QStringLiteral("Loop disable"));
    ui->play_pause_pushButton->setToolTip(QStringLiteral("Play/Pause"));
    ui->stop_pushButton->setToolTip(QStringLiteral("Stop"));
    ui->address_lineEdit->setText(QStringLiteral("239.0.0.0"));
    ui->ipPortLine->setText(QStringLiteral("1234"));
    ui->file_lineEdit->setReadOnly(true);
    on_ipConfig_checkBox_stateChanged(ui->ipConfig_checkBox->checkState());

    ui->treeView->setModel(fileInfoModel);
    ui->treeView_2->setModel(programTreeModel);
    ui->treeView_3->setModel(pidTreeModel);
    // A line wider than its tree (a long service name) scrolls sideways instead of being cut.
    for (QTreeView *view : { ui->treeView, ui->treeView_2, ui->treeView_3 }) {
        view->header()->setStretchLastSection(false);
        view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    }

    connect(ui->play_pause_pushButton, &QPushButton::clicked, this, &streamingpanel::on_play_pause_qbutton_clicked);
    connect(ui->stop_pushButton, &QPushButton::clicked, this, &streamingpanel::on_stop_qbutton_clicked);
    connect(slider, &QSlider::sliderReleased, this, &streamingpanel::streamSliderChangedValue_sliderReleased);
    connect(slider, &QSlider::sliderPressed, this, &streamingpanel::streamSlider_sliderPressed);
    connect(slider, &streamingQSlider::emitWheelEvent, this, &streamingpanel::streamSlider_wheel);
    connect(ui->bitrate_line, &QLineEdit::textChanged, this, &streamingpanel::bitrateLineSlot);
    connect(ui->ipPortLine, &QLineEdit::textChanged, this, &streamingpanel::ipPortLineSlot);
    connect(ui->address_lineEdit, &QLineEdit::textChanged, this, &streamingpanel::addressLineSlot);
    connect(ui->RTPEna, &QCheckBox::stateChanged, this, &streamingpanel::RTPEnaSlot);
    connect(chartButton, &QPushButton::toggled, this, &streamingpanel::showChart);
    connect(healthTimer, &QTimer::timeout, this, &streamingpanel::recordHealth);
}

streamingpanel::~streamingpanel()
{
    // The run's thread must be stopped and joined before the page's widgets go.
    if (engine)
        stopStreaming();
    delete ui;
}

void streamingpanel::setModulatorInputSource(std::function<modulatorInput()> source)
{
    modulatorSource = std::move(source);
}

void streamingpanel::setModulatorStatusSource(std::function<streamhealth::deviceReading()> source)
{
    statusSource = std::move(source);
}

void streamingpanel::showChart(bool shown)
{
    chart->setVisible(shown);
    chart->raise();
    chartButton->setToolTip(tr(shown ? HIDE_CHART_TIP : SHOW_CHART_TIP));
}

void streamingpanel::recordHealth()
{
    if (!engine)
        return;
    health.record(QDateTime::currentMSecsSinceEpoch(), healthClock.elapsed(), engine->packetsSent(),
        statusSource ? statusSource() : streamhealth::deviceReading {});
    chart->display(health);
}

void streamingpanel::fillModel(QStandardItemModel *model, const QList<analysisnode> &nodes)
{
    model->clear();
    for (const analysisnode &node : nodes)
        model->appendRow(itemFor(node));
}

void streamingpanel::on_position_changed(const quint64 &currentTime)
{
    position = qint64(currentTime);
    ui->posCurrentTime_label->setText(streamingQSlider::timeText(currentTime));
    const qint64 left = duration - qint64(currentTime);
    // Past the end (a bitrate lowered behind a seek) the remaining time shows as zero, not as a wrap.
    ui->negCurrentTime_label->setText(QLatin1Char('-') + streamingQSlider::timeText(quint64(qMax<qint64>(0, left))));
    slider->setValue(int(qMin<quint64>(currentTime, quint64(INT_MAX))));
    reportSendFailure();
}

void streamingpanel::reportSendFailure()
{
    if (!engine || sendFailureReported)
        return;
    const quint64 sent = engine->datagramsSent();
    const quint64 errors = engine->sendErrors();
    // A second of stream in which every datagram was refused: the destination cannot be reached (no route, a
    // refused address). A lone refusal among sent datagrams (a full socket buffer) is not worth a box.
    const bool allRefused = errors > checkedErrors && sent == checkedSent;
    checkedSent = sent;
    checkedErrors = errors;
    if (!allRefused)
        return;
    // Once per run: the box's own event loop lets more reports in.
    sendFailureReported = true;
    UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE),
        tr(SEND_ERROR).arg(engineDestination.toString()).arg(enginePort).arg(engine->lastSendError()));
}

void streamingpanel::setBitrateField(qint64 value)
{
    ui->bitrate_line->setText(analysistree::groupedInteger(value));
}

void streamingpanel::updateDuration()
{
    duration = bitrate > 0 ? qint64(fileSize * 8 / quint64(bitrate)) : 0;
    slider->setMaximum(int(qMin<qint64>(duration, INT_MAX)));
}

bool streamingpanel::checkDestination()
{
    QString addressText = ui->address_lineEdit->text();
    QString portText = ui->ipPortLine->text();
    if (ui->ipConfig_checkBox->isChecked()) {
        const modulatorInput input = modulatorSource ? modulatorSource() : modulatorInput {};
        if (input.address.isEmpty()) {
            // Without a known device address the run would send nowhere while the page shows it playing.
            UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(NO_MODULATOR_ADDRESS));
            return false;
        }
        addressText = input.address;
        portText = input.port;
    }
    // What the device reports passes the checks a typed address and port pass: a multicast group written as
    // four numbers and three dots (the field's own pattern lets "239.1.2" through, which would go to 239.1.0.2),
    // a port from 1 to 65535 (port 0 refuses every datagram).
    engineDestination = QHostAddress(addressText);
    if (!matches(DOTTED_QUAD_PATTERN, addressText) || !engineDestination.isMulticast()) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(ADDRESS_RANGE_ERROR));
        return false;
    }
    const int number = portText.toInt();
    if (!matches(PORT_PATTERN, portText) || number <= 0 || number >= PORT_RANGE) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(PORT_RANGE_ERROR));
        return false;
    }
    enginePort = quint16(number);
    return true;
}

bool streamingpanel::checkBeforeStreaming()
{
    {
        // Rewriting the field must not count as an operator's edit.
        const QSignalBlocker blocker(ui->bitrate_line);
        if (bitrate >= MIN_BITRATE && bitrate <= MAX_BITRATE) {
            updateDuration();
            on_position_changed(0);
            setBitrateField(bitrate);
        } else {
            bitrate = bitrate > MAX_BITRATE ? MAX_BITRATE : MIN_BITRATE;
            setBitrateField(bitrate);
            updateDuration();
            UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(BITRATE_RANGE_ERROR));
            on_position_changed(0);
            return false;
        }
    }
    if (!checkDestination())
        return false;
    if (bitrateEdited) {
        bitrateEdited = false;
        rebuildProgramTrees();
    }
    return true;
}

void streamingpanel::on_play_pause_qbutton_clicked()
{
    switch (state) {
    case Stopped:
        if (fileName.isEmpty())
            return;
        if (checkBeforeStreaming())
            startStreaming();
        break;
    case Playing:
        state = Paused;
        ui->play_pause_pushButton->setIcon(icon(ICON_PLAY));
        ui->play_pause_pushButton->setToolTip(QStringLiteral("Play"));
        pauseEffect = new QGraphicsOpacityEffect(ui->play_pause_pushButton);
        ui->play_pause_pushButton->setGraphicsEffect(pauseEffect);
        pauseAnimation = new QPropertyAnimation(pauseEffect, "opacity", this);
        connect(pauseAnimation, &QPropertyAnimation::finished, this, &streamingpanel::streamingPauseAnimationEnd);
        pauseFadeUp = false;
        animatePause(1.0, 0.7);
        emit engine->toggle();
        break;
    case Paused:
        stopPauseBlink();
        state = Playing;
        ui->play_pause_pushButton->setIcon(icon(ICON_PAUSE));
        ui->play_pause_pushButton->setToolTip(QStringLiteral("Pause"));
        emit engine->toggle();
        break;
    case Dragging:
        emit engine->toggle();
        break;
    default:
        break;
    }
}

void streamingpanel::animatePause(qreal from, qreal to)
{
    pauseAnimation->setDuration(PAUSE_BLINK_MS);
    pauseAnimation->setStartValue(from);
    pauseAnimation->setEndValue(to);
    pauseAnimation->start();
}

void streamingpanel::streamingPauseAnimationEnd()
{
    if (!pauseAnimation)
        return;
    if (pauseFadeUp) {
        pauseFadeUp = false;
        animatePause(1.0, 0.7);
    } else {
        pauseFadeUp = true;
        animatePause(0.7, 1.0);
    }
}

void streamingpanel::stopPauseBlink()
{
    if (!pauseAnimation)
        return;
    disconnect(pauseAnimation, nullptr, this, nullptr);
    pauseAnimation->stop();
    pauseEffect->setOpacity(1.0);
    delete pauseAnimation;
    pauseAnimation = nullptr;
    // The button owns its effect; replacing it with none deletes it.
    ui->play_pause_pushButton->setGraphicsEffect(nullptr);
    pauseEffect = nullptr;
}

void streamingpanel::startStreaming()
{
    engine = new streaming(this, syncOffset, loopState, fileName, quint32(bitrate), tools, rtpEnabled,
        engineDestination, enginePort, PACKETS_PER_DATAGRAM);
    // Timestamps of each stream follow its own program's clock when the clock stage rewrites them.
    engine->assignPcrPids(programs);
    checkedSent = 0;
    checkedErrors = 0;
    sendFailureReported = false;
    runLinks = {
        connect(engine, &streaming::positionHasChanged, this, &streamingpanel::on_position_changed),
        connect(this, &streamingpanel::moveSliderAllowed, engine, &streaming::userChangedPosition),
        connect(engine, &streaming::loopDisable_emitStopStreaming, this, &streamingpanel::loopDisable_StopStreaming),
    };
    on_position_changed(0);
    healthClock.start();
    health.start(0, engine->packetsSent());
    chart->display(health);
    healthTimer->start();
    engine->startStreaming();
    qCInfo(lcStreaming) << "streaming" << fileName << "to" << engineDestination << enginePort << "at" << bitrate
                        << "bit/s";

    state = Playing;
    ui->play_pause_pushButton->setIcon(icon(ICON_PAUSE));
    ui->padlock_info->setIcon(icon(ICON_PADLOCK_CLOSED));
    slider->setEnabled(true);
    for (QWidget *field : std::initializer_list<QWidget *> {
             ui->ipConfig_checkBox, ui->bitrate_line, ui->address_lineEdit, ui->ipPortLine, ui->RTPEna })
        field->setEnabled(false);
}

void streamingpanel::stopStreaming()
{
    stopPauseBlink();
    for (const QMetaObject::Connection &link : qAsConst(runLinks))
        disconnect(link);
    runLinks.clear();
    healthTimer->stop();
    delete engine;
    engine = nullptr;

    on_position_changed(0);
    state = Stopped;
    ui->play_pause_pushButton->setIcon(icon(ICON_PLAY));
    ui->play_pause_pushButton->setToolTip(QStringLiteral("Play"));
    ui->padlock_info->setIcon(icon(ICON_PADLOCK_OPEN));
    slider->setEnabled(false);
    ui->ipConfig_checkBox->setEnabled(true);
    ui->bitrate_line->setEnabled(true);
    ui->RTPEna->setEnabled(true);
    const bool ownAddress = !ui->ipConfig_checkBox->isChecked();
    ui->address_lineEdit->setEnabled(ownAddress);
    ui->ipPortLine->setEnabled(ownAddress);
}

void streamingpanel::on_stop_qbutton_clicked()
{
    if (state != Stopped)
        stopStreaming();
}

void streamingpanel::loopDisable_StopStreaming()
{
    if (state == Playing)
        stopStreaming();
}

void streamingpanel::on_loop_pushButton_clicked()
{
    if (loopState == tsloop::loopDisabled) {
        loopState = tsloop::loopEnabled;
        ui->loop_pushButton->setIcon(icon(ICON_LOOP_LOCK));
        ui->loop_pushButton->setToolTip(QStringLiteral("Loop enable"));
    } else {
        loopState = tsloop::loopDisabled;
        ui->loop_pushButton->setIcon(icon(ICON_LOOP));
        ui->loop_pushButton->setToolTip(QStringLiteral("Loop disable"));
    }
    if (engine)
        engine->setLoopState(loopState);
}

void streamingpanel::streamSlider_sliderPressed()
{
    if (state != Playing)
        return;
    emit engine->toggle();
    state = Dragging;
    ui->play_pause_pushButton->setIcon(icon(ICON_PLAY));
}

void streamingpanel::streamSliderChangedValue_sliderReleased()
{
    const int value = slider->value();
    if (value > duration || state == Stopped)
        return;
    // The seek lands while the run is still paused: resumed first, it could send from the old place meanwhile.
    position = value;
    emit moveSliderAllowed(value);
    if (state == Dragging) {
        emit engine->toggle();
        state = Playing;
        ui->play_pause_pushButton->setIcon(icon(ICON_PAUSE));
    }
}

void streamingpanel::streamSlider_wheel(int value)
{
    emit moveSliderAllowed(value);
}

void streamingpanel::bitrateLineSlot(QString arg1)
{
    QString digits = arg1;
    digits.remove(QLatin1Char(' '));
    if (!matches(BITRATE_PATTERN, digits)) {
        QString text = arg1;
        text.chop(1);
        ui->bitrate_line->setText(text);
    } else {
        bitrate = digits.toLongLong();
    }
    bitrateEdited = true;
}

void streamingpanel::ipPortLineSlot(QString arg1)
{
    if (matches(PORT_PATTERN, arg1) && arg1.toInt() < PORT_RANGE)
        return;
    arg1.chop(1);
    ui->ipPortLine->setText(arg1);
}

void streamingpanel::addressLineSlot(QString arg)
{
    Q_UNUSED(arg)
    const QString text = ui->address_lineEdit->text();
    if (matches(ADDRESS_PATTERN, text))
        lastValidAddress = text;
    else
        ui->address_lineEdit->setText(lastValidAddress);
}

void streamingpanel::on_ipConfig_checkBox_stateChanged(int arg1)
{
    ui->address_lineEdit->setEnabled(arg1 == Qt::Unchecked);
    ui->ipPortLine->setEnabled(arg1 == Qt::Unchecked);
}

void streamingpanel::RTPEnaSlot(int value)
{
    rtpEnabled = value != 0;
}

void streamingpanel::setNewStreamingTools(streamingtools &streamParam)
{
    tools->copyFrom(streamParam);
    if (!engine)
        return;
    engine->setCCcorrection(tools->liveCC());
    engine->setPCRcorrection(tools->livePCR());
    engine->setSTARTcorrection(tools->liveSTART());
    engine->setScramblingEna(tools->getScramblingEna());
    engine->setScramblingGap(quint64(qMax<qint64>(0, tools->getScramblingGap())));
    engine->setSuccessiveScramblingPackets(quint64(qMax<qint64>(0, tools->getSuccessiveScramblingPackets())));
    engine->setScramblingOnPIDEna(tools->getScramblingOnPIDEna());
    engine->setPIDnumber(tools->getPIDnumber());
}

void streamingpanel::on_file_pushButton_clicked()
{
    const QString path
        = UiPrompts::openFileName(this, tr("Load transport file"), fileName, QStringLiteral("TS files *.ts (*.ts)"));
    if (path.isEmpty())
        return;
    // Only a regular file: opening a FIFO or a device would block this thread, or read it without end. A refused
    // file leaves the loaded one, and its run, as they were: Play must not stream a file other than the one shown.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(OPEN_ERROR));
        return;
    }
    const quint64 size = quint64(file.size());
    file.close();
    auto scan = std::make_unique<tspcrmeasure>(this, path);
    qint64 sync = -1;
    {
        const BusyCursor busy;
        sync = scan->findSync();
    }
    if (sync < 0) {
        // Random bytes, 192- or 204-byte packets: nothing a modulator could take. Worded as nerio-ts words it.
        QString text = tspcrmeasure::noGridMessage(path, qint64(size));
        text[0] = text[0].toUpper();
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), text);
        return;
    }
    if (engine)
        stopStreaming();
    fileName = path;
    fileSize = size;
    ui->file_lineEdit->setText(path);

    analysistree::settlement settled;
    qint64 measured = 0;
    {
        const BusyCursor busy;
        delete measure;
        measure = scan.release();
        syncOffset = sync;
        measured = measure->measureBitrate();
        settled = analysistree::settleBitrate(measured, bitrate);
        programs = measure->getParser()->programs();
        fillModel(fileInfoModel,
            analysistree::fileInformation(fileSize, measured, settled, measure->getParser()->crc_errors()));
        ui->treeView->expandAll();
    }
    if (settled == analysistree::settlement::NoPcr)
        UiPrompts::warning(this, QStringLiteral("Warning"), tr(NO_PCR_WARNING));
    else if (settled == analysistree::settlement::CalculError)
        UiPrompts::critical(this, QString::fromLatin1(CRITICAL_TITLE), tr(CALCUL_ERROR));
    {
        const QSignalBlocker blocker(ui->bitrate_line);
        setBitrateField(bitrate);
    }
    bitrateEdited = false;
    updateDuration();
    on_position_changed(0);
    rebuildProgramTrees();
}

void streamingpanel::rebuildProgramTrees()
{
    if (!measure)
        return;
    const es_table names;
    const tspcrmeasure *scan = measure;
    const auto share = [scan](quint16 pid) { return scan->pidShare(pid); };
    const tsparser *parser = measure->getParser();
    fillModel(programTreeModel,
        { analysistree::programTree(
            programs, parser->transport_stream_id(), parser->network_name(), bitrate, share, names) });
    ui->treeView_2->expandToDepth(0);
    fillModel(pidTreeModel, analysistree::pidTree(measure->getPidList(), programs, bitrate, share, names));
}
