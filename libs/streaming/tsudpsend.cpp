#include "tsudpsend.h"

#include "muldiv.h"
#include "pacingclock.h"
#include "streaminglog.h"
#include "tsloop.h"
#include "tspacket.h"
#include "tsstamp.h"

#include <QUdpSocket>
#include <QVariant>

namespace
{
using tspacket::PKT_SIZE;
// How long an ended run waits before it looks again; a stop or a pause wakes it sooner.
constexpr qint64 ENDED_WAIT_NS = 100000000;
} // namespace

tsudpsend::tsudpsend(tsstamp *source_, quint32 bitrate_, const QHostAddress &destination_, quint16 port_,
    quint8 packetsPerDatagram_, bool rtpEnabled_)
    : source(source_)
    , destination(destination_)
    , port(port_)
    , packetsPerDatagram(packetsPerDatagram_)
    , payloadBytes(quint32(packetsPerDatagram_) * PKT_SIZE)
    , bitrate(bitrate_)
    , rtpEnabled(rtpEnabled_)
    , schedule(bitrate_, quint32(packetsPerDatagram_) * PKT_SIZE * 8)
    , clock(&pacingclock::nowNs)
{
    buffer.reserve(RTP_HEADER_SIZE + int(payloadBytes));
}

tsudpsend::~tsudpsend() = default;

bool tsudpsend::openSocket()
{
    socket = std::make_unique<QUdpSocket>();
    // An ephemeral local port: bound to the destination port with address sharing, a local receiver on that
    // port could be handed the stream's own datagrams instead of the intended socket.
    const bool bound = socket->bind(
        destination.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4, 0);
    if (!bound)
        qCWarning(lcStreaming) << "sender socket bind failed:" << socket->errorString();
    // Room for a catch-up after a stall without losing datagrams in the kernel.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 1 << 20);
    if (destination.isMulticast())
        socket->setSocketOption(QAbstractSocket::MulticastTtlOption, 1);
    return bound;
}

void tsudpsend::closeSocket()
{
    socket.reset();
}

void tsudpsend::setClock(std::function<qint64()> clock_)
{
    clock = std::move(clock_);
}

void tsudpsend::resetClock()
{
    schedule = pacer(bitrate, payloadBytes * 8);
}

quint32 tsudpsend::rtpTimestamp(qint64 elapsedNs)
{
    if (elapsedNs < 0)
        return 0;
    // Wide product: ns * 90 000 passes 2^64 after 57 hours.
    return quint32(muldiv::floorDiv(quint64(elapsedNs), 90000, 1000000000));
}

bool tsudpsend::buildDatagram(qint64 rtpElapsedNs)
{
    buffer.resize(int(payloadBytes) + (rtpEnabled ? RTP_HEADER_SIZE : 0));
    uchar *out = reinterpret_cast<uchar *>(buffer.data());
    if (rtpEnabled) {
        const quint32 ts = rtpTimestamp(rtpElapsedNs);
        out[0] = 0x80;
        out[1] = 0xA1;
        out[2] = uchar(sequence >> 8);
        out[3] = uchar(sequence);
        out[4] = uchar(ts >> 24);
        out[5] = uchar(ts >> 16);
        out[6] = uchar(ts >> 8);
        out[7] = uchar(ts);
        out[8] = out[9] = out[10] = out[11] = 0xFF;
        out += RTP_HEADER_SIZE;
    }
    // Only whole packets go out: a reader that keeps returning part packets (a file with no whole packet
    // after its start) starves the datagram instead of filling it with fragments.
    int filled = 0;
    int attempts = 0;
    const int maxAttempts = 2 * packetsPerDatagram + 2;
    if (pipelineLock)
        pipelineLock->lock();
    builtAtSeek = source->source()->seekCount();
    while (filled < packetsPerDatagram && attempts < maxAttempts) {
        ++attempts;
        if (source->readPacket(out + filled * PKT_SIZE) == PKT_SIZE) {
            ++filled;
        } else if (source->source()->atEnd()) {
            ended = true;
            break;
        }
    }
    if (pipelineLock)
        pipelineLock->unlock();
    if (filled == 0 || (filled < packetsPerDatagram && !ended))
        return false;
    builtPackets = filled;
    buffer.resize(filled * PKT_SIZE + (rtpEnabled ? RTP_HEADER_SIZE : 0));
    if (rtpEnabled)
        ++sequence;
    return true;
}

QString tsudpsend::lastSendError() const
{
    const std::lock_guard<std::mutex> locker(errorLock);
    return errorText;
}

void tsudpsend::stampRtpTime(qint64 elapsedNs)
{
    if (!rtpEnabled || buffer.size() < RTP_HEADER_SIZE)
        return;
    const quint32 ts = rtpTimestamp(elapsedNs);
    uchar *out = reinterpret_cast<uchar *>(buffer.data());
    out[4] = uchar(ts >> 24);
    out[5] = uchar(ts >> 16);
    out[6] = uchar(ts >> 8);
    out[7] = uchar(ts);
}

void tsudpsend::prepareNext(qint64 rtpElapsedNs)
{
    prepared = true;
    ready = buildDatagram(rtpElapsedNs);
}

void tsudpsend::sendReady(qint64 nowNs)
{
    stampRtpTime(nowNs - rtpOrigin);
    if (!socket || socket->writeDatagram(buffer, destination, port) == buffer.size()) {
        datagramCount.fetch_add(1, std::memory_order_relaxed);
        packetCount.fetch_add(quint64(builtPackets), std::memory_order_relaxed);
    } else {
        errorCount.fetch_add(1, std::memory_order_relaxed);
        const std::lock_guard<std::mutex> locker(errorLock);
        errorText = socket->errorString();
    }
    prepared = ready = false;
}

qint64 tsudpsend::sendDue()
{
    qint64 now = clock();
    if (!schedule.isStarted()) {
        schedule.restart(now);
        rtpOrigin = now;
        stallsBefore = stallCount.load(std::memory_order_relaxed);
        ended = false;
        // A datagram built before a pause still goes first; a failed attempt asks the reader again.
        prepared = ready;
    }
    for (int sent = 0; sent < maxPerCall && schedule.isDue(now); ++sent) {
        // A seek since the datagram was built ahead: the next one comes from the new place.
        if (prepared && builtAtSeek != source->source()->seekCount())
            prepared = ready = false;
        if (!prepared && !ended)
            prepareNext(now - rtpOrigin);
        if (!ready && ended)
            break;
        if (ready)
            sendReady(now);
        else
            starvedCount.fetch_add(1, std::memory_order_relaxed);
        prepared = false;
        // A refused or starved datagram still takes its slot, so the schedule never speeds up to make up.
        schedule.sent(now);
        stallCount.store(stallsBefore + schedule.stallCount(), std::memory_order_relaxed);
        now = clock();
        // The next datagram is built now, in the time before it is due, so the file read, the clock stage and
        // the pipeline lock never sit between the wake-up and the send.
        if (!ended)
            prepareNext(schedule.nextDeadline() - rtpOrigin);
    }
    const bool finished = ended && !ready;
    catchingUp = !finished && schedule.isBehind(now);
    return finished ? now + ENDED_WAIT_NS : schedule.nextDeadline();
}

void tsudpsend::finishFile()
{
    if (!ended || !ready || !schedule.isStarted())
        return;
    const qint64 due = schedule.nextDeadline();
    if (due > clock())
        pacingclock::sleepUntil(due);
    sendReady(clock());
}
