// A queue of tasks drained on the global thread pool that runs at most
// `concurrentThreadCount` of its tasks at once and starts them in submission
// order. With a limit of 1 (a serial queue) its tasks run strictly one after
// another, never two at once, possibly on different pool threads.
//
// Threading: every call may come from any thread. taskMutex guards the
// waiting tasks and counters; its condition is the queue state (0 accepting,
// 1 stopping, 2 stopped). No lock is held while a task runs, and finished or
// dropped tasks are released only after taskMutex (and the pool mutex) are
// unlocked, so a task may hold the last reference to an object whose
// destructor cancels this very queue. Lock order: queue mutex, then pool mutex.
#ifndef VXS_THREADS_DISPATCH_QUEUE_H
#define VXS_THREADS_DISPATCH_QUEUE_H

#include <deque>
#include <vector>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

class DispatchQueue;

// One submitted task and the queue that runs it. Dropped unexecuted, it
// releases a synchronous caller with false; dropped by the thread pool after
// its launch (a pool reset), it is queued again at the front of its queue.
class DispatchQueueTask {
public:
    DispatchQueueTask();
    ~DispatchQueueTask();
    DispatchQueueTask(const DispatchQueueTask&) = delete;
    DispatchQueueTask& operator=(const DispatchQueueTask&) = delete;

    Memory::vxs_shared_ptr<DispatchQueue> iOwnerQueue;
    Memory::vxs_shared_ptr<ASRDispatchTaskBase> iTask;
    bool launched;  // handed to the pool as the first task of a launcher
    bool executed;
};

// Queue states, kept as the condition of taskMutex.
enum DispatchQueueState { kQueueAccepting = 0, kQueueStopping = 1, kQueueStopped = 2 };

class DispatchQueue {
public:
    // A new accepting queue; a limit of 0 or less ends the process.
    static Memory::vxs_shared_ptr<DispatchQueue> alloc(int concurrentThreadCount);
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Takes over the heap task in every case: a refused task (queue stopping or
    // stopped, or the pool refusing it) is deleted and false returned.
    bool runTaskAsync(ASRDispatchTaskBase* task);
    // Wraps the method and a new reference of `parameter`.
    bool runTaskAsync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter);
    // As the asynchronous forms, then waits: true once the task ran, false if
    // it was refused or dropped by cancel(). Called from a task of this same
    // queue, the work runs at once on the calling thread (false if the queue
    // no longer accepts tasks).
    bool runTaskSync(ASRDispatchTaskBase* task);
    bool runTaskSync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter);

    // Refuses new tasks; waiting ones still run.
    void stopQueue();
    // As stopQueue(), then waits until no task of the queue runs (not from a
    // task of this queue: it then returns at once).
    void stopQueue_sync();
    // Refuses new tasks and drops the waiting ones; a running task finishes.
    // Returns the number dropped.
    int cancel();
    // As cancel(), then waits until no task of the queue runs (not from a task
    // of this queue: it then returns at once).
    int cancel_sync();

    int getState();
    // True when the calling thread is running a task of this queue.
    bool isCurrentQueue() const;

private:
    explicit DispatchQueue(int concurrentThreadCount);

    bool submit(ASRDispatchTaskBase* task);
    friend class DispatchQueueTask;
    bool launchTask(const Memory::vxs_shared_ptr<DispatchQueueTask>& task);
    // Under taskMutex: launches waiting tasks, oldest first, while slots are
    // free; `launched` keeps their references until taskMutex is unlocked.
    void launchWaiting(std::vector<Memory::vxs_shared_ptr<DispatchQueueTask> >* launched);
    void relaunchDroppedTask(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task);
    bool runInline(ASRDispatchTaskBase* task);
    // Counts the finished task back in and takes the next waiting one, if any.
    Memory::vxs_shared_ptr<DispatchQueueTask> dispatchQueueTaskFinished();
    void waitUntilIdle();
    static void queueLauncher(Memory::vxs_shared_ptr_base* parameter);

    std::deque<Memory::vxs_shared_ptr<DispatchQueueTask> > tasks;
    Memory::vxs_weak_ptr<DispatchQueue> selfRef;
    int allowedConcurrent;
    int concurrentMax;
    Synchronization::AppConditionMutex* taskMutex;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_DISPATCH_QUEUE_H
