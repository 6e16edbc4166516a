// Single-shot and periodic timers. All timers share one process-wide list
// ordered by deadline and one timer loop, a task on the global thread pool
// that runs while timers are pending; a due timer's task is submitted to the
// global pool (it runs on some pool thread, concurrently with other tasks).
// A timer fires at the earliest at its deadline, usually within 500 ms of it.
//
// Threading: every call may come from any thread, including a timer's own
// task. The list is guarded by the kind's TimerThreadState mutex, which the
// loop never holds while tasks run or while it sleeps.
#ifndef VXS_THREADS_TIMER_H
#define VXS_THREADS_TIMER_H

#include <cstdint>

#include "core/shared_ptr.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

template <class T>
class TimerSchedule;

class Timer {
public:
    // Schedules `task` after `timeoutMS` (negative counts as 0), once or, with
    // `repeat`, every `timeoutMS` measured from the previous deadline (a
    // repeating timer needs a positive period). A periodic task keeps its
    // parameter between runs. Empty when the timer loop cannot be started;
    // the timer is then not scheduled and the task's parameter is dropped.
    static Memory::vxs_shared_ptr<Timer> createTimerWithTask(
        const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task, int timeoutMS, bool repeat);

    // Unschedules the timer: true if it was pending. A task already submitted
    // still runs.
    bool cancel();

    bool isSingleShot() const { return _isSingleShot; }

    // For the global pool's reset and shutdown: the loop ends at its next pass
    // and is not restarted until restartTimerLoop(), which starts it again if
    // timers are pending.
    static void pauseTimerLoop();
    static void restartTimerLoop();
    // Unschedules every pending timer.
    static void dropPendingTimers();

private:
    friend class TimerSchedule<Timer>;
    Timer();
    static TimerSchedule<Timer>& schedule();

    bool _isSingleShot;
    int timeoutMS;
    uint64_t nextTimeoutTime;  // milliseconds since the epoch
    uint64_t scheduledTime;    // milliseconds since the epoch
    Memory::vxs_shared_ptr<ASRDispatchTaskBase> iTargetTask;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_TIMER_H
