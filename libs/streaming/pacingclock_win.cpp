#include "pacingclock.h"

#include <mmsystem.h>
#include <windows.h>

namespace
{
qint64 counterFrequency()
{
    static const qint64 frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<qint64>(f.QuadPart);
    }();
    return frequency;
}
} // namespace

qint64 pacingclock::nowNs()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    const qint64 f = counterFrequency();
    // Split to keep count * 1e9 inside 64 bits for counters that run for days.
    const qint64 seconds = count.QuadPart / f;
    const qint64 rest = count.QuadPart % f;
    return seconds * 1000000000LL + rest * 1000000000LL / f;
}

void pacingclock::sleepUntil(qint64 deadlineNs, qint64 spinNs)
{
    // Sleep() has 1 ms granularity once timeBeginPeriod(1) is in force, so sleep whole milliseconds while
    // more than two remain and wait out the rest on the performance counter.
    Q_UNUSED(spinNs);
    for (;;) {
        const qint64 remaining = deadlineNs - nowNs();
        if (remaining <= 2000000)
            break;
        Sleep(static_cast<DWORD>(remaining / 1000000 - 1));
    }
    while (nowNs() < deadlineNs) {
        YieldProcessor();
    }
}

void pacingclock::setSlicedSleep(bool sliced)
{
    Q_UNUSED(sliced);
}

bool pacingclock::beginRun()
{
    return timeBeginPeriod(1) != TIMERR_NOCANDO;
}

void pacingclock::endRun()
{
    timeEndPeriod(1);
}

bool pacingclock::prepareThread()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    return false;
}
