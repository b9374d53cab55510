#include "tsloop.h"

#include "streaminglog.h"
#include "tspacket.h"

#include <QFile>

#include <cstring>

namespace
{
using tspacket::PKT_SIZE;
constexpr quint8 CC_NONE = 0x10;
constexpr char REPLACEMENT_BYTE = char(0x87);
} // namespace

tsloop::tsloop(QObject *parent, const QString &fileName, quint64 bitrate_, qint64 startOffset_, int loopState_,
    bool CCcorrection_, bool STARTcorrection_, bool scramblingEna_, bool scramblingOnPIDEna_, quint64 scramblingGap_,
    quint16 PIDnumber_, quint64 successiveScramblingPackets_)
    : QObject(parent)
    , bitrate(bitrate_)
    // A file without a packet grid has no start offset; reading then starts at its first byte.
    , startOffset(startOffset_ < 0 ? 0 : startOffset_)
    , loopState(loopState_)
    , CCcorrection(CCcorrection_)
    , STARTcorrection(STARTcorrection_)
    , scramblingEna(scramblingEna_)
    , scramblingOnPIDEna(scramblingOnPIDEna_)
    , PIDnumber(PIDnumber_)
    , scramblingGap(scramblingGap_)
    , successiveScramblingPackets(successiveScramblingPackets_)
    , replacementPacket(PKT_SIZE, REPLACEMENT_BYTE)
{
    std::memset(lastCc, CC_NONE, sizeof lastCc);
    std::memset(lastInCc, CC_NONE, sizeof lastInCc);
    std::memset(lastWasDuplicate, 0, sizeof lastWasDuplicate);
    std::memset(inCcPass, 0, sizeof inCcPass);
    file = new QFile(fileName);
    if (!file->open(QIODevice::ReadOnly)) {
        qCWarning(lcStreaming) << "cannot open" << fileName << file->errorString();
        return;
    }
    file->seek(STARTcorrection ? startOffset : 0);
}

tsloop::~tsloop()
{
    delete file;
}

bool tsloop::isOpen() const
{
    return file && file->isOpen();
}

void tsloop::forgetIncomingCounters()
{
    if (++pass == 0) {
        // Pass numbers wrapped (after 4e9 wraps): start the tags afresh.
        std::memset(inCcPass, 0, sizeof inCcPass);
        pass = 1;
    }
}

QByteArray tsloop::nextPacket()
{
    QByteArray packet(PKT_SIZE, Qt::Uninitialized);
    const int n = readPacket(reinterpret_cast<uchar *>(packet.data()));
    packet.truncate(n);
    return packet;
}

int tsloop::readWhole(uchar *out)
{
    const qint64 n = file->read(reinterpret_cast<char *>(out), PKT_SIZE);
    return n < 0 ? 0 : int(n);
}

void tsloop::wrap()
{
    const qint64 start = STARTcorrection ? startOffset : 0;
    readPosition = quint64(start);
    file->seek(start);
    forgetIncomingCounters();
    ++wraps;
}

int tsloop::readPacket(uchar *out)
{
    if (!isOpen())
        return 0;
    if (ended) {
        emit loopDisable_emitStopStreaming();
        return 0;
    }
    int n = readWhole(out);
    if (n < PKT_SIZE) {
        // A short read is the end of the file (or a read error): trailing bytes of a part packet never go out.
        if (loopState == loopDisabled) {
            // Without the loop the run ends exactly here: nothing from the start of the file follows.
            ended = true;
            emit loopDisable_emitStopStreaming();
            return 0;
        }
        wrap();
        n = readWhole(out);
    }
    readPosition += PKT_SIZE;
    if (bitrate) {
        currentSeconds = readPosition * 8 / bitrate;
        if (currentSeconds != lastEmittedSeconds)
            emit positionChanged(currentSeconds);
        lastEmittedSeconds = currentSeconds;
    }
    if (n < PKT_SIZE)
        return n;
    if (CCcorrection)
        continuityStage(out);
    if (scramblingEna && injectionStage(out))
        std::memcpy(out, replacementPacket.constData(), PKT_SIZE);
    return PKT_SIZE;
}

