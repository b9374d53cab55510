#include "pacingclock.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace
{
constexpr qint64 NS_PER_S = 1000000000;

timespec toTimespec(qint64 ns)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / NS_PER_S);
    ts.tv_nsec = static_cast<long>(ns % NS_PER_S);
    return ts;
}
} // namespace

qint64 pacingclock::nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * NS_PER_S + ts.tv_nsec;
}

void pacingclock::sleepUntil(qint64 deadlineNs, qint64 spinNs)
{
    const qint64 wakeNs = deadlineNs - spinNs;
    if (wakeNs > nowNs()) {
        // Absolute deadline: an interrupted or late sleep never shifts the following ones.
        const timespec ts = toTimespec(wakeNs);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
    }
    while (nowNs() < deadlineNs) { }
}

bool pacingclock::beginRun()
{
    return true;
}

void pacingclock::endRun() { }

bool pacingclock::prepareThread()
{
#ifdef __linux__
    // The default 50 us slack lets the kernel batch our wake-ups; 1 ns asks for the deadline itself.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    // A low real-time priority keeps other processes from delaying the wake-up; only granted to privileged
    // processes, and the thread sleeps between datagrams, so it never holds the core for long.
    sched_param param {};
    param.sched_priority = 10;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}
