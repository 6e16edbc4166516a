#include "threads/timer.h"

#include "core/log.h"
#include "threads/timer_schedule.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;

Timer::Timer() : _isSingleShot(true), timeoutMS(0), nextTimeoutTime(0), scheduledTime(0) {}

TimerSchedule<Timer>& Timer::schedule() {
    // Never destroyed, so that timers may be used during process exit.
    static TimerSchedule<Timer>* timers = new TimerSchedule<Timer>();
    return *timers;
}

vxs_shared_ptr<Timer> Timer::createTimerWithTask(const vxs_shared_ptr<ASRDispatchTaskBase>& task,
                                                 int timeoutMS, bool repeat) {
    if (repeat && timeoutMS <= 0) {
        // Its deadline would never move past the present.
        VXS_LOG_WARN("Repeating timer needs a positive period, got %d ms", timeoutMS);
        return vxs_shared_ptr<Timer>();
    }
    vxs_shared_ptr<Timer> timer(new Timer());
    timer->iTargetTask = task;
    timer->timeoutMS = timeoutMS < 0 ? 0 : timeoutMS;
    timer->_isSingleShot = !repeat;
    if (task) {
        // A periodic task keeps its parameter from one run to the next.
        task->_releaseResourceAfterExecute = timer->_isSingleShot;
    } else {
        VXS_LOG_WARN("NULL task to timer");
    }
    if (!schedule().add(timer)) {
        if (task) task->releaseResource();
        return vxs_shared_ptr<Timer>();
    }
    return timer;
}

bool Timer::cancel() { return schedule().remove(this); }

void Timer::pauseTimerLoop() { schedule().pause(); }

void Timer::restartTimerLoop() { schedule().restart(); }

void Timer::dropPendingTimers() { schedule().dropAll(); }

}  // namespace Threads
}  // namespace vxs
