// A set of pool threads (each a one-level AppRunloop) that runs submitted
// tasks: each goes to an idle thread, or waits, oldest first, until one
// becomes idle. Idle threads are reused most-recently-idle first.
//
// Threading: every public call may come from any thread. idleLoopsMutex
// guards the lists, counters and waiting tasks; its condition is the pool
// state (0 running, 1 stopping, 2 stopped). Tasks run without the pool mutex
// held, and finished tasks are released only after it is unlocked, so a
// task's last reference may tear down objects that use the pool. The pool
// never takes a dispatch-queue mutex. The _sync calls must not be made from a
// thread of the same pool (they then stop without waiting).
#ifndef VXS_THREADS_THREAD_POOL_H
#define VXS_THREADS_THREAD_POOL_H

#include <cstdint>
#include <deque>
#include <vector>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/app_runloop.h"
#include "threads/dispatch_task.h"
#include "threads/timer.h"

namespace vxs {
namespace Threads {

class ThreadPool;

class ThreadPoolTask {
public:
    Memory::vxs_shared_ptr<ThreadPool> iOwnerQueue;
    Memory::vxs_shared_ptr<ASRDispatchTaskBase> iTask;
};

// One pool thread; it owns itself (selfRef) while it is in the idle or busy list.
class PoolThreadListNode {
public:
    PoolThreadListNode();

    Memory::vxs_shared_ptr<PoolThreadListNode> selfRef;
    Memory::vxs_shared_ptr<ThreadPoolTask> runTask;  // empty when idle
    Memory::vxs_shared_ptr<AppRunloop> runLoop;
    PoolThreadListNode* next;
    PoolThreadListNode* prev;
    uint64_t lastUseTime;  // microseconds, when the thread last became idle
    uint32_t useCount;
};

// Pool states, kept as the condition of idleLoopsMutex.
enum ThreadPoolState { kPoolRunning = 0, kPoolStopping = 1, kPoolStopped = 2 };

class ThreadPool {
public:
    // A running pool with `initialThreadCount` threads made at once.
    static Memory::vxs_shared_ptr<ThreadPool> alloc(int initialThreadCount);
    virtual ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // False (the task does not run) when the pool is not running or the task
    // is null. A task that finds no idle thread waits for one.
    bool runTaskAsync(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task);
    // Wraps the method and a new reference of `parameter`.
    bool runTaskAsync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter);

    // Refuses new tasks; waiting ones still run, then the threads end.
    void stop();
    // As stop(), then waits until no task runs and every thread has ended.
    void stop_sync();
    // Drops the waiting tasks (synchronous callers get false), then as stop().
    void cancel();
    // Drops the waiting tasks, waits for running ones and for every thread to end.
    void cancel_sync();

    void printThreadUsageStats();

    int getState();
    int getCurrentThreadCount();

private:
    typedef std::vector<Memory::vxs_shared_ptr<PoolThreadListNode> > NodeList;
    typedef std::deque<Memory::vxs_shared_ptr<ThreadPoolTask> > TaskList;

    ThreadPool();

    // Under the pool mutex. `finished` receives the node's finished task so
    // that it is released after the mutex is unlocked.
    void threadBecameIdle(PoolThreadListNode* node, Memory::vxs_shared_ptr<ThreadPoolTask>* finished);
    PoolThreadListNode* dequeIdleThreadForWork();
    bool addThread();
    bool startTaskOnThread(PoolThreadListNode* node, const Memory::vxs_shared_ptr<ThreadPoolTask>& task);
    // Unlinks surplus threads idle for 30 s into `removed`.
    void removeUnusedThreads(uint64_t now, NodeList* removed);
    // Unlinks every thread into `removed`; currentThreadCount becomes 0.
    void unlinkAllThreads(NodeList* removed);
    // Outside the pool mutex: ends the threads' run loops and drops the nodes.
    static void stopThreads(NodeList* nodes, bool waitForEnd);
    void stopPool(bool dropWaiting);
    void stopPoolAndWait(bool dropWaiting);
    bool isPoolThread();
    void armPurgeTimer();

    static void poolLauncher(Memory::vxs_shared_ptr_base* parameter);
    static void purgeTimerFired(Memory::vxs_shared_ptr_base* parameter);

    Memory::vxs_weak_ptr<ThreadPool> selfRef;
    Synchronization::AppConditionMutex* idleLoopsMutex;
    PoolThreadListNode* idleThreads;
    PoolThreadListNode* idleThreads_end;
    PoolThreadListNode* busyThreads;
    int requestedThreadCount;
    int currentThreadCount;
    // A stop waiter joins the threads itself once the last task has finished.
    bool syncStopWaiting;
    Memory::vxs_shared_ptr<Timer> purgeUnusedThreadsTimer;
    TaskList tasks;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_THREAD_POOL_H
