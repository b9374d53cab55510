#include "pacingclock.h"

#include <atomic>
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
// The longest single kernel sleep of the pacing thread.
constexpr qint64 MAX_SLICE_NS = 150000;
std::atomic<bool> slicedSleep { true };

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
    const bool sliced = slicedSleep.load(std::memory_order_relaxed);
    // On a virtual machine a vCPU that sleeps long is parked by the host and wakes late, in bursts of
    // stalls; waking at least every MAX_SLICE_NS keeps it running. Each sleep ends at an absolute time, so an
    // interrupted or late one never shifts the following ones.
    for (qint64 now = nowNs(); now < wakeNs; now = nowNs()) {
        const timespec ts = toTimespec(sliced ? qMin(wakeNs, now + MAX_SLICE_NS) : wakeNs);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
    }
    while (nowNs() < deadlineNs) { }
}

void pacingclock::setSlicedSleep(bool sliced)
{
    slicedSleep.store(sliced, std::memory_order_relaxed);
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
