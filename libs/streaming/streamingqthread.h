#pragma once
// Pacing thread of a streaming run. It keeps its own deadlines on the monotonic clock and sleeps until each
// datagram is due, so nothing in the GUI thread (a modal box, a blocking connect) can stall or bunch the
// stream. The GUI thread only flips the pause flag, asks for the stop and wakes the thread.

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class tsudpsend;

class streamingQThread : public QThread
{
    Q_OBJECT
public:
    explicit streamingQThread(QObject *parent);
    ~streamingQThread() override;

    // The sender to drive; set before start().
    void setSender(tsudpsend *value) { sender = value; }
    // GUI thread: ask the loop to end and wake it; the caller then wait()s.
    void requestStop();
    // QThread::wait(), plus the hand-over that makes the thread's last writes visible to race checkers.
    void waitFinished();
    bool isPaused() const { return paused.load(); }
    bool realtimeGranted() const { return realtime.load(); }

public slots:
    void toggle();
    void timerExpired();

protected:
    void run() override;

private:
    // Longest single kernel wait: bounds how long a lost wake-up could delay a stop or a resume.
    static constexpr qint64 maxWaitMs = 100;
    // Below this the thread sleeps on the clock itself rather than the wait condition (coarser wake-up).
    static constexpr qint64 fineSleepNs = 2000000;

    std::atomic<bool> stopRequested { false };
    std::atomic<bool> paused { false };
    std::atomic<bool> realtime { false };
    // Standard primitives rather than QMutex/QWaitCondition: their pthread calls are what ThreadSanitizer sees.
    std::condition_variable wakeCondition;
    std::mutex mutex;
    tsudpsend *sender = nullptr;
};