void tsloop::continuityStage(uchar *packet)
{
    const quint16 pid = tspacket::pid(packet);
    currentPid = pid;
    const quint8 incoming = quint8(tspacket::continuityCounter(packet));
    const bool hasPayload = tspacket::adaptationFieldControl(packet) & 1;
    const bool seenThisPass = inCcPass[pid] == pass;
    const bool duplicate = hasPayload && seenThisPass && lastInCc[pid] == incoming && !lastWasDuplicate[pid];
    // Only payload packets count: an adaptation-only packet repeats the counter of the payload before it, so
    // taking it as the reference would make the next payload packet a false duplicate (a frozen counter
    // on every pass when the file starts that way).
    if (hasPayload) {
        lastWasDuplicate[pid] = duplicate;
        lastInCc[pid] = incoming;
        inCcPass[pid] = pass;
    }
    if (lastCc[pid] == CC_NONE) {
        lastCc[pid] = incoming;
        return;
    }
    // Without payload the counter does not advance; a duplicate repeats the previous counter as sent.
    if (hasPayload && !duplicate)
        lastCc[pid] = (lastCc[pid] + 1) & 0x0F;
    packet[3] = uchar((packet[3] & 0xF0) | lastCc[pid]);
}

bool tsloop::injectionStage(const uchar *packet)
{
    if (scramblingOnPIDEna) {
        currentPid = tspacket::pid(packet);
        if (currentPid != PIDnumber)
            return false;
    }
    if (runCount != 0) {
        if (runCount < successiveScramblingPackets) {
            ++runCount;
            return true;
        }
        runCount = 0;
        gapCount = 1;
        return scramblingGap == 0;
    }
    if (gapCount < scramblingGap) {
        ++gapCount;
        return false;
    }
    runCount = 1;
    return true;
}

void tsloop::resetInjection()
{
    runCount = 0;
    gapCount = 0;
}

void tsloop::newPositionFileSet(int value)
{
    const std::lock_guard<std::mutex> locker(lock);
    const quint64 seconds = value < 0 ? 0 : quint64(value);
    currentSeconds = seconds;
    quint64 bytes = seconds * bitrate / 8;
    bytes -= bytes % PKT_SIZE;
    const quint64 target = bytes + (STARTcorrection ? quint64(startOffset) : 0);
    readPosition = target;
    ended = false;
    ++seeks;
    forgetIncomingCounters();
    if (isOpen())
        file->seek(qint64(target));
}

void tsloop::setCCcorrection(bool value)
{
    const std::lock_guard<std::mutex> locker(lock);
    CCcorrection = value;
}

void tsloop::setSTARTcorrection(bool value)
{
    const std::lock_guard<std::mutex> locker(lock);
    STARTcorrection = value;
}

void tsloop::setLoopState(int value)
{
    const std::lock_guard<std::mutex> locker(lock);
    loopState = value;
    // The loop switched on after the end was reached: the run goes on from the start of the file.
    if (ended && loopState == loopEnabled && isOpen()) {
        ended = false;
        wrap();
    }
}

void tsloop::setScramblingEna(bool value)
{
    const std::lock_guard<std::mutex> locker(lock);
    scramblingEna = value;
    resetInjection();
}

void tsloop::setScramblingOnPIDEna(bool value)
{
    const std::lock_guard<std::mutex> locker(lock);
    scramblingOnPIDEna = value;
    resetInjection();
}

void tsloop::setScramblingGap(quint64 value)
{
    const std::lock_guard<std::mutex> locker(lock);
    scramblingGap = value;
    resetInjection();
}

void tsloop::setSuccessiveScramblingPackets(quint64 value)
{
    const std::lock_guard<std::mutex> locker(lock);
    successiveScramblingPackets = value;
    resetInjection();
}

void tsloop::setPIDnumber(quint16 value)
{
    const std::lock_guard<std::mutex> locker(lock);
    PIDnumber = value;
    resetInjection();
}
