#pragma once
// One streaming run: the packet pipeline (file reader, clock stage, sender) and its pacing thread.
// Built, driven and deleted in the GUI thread; deleting it stops the run in order.

#include "program_info.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class streamingQThread;
class streamingtools;
class tsloop;
class tsstamp;
class tsudpsend;

class streaming : public QObject
{
    Q_OBJECT
public:
    streaming(QObject *parent, qint64 startOffset, int loopState, const QString &fileName, quint32 bitrate,
        streamingtools *tools, bool rtpEnabled, const QHostAddress &destination, quint16 port,
        quint8 packetsPerDatagram);
    ~streaming() override;

    void startStreaming();
    // Ends the run: the pacing thread has sent its last datagram when this returns, so the figures below are
    // final. The destructor does the same.
    void stop();

    // Live option forwarders; each applies between two datagrams.
    void setCCcorrection(bool value);
    void setPCRcorrection(bool value);
    void setSTARTcorrection(bool value);
    void setScramblingEna(bool value);
    void setScramblingGap(quint64 value);
    void setSuccessiveScramblingPackets(quint64 value);
    void setScramblingOnPIDEna(bool value);
    void setPIDnumber(quint16 value);
    void setLoopState(int value);
    // PTS/DTS of elementaryPid follow the PCR of its program's PCR PID.
    void setPcrPidOf(quint16 elementaryPid, quint16 pcrPid);
    // The same for every elementary stream of the analysed programs; streams outside a program, and
    // programs without a PCR PID, keep their timestamps.
    void assignPcrPids(const QList<program_info> &programs);

    bool isPaused() const;
    bool fileOpened() const;

    // Figures for progress displays, readable from the GUI thread while the run goes on.
    quint64 datagramsSent() const;
    quint64 packetsSent() const;
    quint64 stalls() const;
    quint64 sendErrors() const;
    // The socket's reason for the latest datagram it refused.
    QString lastSendError() const;

signals:
    void terminator();
    void toggle();
    void positionHasChanged(const quint64 &currentTime);
    void userHasChangedPosition(int value);
    void loopDisable_emitStopStreaming();

public slots:
    void userChangedPosition(int value);

private slots:
    void positionChanged(const quint64 &currentTime);
    void loopDisable_StopStreaming();

private:
    QString fileName;
    quint32 bitrate;
    quint8 packetsPerDatagram;
    streamingQThread *thread = nullptr;
    tsloop *loop = nullptr;
    tsstamp *stamp = nullptr;
    tsudpsend *sender = nullptr;
    qint64 startOffset;
    int loopState;
    streamingtools *tools;
    bool rtpEnabled;
    bool timerPeriodActive = false;
};
