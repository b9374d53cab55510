#include "streamingqthread.h"

#include "pacingclock.h"
#include "streaminglog.h"
#include "tsudpsend.h"

#include <chrono>

streamingQThread::streamingQThread(QObject *parent)
    : QThread(parent)
{
}

streamingQThread::~streamingQThread()
{
    requestStop();
    waitFinished();
}

void streamingQThread::waitFinished()
{
    wait();
    // QThread::wait() synchronises through Qt's own lock, which ThreadSanitizer cannot see; taking the mutex
    // that run() takes last makes the hand-over of the sender and its counters visible to it.
    const std::lock_guard<std::mutex> locker(mutex);
}

void streamingQThread::requestStop()
{
    std::unique_lock<std::mutex> locker(mutex);
    stopRequested = true;
    wakeCondition.notify_all();
}

void streamingQThread::toggle()
{
    std::unique_lock<std::mutex> locker(mutex);
    paused = !paused;
    wakeCondition.notify_all();
}

void streamingQThread::timerExpired()
{
    std::unique_lock<std::mutex> locker(mutex);
    wakeCondition.notify_all();
}

void streamingQThread::run()
{
    if (!sender)
        return;
    setPriority(QThread::HighPriority);
    realtime = pacingclock::prepareThread();
    sender->openSocket();
    sender->resetClock();
    while (!stopRequested) {
        if (paused) {
            // A paused run restarts its schedule on resume: nothing of the pause is made up.
            sender->resetClock();
            std::unique_lock<std::mutex> locker(mutex);
            if (!stopRequested && paused)
                wakeCondition.wait_for(locker, std::chrono::milliseconds(maxWaitMs));
            continue;
        }
        const qint64 deadline = sender->sendDue();
        const qint64 remaining = deadline - pacingclock::nowNs();
        if (remaining > fineSleepNs) {
            // Long gaps (low bitrates) wait where a stop or a pause can end them at once; the last stretch
            // is slept on the clock.
            std::unique_lock<std::mutex> locker(mutex);
            if (!stopRequested && !paused)
                wakeCondition.wait_for(locker,
                    std::chrono::milliseconds(qMin<qint64>(maxWaitMs, (remaining - fineSleepNs) / 1000000 + 1)));
            continue;
        }
        // While a backlog is made up the spacing is shorter than a wake-up can be trusted to keep: a sleep
        // that overshoots it sends the next datagram late again, and on a loaded machine the backlog then
        // grows instead of shrinking. The catch-up is bounded, so is the spinning.
        if (remaining > 0)
            pacingclock::sleepUntil(deadline, sender->isCatchingUp() ? remaining : pacingclock::defaultSpinNs);
    }
    if (!paused)
        sender->finishFile();
    sender->closeSocket();
    const std::lock_guard<std::mutex> locker(mutex);
}
