// The pending timers of one timer kind (Timer or RefreshTimer): a list
// ordered by deadline and the timer loop that submits due tasks to the
// global thread pool. T provides timeoutMS, nextTimeoutTime, scheduledTime,
// iTargetTask and isSingleShot().
//
// Threading: every call may come from any thread. TimerThreadState guards
// the list; its condition is 1 while a loop is running (or submitted) and 0
// otherwise. Due tasks are submitted under it, so a cancel() that returns
// true guarantees the task is not submitted again; timers leaving the list
// are released only after it is unlocked, because their tasks may hold the
// last reference to objects that cancel timers of this kind. Lock order:
// TimerThreadState, then the global pool's mutexes.
#ifndef VXS_THREADS_TIMER_SCHEDULE_H
#define VXS_THREADS_TIMER_SCHEDULE_H

#include <algorithm>
#include <cstdint>
#include <list>
#include <vector>

#include "core/log.h"
#include "core/shared_ptr.h"
#include "core/time_util.h"
#include "threads/app_mutex.h"
#include "threads/app_thread.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Threads {

inline uint64_t currentTimeMillis() { return get_current_time() / 1000; }
// Deadlines count from the next whole millisecond, so that a timer never fires
// before its full time-out has passed.
inline uint64_t deadlineBaseMillis() { return (get_current_time() + 999) / 1000; }

template <class T>
class TimerSchedule {
public:
    typedef Memory::vxs_shared_ptr<T> TimerPtr;

    TimerSchedule() : TimerThreadState(kNoLoop), pauseCount(0) {}

    // Schedules a timer whose fields other than the times are set. False when
    // no loop can be started; the timer is then not scheduled.
    bool add(const TimerPtr& timer) {
        bool added = true;
        TimerPtr unscheduled;
        TimerThreadState.Lock();
        const uint64_t now = deadlineBaseMillis();
        timer->scheduledTime = now;
        timer->nextTimeoutTime = now + static_cast<uint64_t>(timer->timeoutMS);
        insertOrdered(timer);
        if (TimerThreadState.getCurrentCondition() == kNoLoop && pauseCount == 0 && !startLoop()) {
            unscheduled = takeFromList(timer.getPTR());
            added = false;
        }
        TimerThreadState.Unlock();
        return added;
    }

    // True if the timer was pending.
    bool remove(T* timer) {
        TimerThreadState.Lock();
        TimerPtr removed = takeFromList(timer);
        TimerThreadState.Unlock();
        return static_cast<bool>(removed);
    }

    // Moves a pending timer's deadline to now + its time-out, and the timer to
    // its place in the order, so that it holds back no other timer.
    void reschedule(T* timer) {
        TimerThreadState.Lock();
        timer->nextTimeoutTime = deadlineBaseMillis() + static_cast<uint64_t>(timer->timeoutMS);
        TimerPtr pending = takeFromList(timer);
        if (pending) insertOrdered(pending);
        TimerThreadState.Unlock();
    }

    void pause() {
        TimerThreadState.Lock();
        pauseCount += 1;
        TimerThreadState.Unlock();
    }

    // Called once the pool the loop ran on has ended all its tasks: no loop
    // runs any more, whatever the condition says.
    void restart() {
        TimerThreadState.Lock();
        if (pauseCount > 0) pauseCount -= 1;
        if (pauseCount == 0) {
            TimerThreadState.setCurrentCondition(kNoLoop);
            if (!iTimers.empty() && !startLoop()) {
                VXS_LOG_ERROR("Timer loop could not be restarted; %d timers wait for the next timer",
                              static_cast<int>(iTimers.size()));
            }
        }
        TimerThreadState.unlockWithCondition(TimerThreadState.getCurrentCondition());
    }

    void dropAll() {
        std::list<TimerPtr> dropped;
        TimerThreadState.Lock();
        dropped.swap(iTimers);
        TimerThreadState.Unlock();
    }

    static void timerMain(Memory::vxs_shared_ptr_base*) { T::schedule().runLoop(); }

private:
    enum { kNoLoop = 0, kLoopRunning = 1 };
    static constexpr uint64_t kMaxSleepMS = 500;

    void runLoop() {
        for (;;) {
            std::vector<TimerPtr> fired;
            TimerThreadState.Lock();
            if (iTimers.empty() || pauseCount > 0) {
                TimerThreadState.unlockWithCondition(kNoLoop);
                return;
            }
            const uint64_t now = currentTimeMillis();
            const uint64_t deadline = iTimers.front()->nextTimeoutTime;
            if (deadline > now) {
                TimerThreadState.Unlock();
                AppThread::sleep(static_cast<int>(std::min(deadline - now, kMaxSleepMS)));
                continue;
            }
            while (!iTimers.empty() && iTimers.front()->nextTimeoutTime <= now) {
                TimerPtr timer = iTimers.front();
                iTimers.pop_front();
                submit(timer);
                if (timer->isSingleShot()) {
                    fired.push_back(timer);
                } else {
                    timer->nextTimeoutTime += static_cast<uint64_t>(timer->timeoutMS);
                    insertOrdered(timer);
                }
            }
            TimerThreadState.Unlock();
            // `fired` releases the single-shot timers here, unlocked.
        }
    }

    void submit(const TimerPtr& timer) {
        if (!timer->iTargetTask) return;
        if (!GlobalThreadPool::instance()->runTaskAsync(timer->iTargetTask)) {
            VXS_LOG_WARN("Timer task refused by the thread pool");
        }
    }

    // Before the first timer whose deadline is equal or later: among equal
    // deadlines the newest comes first.
    void insertOrdered(const TimerPtr& timer) {
        typename std::list<TimerPtr>::iterator it = iTimers.begin();
        while (it != iTimers.end() && (*it)->nextTimeoutTime < timer->nextTimeoutTime) ++it;
        iTimers.insert(it, timer);
    }

    TimerPtr takeFromList(T* timer) {
        for (typename std::list<TimerPtr>::iterator it = iTimers.begin(); it != iTimers.end(); ++it) {
            if (it->getPTR() == timer) {
                TimerPtr found = *it;
                iTimers.erase(it);
                return found;
            }
        }
        return TimerPtr();
    }

    // Under TimerThreadState.
    bool startLoop() {
        Memory::vxs_shared_ptr<ASRDispatchTaskBase> loop(
            new ASRDispatchTaskBase(nullptr, nullptr, &TimerSchedule<T>::timerMain));
        if (!GlobalThreadPool::instance()->runTaskAsync(loop)) return false;
        TimerThreadState.setCurrentCondition(kLoopRunning);
        TimerThreadState.broadcast();
        return true;
    }

    Synchronization::AppConditionMutex TimerThreadState;
    std::list<TimerPtr> iTimers;
    int pauseCount;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_TIMER_SCHEDULE_H
