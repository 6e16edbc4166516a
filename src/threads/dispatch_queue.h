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
// A launcher that finds the queue empty keeps its pool thread for up to 20
// microseconds (holding no slot and no lock) and takes a task submitted in
// that time straight from runTaskAsync, sparing it a relaunch on the pool.
#ifndef VXS_THREADS_DISPATCH_QUEUE_H
#define VXS_THREADS_DISPATCH_QUEUE_H

#include <atomic>
#include <deque>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

class DispatchQueue;

// Sole owner of one submitted task while it waits in or runs from a queue;
// move-only, so waiting tasks are kept by value. Released without having run,
// it releases a synchronous caller with "dropped".
class QueuedTask {
public:
    QueuedTask() : task(nullptr) {}
    explicit QueuedTask(ASRDispatchTaskBase* owned) : task(owned) {}
    QueuedTask(QueuedTask&& other) noexcept : task(other.task) { other.task = nullptr; }
    QueuedTask& operator=(QueuedTask&& other) noexcept;
    ~QueuedTask() { reset(); }
    QueuedTask(const QueuedTask&) = delete;
    QueuedTask& operator=(const QueuedTask&) = delete;

    explicit operator bool() const { return task != nullptr; }
    // Executes the task and signals its synchronous caller.
    void run();
    // Deletes the task now (signalling "dropped" unless it ran).
    void reset();

private:
    ASRDispatchTaskBase* task;
};

// The task a queue launcher starts with on a pool thread. Dropped by the
// thread pool before it ran (a pool reset), it hands its task back to the
// front of its queue, which would otherwise never get its slot back.
class DispatchQueueTask {
public:
    DispatchQueueTask();
    ~DispatchQueueTask();
    DispatchQueueTask(const DispatchQueueTask&) = delete;
    DispatchQueueTask& operator=(const DispatchQueueTask&) = delete;

    Memory::vxs_shared_ptr<DispatchQueue> iOwnerQueue;
    QueuedTask iTask;  // empty once the launcher has taken it
    bool launched;     // accepted by the pool
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
    // As runTaskAsync, except that on an idle queue (no task running, waiting
    // or handed over) the task runs at once on the calling thread, in one of
    // the queue's slots, and has run when the call returns: a thread that
    // would only wait for the task spares the queue a wake-up. The caller must
    // hold no lock that the queue's tasks take.
    bool runTaskNowOrAsync(ASRDispatchTaskBase* task);

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
    // Under taskMutex: takes a slot and starts a launcher for `task` on the
    // pool. If the pool refuses, `task` is left as it was and false returned.
    bool launchTask(QueuedTask& task);
    // Under taskMutex: launches waiting tasks, oldest first, while slots are free.
    void launchWaiting();
    void relaunchDroppedTask(QueuedTask task);
    bool runInline(ASRDispatchTaskBase* task);
    // Takes a slot for a task run by the caller; false unless the queue
    // accepts tasks and is idle.
    bool claimIdleSlot();
    // Gives the claimed slot back and launches what was submitted meanwhile.
    void releaseClaimedSlot();
    // Counts the finished task back in and takes the next waiting one, if any.
    // With none waiting, `parked` tells whether the launcher may wait for a
    // hand-over (waitForHandOver) before it ends.
    QueuedTask dispatchQueueTaskFinished(bool* parked);
    // Under taskMutex: gives `task` to the parked launcher, taking a slot for
    // it; false (task untouched) when no launcher waits for one.
    bool handOverToParkedLauncher(QueuedTask& task);
    // A parked launcher's brief wait: the task handed over meanwhile, or empty
    // once the wait is over (the launcher is then no longer parked).
    QueuedTask waitForHandOver();
    void waitUntilIdle();
    static void queueLauncher(Memory::vxs_shared_ptr_base* parameter);

    std::deque<QueuedTask> tasks;
    Memory::vxs_weak_ptr<DispatchQueue> selfRef;
    int allowedConcurrent;
    int concurrentMax;
    Synchronization::AppConditionMutex* taskMutex;
    // At most one launcher waits for a hand-over at a time. Both fields are
    // under taskMutex; handOverReady lets the waiter poll without the lock.
    bool launcherParked;
    QueuedTask handedOver;
    std::atomic<bool> handOverReady;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_DISPATCH_QUEUE_H
