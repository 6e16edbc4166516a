// Single-shot timers whose deadline can be pushed back (idle time-outs).
// They have their own process-wide list and timer loop, separate from Timer,
// and behave as Timer otherwise. A refreshed timer moves to its new place in
// the deadline order, so it never holds back other refresh timers.
//
// Threading: every call may come from any thread, including the timer's own
// task; the list is guarded by the kind's TimerThreadState mutex.
#ifndef VXS_THREADS_REFRESH_TIMER_H
#define VXS_THREADS_REFRESH_TIMER_H

#include <cstdint>

#include "core/shared_ptr.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

template <class T>
class TimerSchedule;

class RefreshTimer {
public:
    // Schedules `task` once after `timeoutMS` (negative counts as 0). Empty
    // when the timer loop cannot be started (nothing is then scheduled).
    static Memory::vxs_shared_ptr<RefreshTimer> createTimerWithTask(
        const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task, int timeoutMS);

    // Moves the deadline to now + the time-out. Returns true.
    bool refresh();
    // Unschedules the timer: true if it was pending.
    bool cancel();

    bool isSingleShot() const { return true; }

    // As Timer's, for the refresh-timer loop.
    static void pauseTimerLoop();
    static void restartTimerLoop();
    static void dropPendingTimers();

private:
    friend class TimerSchedule<RefreshTimer>;
    RefreshTimer();
    static TimerSchedule<RefreshTimer>& schedule();

    int timeoutMS;
    uint64_t nextTimeoutTime;  // milliseconds since the epoch
    uint64_t scheduledTime;    // milliseconds since the epoch
    Memory::vxs_shared_ptr<ASRDispatchTaskBase> iTargetTask;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_REFRESH_TIMER_H
