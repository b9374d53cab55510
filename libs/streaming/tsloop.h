#pragma once
// File reader of a streaming run: reads 188-byte packets, wraps or ends at the end of the file, reports
// the play position, renumbers continuity counters and injects replacement packets.
// Packets are fetched by the pacing thread while it holds pipelineLock(); the setters and the seek slot are
// called from the GUI thread and take that lock themselves.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

class QFile;

class tsloop : public QObject
{
    Q_OBJECT
public:
    enum { loopEnabled = 0, loopDisabled = 1 };

    tsloop(QObject *parent, const QString &fileName, quint64 bitrate, qint64 startOffset, int loopState,
        bool CCcorrection, bool STARTcorrection, bool scramblingEna, bool scramblingOnPIDEna, quint64 scramblingGap,
        quint16 PIDnumber, quint64 successiveScramblingPackets);
    ~tsloop() override;

    bool isOpen() const;

    // One packet, or an empty array when the file is not open or the run has ended. Caller holds
    // pipelineLock() when threads meet.
    QByteArray nextPacket();
    // Copies the next packet into out (188 bytes of room); returns the bytes written (188, or fewer for a
    // file with no whole packet after its start, 0 when the file is not open or the run has ended).
    int readPacket(uchar *out);
    // Without the loop, the last whole packet has been read: reads give nothing (each one repeating the
    // end-of-file notice) until a seek, or the loop switched on, goes back into the file.
    bool atEnd() const { return ended; }
    // Seeks so far: a datagram built ahead from before a seek is built again from the new place.
    quint64 seekCount() const { return seeks.load(); }

    std::mutex &pipelineLock() { return lock; }

    void setCCcorrection(bool value);
    void setSTARTcorrection(bool value);
    void setLoopState(int value);
    void setScramblingEna(bool value);
    void setScramblingOnPIDEna(bool value);
    void setScramblingGap(quint64 value);
    void setSuccessiveScramblingPackets(quint64 value);
    void setPIDnumber(quint16 value);

    quint64 getReadPosition() const { return readPosition; }
    quint64 wrapCount() const { return wraps; }

public slots:
    void newPositionFileSet(int value);

signals:
    void positionChanged(const quint64 &fileCurrentTime);
    void loopDisable_emitStopStreaming();

private:
    int readWhole(uchar *out);
    void wrap();
    void continuityStage(uchar *packet);
    bool injectionStage(const uchar *packet);
    void resetInjection();
    void forgetIncomingCounters();

    // A standard mutex rather than QMutex: its pthread calls are what ThreadSanitizer sees.
    std::mutex lock;
    QFile *file = nullptr;
    quint64 bitrate;
    qint64 startOffset;
    quint64 readPosition = 0;
    quint64 currentSeconds = 0;
    quint64 lastEmittedSeconds = ~quint64(0);
    int loopState;
    quint64 wraps = 0;
    std::atomic<quint64> seeks { 0 };
    bool ended = false;

    bool CCcorrection;
    bool STARTcorrection;
    quint16 currentPid = 0;
    quint8 lastCc[8192];
    // Counter of the previous incoming packet per PID: a packet repeating it is the legal duplicate and
    // keeps the previous outgoing counter. Valid only within the file pass it was seen in (inCcPass equal
    // to pass): wraps and seeks break the incoming counters, and a new pass number forgets them all at once.
    quint8 lastInCc[8192];
    bool lastWasDuplicate[8192];
    quint32 inCcPass[8192];
    quint32 pass = 1;

    bool scramblingEna;
    bool scramblingOnPIDEna;
    quint16 PIDnumber;
    quint64 scramblingGap;
    quint64 successiveScramblingPackets;
    quint64 runCount = 0;
    quint64 gapCount = 0;
    QByteArray replacementPacket;
};
