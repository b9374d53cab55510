#include "streamingqthread.h"

#include "pacingclock.h"
#include "streaminglog.h"
#include "tsudpsend.h"

#include <QMutexLocker>

streamingQThread::streamingQThread(QObject *parent)
    : QThread(parent)
    , wakeCondition(new QWaitCondition)
{
}

streamingQThread::~streamingQThread()
{
    requestStop();
    wait();
    delete wakeCondition;
}

void streamingQThread::requestStop()
{
    QMutexLocker locker(&mutex);
    stopRequested = true;
    wakeCondition->wakeAll();
}

void streamingQThread::toggle()
{
    QMutexLocker locker(&mutex);
    paused = !paused;
    wakeCondition->wakeAll();
}

void streamingQThread::timerExpired()
{
    QMutexLocker locker(&mutex);
    wakeCondition->wakeAll();
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
            QMutexLocker locker(&mutex);
            if (!stopRequested && paused)
                wakeCondition->wait(&mutex, maxWaitMs);
            continue;
        }
        const qint64 deadline = sender->sendDue();
        const qint64 remaining = deadline - pacingclock::nowNs();
        if (remaining > fineSleepNs) {
            // Long gaps (low bitrates) wait where a stop or a pause can end them at once; the last stretch
            // is slept on the clock.
            QMutexLocker locker(&mutex);
            if (!stopRequested && !paused)
                wakeCondition->wait(&mutex, ulong(qMin<qint64>(maxWaitMs, (remaining - fineSleepNs) / 1000000 + 1)));
            continue;
        }
        if (remaining > 0)
            pacingclock::sleepUntil(deadline);
    }
    sender->closeSocket();
}
