// A thread that executes queued tasks in priority order: one FIFO list per
// priority level, level 0 served first.
//
// Threading: one consumer (the loop's own thread); tasks may be pushed from
// any thread. All list changes happen under iTaskArrayMutex, whose condition
// is 1 while tasks wait and 0 otherwise. A synchronous call made on the
// loop's own thread runs inline, so a loop never deadlocks on itself.
#ifndef VXS_THREADS_APP_RUNLOOP_H
#define VXS_THREADS_APP_RUNLOOP_H

#include <cstddef>
#include <cstdint>
#include <deque>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/app_thread.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

class AppRunloop : public AppThread {
public:
    typedef std::deque<Memory::vxs_shared_ptr<ASRDispatchTaskBase> > TaskList;

    // A started loop with priorities 0..highestPriority; `name` (not copied,
    // may be null) appears in log lines. Empty when the thread cannot start.
    static Memory::vxs_shared_ptr<AppRunloop> alloc(uint8_t highestPriority, const char* name);
    ~AppRunloop() override;

    void threadMain() override;

    // All return false when the loop no longer accepts tasks or the priority
    // is out of range. The method forms take a new reference of `parameter`.
    bool runTaskAsync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter, int priority);
    bool runTaskAsync(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority);
    // Waits until the task ran (true) or was dropped by cancel() (false). On
    // the loop's own thread the work runs at once, with the caller's parameter.
    bool runTaskSync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter, int priority);
    bool runTaskSync(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority);

    // Refuses new tasks; those queued before still run, then the thread ends.
    void stopRunloop();
    // As stopRunloop(), then waits for the thread to end (not on its own thread).
    void stopRunloop_sync();
    // Refuses new tasks and drops the queued ones (their synchronous callers get
    // false); only a task being executed completes.
    void cancel();
    void cancel_sync();

    // Drops every queued task, releasing synchronous callers with false.
    void removeTasks();
    // Waits for and takes the most urgent task.
    Memory::vxs_shared_ptr<ASRDispatchTaskBase> popTask();
    bool pushTask(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority);
    // Tasks waiting in all lists (a snapshot).
    size_t queuedTaskCount();

    const char* dbgName;

private:
    AppRunloop(uint16_t taskVectorCount, const char* name);
    // Queues the sentinel that ends the loop and refuses later tasks.
    void pushStopTask(bool mostUrgent);
    bool isStopped();

    bool iIsStopped;
    Synchronization::AppConditionMutex* iTaskArrayMutex;
    uint16_t iTaskVectorCount;
    TaskList* iRunLoopTasks;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_APP_RUNLOOP_H
