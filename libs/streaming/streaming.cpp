#include "streaming.h"

#include "pacingclock.h"
#include "streaminglog.h"
#include "streamingqthread.h"
#include "streamingtools.h"
#include "tsloop.h"
#include "tsstamp.h"
#include "tsudpsend.h"

streaming::streaming(QObject *parent, qint64 startOffset_, int loopState_, const QString &fileName_, quint32 bitrate_,
    streamingtools *tools_, bool rtpEnabled_, const QHostAddress &destination, quint16 port, quint8 packetsPerDatagram_)
    : QObject(parent)
    , fileName(fileName_)
    , bitrate(bitrate_)
    , packetsPerDatagram(packetsPerDatagram_ ? packetsPerDatagram_ : quint8(1))
    , startOffset(startOffset_)
    , loopState(loopState_)
    , tools(tools_)
    , rtpEnabled(rtpEnabled_)
{
    const streamingtools defaults;
    const streamingtools &record = tools ? *tools : defaults;
    const qint64 gap = record.getScramblingGap();
    const qint64 successive = record.getSuccessiveScramblingPackets();
    loop = new tsloop(this, fileName, bitrate, startOffset, loopState, record.liveCC(), record.liveSTART(),
        record.getScramblingEna(), record.getScramblingOnPIDEna(), gap < 0 ? 0 : quint64(gap), record.getPIDnumber(),
        successive < 0 ? 0 : quint64(successive));
    stamp = new tsstamp(loop, bitrate, record.livePCR());
    sender = new tsudpsend(stamp, bitrate, destination, port, packetsPerDatagram, rtpEnabled);
    sender->setPipelineLock(&loop->pipelineLock());
    thread = new streamingQThread(this);
    thread->setSender(sender);

    connect(this, &streaming::terminator, thread, &streamingQThread::timerExpired);
    connect(this, &streaming::toggle, thread, &streamingQThread::toggle);
    // Emitted by the pacing thread; handled here in the GUI thread.
    connect(loop, &tsloop::positionChanged, this, &streaming::positionChanged, Qt::QueuedConnection);
    connect(this, &streaming::userHasChangedPosition, loop, &tsloop::newPositionFileSet);
    connect(loop, &tsloop::loopDisable_emitStopStreaming, this, &streaming::loopDisable_StopStreaming,
        Qt::QueuedConnection);
}

streaming::~streaming()
{
    stop();
    delete thread;
    delete sender;
    delete stamp;
    delete loop;
}

void streaming::stop()
{
    thread->requestStop();
    emit terminator();
    thread->waitFinished();
    if (timerPeriodActive)
        pacingclock::endRun();
    timerPeriodActive = false;
}

void streaming::startStreaming()
{
    if (thread->isRunning())
        return;
    if (bitrate == 0) {
        qCWarning(lcStreaming) << "no bitrate: nothing to stream";
        return;
    }
    timerPeriodActive = pacingclock::beginRun();
    if (!timerPeriodActive)
        qCWarning(lcStreaming) << "Could not start the time period!";
    thread->start();
}

bool streaming::isPaused() const
{
    return thread->isPaused();
}

bool streaming::fileOpened() const
{
    return loop->isOpen();
}

quint64 streaming::datagramsSent() const
{
    return sender->datagramsSent();
}

quint64 streaming::packetsSent() const
{
    return sender->packetsSent();
}

quint64 streaming::stalls() const
{
    return sender->stalls();
}

quint64 streaming::sendErrors() const
{
    return sender->sendErrors();
}

QString streaming::lastSendError() const
{
    return sender->lastSendError();
}

void streaming::setCCcorrection(bool value)
{
    if (loop)
        loop->setCCcorrection(value);
}

void streaming::setPCRcorrection(bool value)
{
    if (stamp)
        stamp->setPcrCorrection(value);
}

void streaming::setSTARTcorrection(bool value)
{
    if (loop)
        loop->setSTARTcorrection(value);
}

void streaming::setScramblingEna(bool value)
{
    if (loop)
        loop->setScramblingEna(value);
}

void streaming::setScramblingGap(quint64 value)
{
    if (loop)
        loop->setScramblingGap(value);
}

void streaming::setSuccessiveScramblingPackets(quint64 value)
{
    if (loop)
        loop->setSuccessiveScramblingPackets(value);
}

void streaming::setScramblingOnPIDEna(bool value)
{
    if (loop)
        loop->setScramblingOnPIDEna(value);
}

void streaming::setPIDnumber(quint16 value)
{
    if (loop)
        loop->setPIDnumber(value);
}

void streaming::setLoopState(int value)
{
    loopState = value;
    if (loop)
        loop->setLoopState(value);
}

void streaming::setPcrPidOf(quint16 elementaryPid, quint16 pcrPid)
{
    if (stamp)
        stamp->setPcrPidOf(elementaryPid, pcrPid);
}

void streaming::assignPcrPids(const QList<program_info> &programs)
{
    for (const program_info &program : programs) {
        if (program.PCR_PID >= 0x1FFF)
            continue;
        for (const es_entry &es : program.es_list)
            setPcrPidOf(es.elementary_PID, program.PCR_PID);
    }
}

void streaming::userChangedPosition(int value)
{
    emit userHasChangedPosition(value);
}

void streaming::positionChanged(const quint64 &currentTime)
{
    emit positionHasChanged(currentTime);
}

void streaming::loopDisable_StopStreaming()
{
    emit loopDisable_emitStopStreaming();
}
