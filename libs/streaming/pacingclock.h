#pragma once
// Platform timing for the pacing thread: a monotonic nanosecond clock, absolute-deadline sleeps and the
// per-run timer set-up. One implementation per platform (pacingclock_posix.cpp, pacingclock_win.cpp).
// sleepUntil() and prepareThread() are for the pacing thread; the run-level calls for the GUI thread.

#include <QtGlobal>

class pacingclock
{
public:
    // Monotonic time in nanoseconds; only differences are meaningful.
    static qint64 nowNs();

    // Blocks until the monotonic clock reaches deadlineNs: kernel sleep to just before the deadline (in short
    // slices on POSIX), then a short spin of at most spinNs so the wake-up overshoot does not land on the wire.
    static void sleepUntil(qint64 deadlineNs, qint64 spinNs = defaultSpinNs);

    // Process-wide, before a run: false sleeps each wait in one piece, which costs less CPU at low bitrates
    // but lets a virtual machine's host wake the thread late. No effect where sleeps are not sliced.
    static void setSlicedSleep(bool sliced);

    // Once per run, GUI thread: finer system timer where the platform needs it. False when refused.
    static bool beginRun();
    static void endRun();

    // Once, from the pacing thread itself: tight timer slack and a raised priority where permitted.
    // Returns true when a real-time class was granted.
    static bool prepareThread();

    static constexpr qint64 defaultSpinNs = 20000;
};
