#include "threads/refresh_timer.h"

#include "core/log.h"
#include "threads/timer_schedule.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;

RefreshTimer::RefreshTimer() : timeoutMS(0), nextTimeoutTime(0), scheduledTime(0) {}

TimerSchedule<RefreshTimer>& RefreshTimer::schedule() {
    // Never destroyed, so that timers may be used during process exit.
    static TimerSchedule<RefreshTimer>* timers = new TimerSchedule<RefreshTimer>();
    return *timers;
}

vxs_shared_ptr<RefreshTimer> RefreshTimer::createTimerWithTask(const vxs_shared_ptr<ASRDispatchTaskBase>& task,
                                                               int timeoutMS) {
    vxs_shared_ptr<RefreshTimer> timer(new RefreshTimer());
    timer->iTargetTask = task;
    timer->timeoutMS = timeoutMS < 0 ? 0 : timeoutMS;
    if (task) {
        task->_releaseResourceAfterExecute = true;
    } else {
        VXS_LOG_WARN("NULL task to timer");
    }
    if (!schedule().add(timer)) {
        if (task) task->releaseResource();
        return vxs_shared_ptr<RefreshTimer>();
    }
    return timer;
}

bool RefreshTimer::refresh() {
    schedule().reschedule(this);
    return true;
}

bool RefreshTimer::cancel() { return schedule().remove(this); }

void RefreshTimer::pauseTimerLoop() { schedule().pause(); }

void RefreshTimer::restartTimerLoop() { schedule().restart(); }

void RefreshTimer::dropPendingTimers() { schedule().dropAll(); }

}  // namespace Threads
}  // namespace vxs
