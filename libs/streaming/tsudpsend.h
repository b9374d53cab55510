#pragma once
// Sender of a streaming run: groups packets from the clock stage into datagrams (optionally behind an RTP
// header) and sends each one at its own due time on the run's schedule. Built in the GUI thread, then used
// by the pacing thread alone, which also opens and closes the socket.

#include "pacer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QUdpSocket;
class tsstamp;

class tsudpsend : public QObject
{
public:
    tsudpsend(tsstamp *source, quint32 bitrate, const QHostAddress &destination, quint16 port,
        quint8 packetsPerDatagram, bool rtpEnabled);
    ~tsudpsend() override;

    // Pacing thread: the socket lives in the thread that sends.
    bool openSocket();
    void closeSocket();

    // The next sendDue() starts a new schedule (and the RTP clock) from that moment: nothing is made up.
    void resetClock();
    // Sends the datagrams due now, at most a bounded catch-up's worth, and builds the next one ahead of its
    // time; returns the time it is due. Once a run without the loop has sent its file's last packet, nothing
    // more goes until the next schedule (after a pause), which asks the reader again.
    qint64 sendDue();
    // After sendDue(): the next datagram was already overdue then, so the caller should wait without sleeping.
    bool isCatchingUp() const { return catchingUp; }
    // Pacing thread, when the run stops: a run without the loop is stopped on the reader's end-of-file notice,
    // which comes as the last datagram is built ahead; that datagram still goes, at its time.
    void finishFile();

    // Builds the next datagram into the send buffer; false when the source has no whole packet to give. The
    // last datagram of a run that ends with its file holds the packets that were left, fewer than the others.
    bool buildDatagram(qint64 rtpElapsedNs);
    const QByteArray &datagram() const { return buffer; }

    // RTP timestamp of the 90 kHz clock elapsedNs after it started (RFC 3550, 5.1; RFC 2250 for MPEG-2 TS).
    static quint32 rtpTimestamp(qint64 elapsedNs);

    // The clock the schedule reads; tests substitute their own.
    void setClock(std::function<qint64()> clock);
    // Lock held while one datagram's packets are fetched, so GUI-thread seeks and option changes land
    // between datagrams.
    void setPipelineLock(std::mutex *lock) { pipelineLock = lock; }

    // Datagrams and packets the socket took; refused ones are counted apart, with the socket's reason.
    quint64 datagramsSent() const { return datagramCount.load(std::memory_order_relaxed); }
    quint64 packetsSent() const { return packetCount.load(std::memory_order_relaxed); }
    quint64 sendErrors() const { return errorCount.load(std::memory_order_relaxed); }
    QString lastSendError() const;
    quint64 stalls() const { return stallCount.load(std::memory_order_relaxed); }
    quint64 starvedDatagrams() const { return starvedCount.load(std::memory_order_relaxed); }
    quint16 nextSequence() const { return sequence; }

    static constexpr int RTP_HEADER_SIZE = 12;
    static constexpr int maxPerCall = 64;

private:
    // Writes the RTP timestamp of a datagram built ahead, at the time it leaves.
    void stampRtpTime(qint64 elapsedNs);
    void prepareNext(qint64 rtpElapsedNs);
    void sendReady(qint64 nowNs);

    tsstamp *source;
    std::unique_ptr<QUdpSocket> socket;
    QHostAddress destination;
    quint16 port;
    quint8 packetsPerDatagram;
    quint32 payloadBytes;
    quint32 bitrate;
    bool rtpEnabled;
    quint16 sequence = 0;
    QByteArray buffer;
    pacer schedule;
    qint64 rtpOrigin = 0;
    quint64 stallsBefore = 0;
    bool catchingUp = false;
    std::function<qint64()> clock;
    std::mutex *pipelineLock = nullptr;
    bool ended = false;
    // The next slot's datagram has been built (prepared), and the build gave one (ready).
    bool prepared = false;
    bool ready = false;
    quint64 builtAtSeek = 0;
    int builtPackets = 0;
    mutable std::mutex errorLock;
    QString errorText;

    std::atomic<quint64> datagramCount { 0 };
    std::atomic<quint64> packetCount { 0 };
    std::atomic<quint64> errorCount { 0 };
    std::atomic<quint64> stallCount { 0 };
    std::atomic<quint64> starvedCount { 0 };
};
