#include "threads/dispatch_queue.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/log.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;

namespace {

// How long a launcher that drained its queue keeps its pool thread for the
// next task. A producer posting a stream usually needs far less than this
// between two posts, while a relaunch costs the pool mutex, a run-loop push
// and the wake-up of a sleeping thread.
const std::chrono::microseconds kLauncherParkTime(20);

inline void relaxCpu() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The queue whose task the calling thread is running, if any.
thread_local const DispatchQueue* t_currentQueue = nullptr;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const DispatchQueue* queue) : outer(t_currentQueue) { t_currentQueue = queue; }
    ~CurrentQueueScope() { t_currentQueue = outer; }

private:
    const DispatchQueue* outer;
};

}  // namespace

QueuedTask& QueuedTask::operator=(QueuedTask&& other) noexcept {
    if (this != &other) {
        reset();
        task = other.task;
        other.task = nullptr;
    }
    return *this;
}

void QueuedTask::run() {
    task->execute();
    signalTaskCompletion(task, kTaskExecuted);
}

void QueuedTask::reset() {
    if (!task) return;
    // A task that ran has been signalled already; this releases the caller
    // of one that was refused or dropped.
    signalTaskCompletion(task, kTaskDropped);
    delete task;
    task = nullptr;
}

DispatchQueueTask::DispatchQueueTask() : launched(false) {}

DispatchQueueTask::~DispatchQueueTask() {
    if (launched && iTask && iOwnerQueue) iOwnerQueue->relaunchDroppedTask(std::move(iTask));
}

DispatchQueue::DispatchQueue(int concurrentThreadCount)
    : allowedConcurrent(concurrentThreadCount),
      concurrentMax(concurrentThreadCount),
      taskMutex(new Synchronization::AppConditionMutex(kQueueAccepting)),
      launcherParked(false),
      handOverReady(false) {}

DispatchQueue::~DispatchQueue() { delete taskMutex; }

vxs_shared_ptr<DispatchQueue> DispatchQueue::alloc(int concurrentThreadCount) {
    if (!(concurrentThreadCount > 0)) {
        VXS_LOG_FATAL("DispatchQueue::alloc: Assertion `%s' failed.", "concurrentThreadCount > 0");
        std::fprintf(stderr, "DispatchQueue::alloc: Assertion `%s' failed.\n", "concurrentThreadCount > 0");
        std::abort();
    }
    vxs_shared_ptr<DispatchQueue> queue(new DispatchQueue(concurrentThreadCount));
    queue->selfRef = queue;
    return queue;
}

bool DispatchQueue::runTaskAsync(ASRDispatchTaskBase* task) { return submit(task); }

bool DispatchQueue::runTaskAsync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    return submit(newMethodTask(method, parameter, nullptr));
}

bool DispatchQueue::submit(ASRDispatchTaskBase* task) {
    if (!task) return false;
    // Declared before the lock: a refused task is released after taskMutex
    // is unlocked.
    QueuedTask queued(task);
    Synchronization::AppLock lock(taskMutex);
    if (taskMutex->getCurrentCondition() != kQueueAccepting) return false;
    if (allowedConcurrent <= 0 || !tasks.empty()) {
        // Older tasks still wait (normally for a slot; after a pool reset,
        // possibly for a pool that takes them): they go first.
        tasks.push_back(std::move(queued));
        launchWaiting();
        return true;
    }
    if (handOverToParkedLauncher(queued)) return true;
    return launchTask(queued);
}

bool DispatchQueue::handOverToParkedLauncher(QueuedTask& task) {
    if (!launcherParked || handedOver) return false;
    allowedConcurrent -= 1;
    handedOver = std::move(task);
    handOverReady.store(true, std::memory_order_release);
    return true;
}

void DispatchQueue::launchWaiting() {
    while (allowedConcurrent > 0 && !tasks.empty()) {
        if (!launchTask(tasks.front())) return;
        tasks.pop_front();
    }
}

void DispatchQueue::relaunchDroppedTask(QueuedTask task) {
    std::deque<QueuedTask> dropped;
    taskMutex->Lock();
    VXS_LOG_WARN("DispatchQueue: the thread pool dropped a launched task; queued again");
    allowedConcurrent += 1;
    tasks.push_front(std::move(task));
    launchWaiting();
    int state = taskMutex->getCurrentCondition();
    if (state != kQueueAccepting && allowedConcurrent >= concurrentMax) {
        // A stopping queue that cannot launch them any more: nothing would
        // ever run these, so their synchronous callers are released.
        dropped.swap(tasks);
        state = kQueueStopped;
    }
    taskMutex->unlockWithCondition(state);
}

bool DispatchQueue::launchTask(QueuedTask& task) {
    vxs_shared_ptr<DispatchQueueTask> first(new DispatchQueueTask());
    first->iOwnerQueue = selfRef.getPTR();
    first->iTask = std::move(task);
    first->launched = true;
    vxs_shared_ptr<ASRDispatchTaskBase> launcher(
        new ASRDispatchTaskBase(nullptr, new vxs_shared_ptr<DispatchQueueTask>(first), &DispatchQueue::queueLauncher));
    launcher->_releaseResourceAfterExecute = true;
    allowedConcurrent -= 1;
    if (GlobalThreadPool::instance()->runTaskAsync(launcher)) return true;
    VXS_LOG_ERROR("DispatchQueue: the thread pool refused a task");
    // Taken back before the launcher goes: the caller keeps the task.
    first->launched = false;
    task = std::move(first->iTask);
    allowedConcurrent += 1;
    return false;
}

void DispatchQueue::queueLauncher(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<DispatchQueueTask>* holder = static_cast<vxs_shared_ptr<DispatchQueueTask>*>(parameter);
    vxs_shared_ptr<DispatchQueueTask> first = *holder;
    *holder = vxs_shared_ptr<DispatchQueueTask>();
    vxs_shared_ptr<DispatchQueue> queue = first->iOwnerQueue;
    QueuedTask current = std::move(first->iTask);
    first = vxs_shared_ptr<DispatchQueueTask>();
    CurrentQueueScope scope(queue.getPTR());
    while (current) {
        current.run();
        bool parked = false;
        QueuedTask next = queue->dispatchQueueTaskFinished(&parked);
        // The finished task may hold the last reference to an object whose
        // destructor cancels this queue: it is released by this assignment,
        // after dispatchQueueTaskFinished() has unlocked taskMutex.
        current = std::move(next);
        if (!current && parked) current = queue->waitForHandOver();
    }
}

QueuedTask DispatchQueue::dispatchQueueTaskFinished(bool* parked) {
    QueuedTask next;
    taskMutex->Lock();
    allowedConcurrent += 1;
    int state = taskMutex->getCurrentCondition();
    if (!tasks.empty()) {
        next = std::move(tasks.front());
        tasks.pop_front();
        allowedConcurrent -= 1;
    } else if (allowedConcurrent >= concurrentMax && state != kQueueAccepting) {
        state = kQueueStopped;
    } else if (state == kQueueAccepting && !launcherParked) {
        // The slot is given back: a stop or cancel sees the queue idle, and
        // the waiting launcher is no longer counted as running.
        launcherParked = true;
        *parked = true;
    }
    // The launcher holds the queue, so its mutex outlives this wake-up.
    taskMutex->unlockWithConditionThenWake(state);
    return next;
}

QueuedTask DispatchQueue::waitForHandOver() {
    const auto deadline = std::chrono::steady_clock::now() + kLauncherParkTime;
    for (unsigned spins = 1; !handOverReady.load(std::memory_order_acquire); ++spins) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        // Mostly spinning; yielding now and then lets the producer run when
        // it shares this core.
        if (spins % 16 == 0) std::this_thread::yield();
        else relaxCpu();
    }
    // A task handed over after the wait ended is taken all the same.
    QueuedTask next;
    taskMutex->Lock();
    next = std::move(handedOver);
    handOverReady.store(false, std::memory_order_relaxed);
    launcherParked = false;
    taskMutex->Unlock();
    return next;
}

bool DispatchQueue::runTaskSync(ASRDispatchTaskBase* task) {
    if (!task) return false;
    if (isCurrentQueue()) return runInline(task);
    Synchronization::AppConditionMutex finished(kTaskPending);
    task->iExecutionFinishedMux = &finished;
    // A refused task has released `finished` with "dropped" already.
    if (!submit(task)) return false;
    return waitForTaskCompletion(&finished);
}

bool DispatchQueue::runTaskSync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    if (isCurrentQueue()) {
        // As on a run loop: the work runs at once, with the caller's parameter.
        if (getState() != kQueueAccepting) return false;
        if (method) method(parameter);
        return true;
    }
    return runTaskSync(newMethodTask(method, parameter, nullptr));
}

bool DispatchQueue::runTaskNowOrAsync(ASRDispatchTaskBase* task) {
    if (!task) return false;
    // The task may hold the last reference to this queue's owner.
    vxs_shared_ptr<DispatchQueue> self = selfRef.getPTR();
    if (!self || !claimIdleSlot()) return submit(task);
    {
        // Released (and signalled) before the slot goes back, as in a launcher.
        QueuedTask owned(task);
        CurrentQueueScope scope(this);
        owned.run();
    }
    releaseClaimedSlot();
    return true;
}

bool DispatchQueue::claimIdleSlot() {
    Synchronization::AppLock lock(taskMutex);
    if (taskMutex->getCurrentCondition() != kQueueAccepting) return false;
    if (allowedConcurrent < concurrentMax || !tasks.empty() || handedOver) return false;
    allowedConcurrent -= 1;
    return true;
}

void DispatchQueue::releaseClaimedSlot() {
    taskMutex->Lock();
    allowedConcurrent += 1;
    launchWaiting();
    int state = taskMutex->getCurrentCondition();
    if (state != kQueueAccepting && allowedConcurrent >= concurrentMax) state = kQueueStopped;
    taskMutex->unlockWithConditionThenWake(state);
}

bool DispatchQueue::runInline(ASRDispatchTaskBase* task) {
    // Waiting here would wait for the calling task itself; the work runs in its slot.
    QueuedTask owned(task);
    if (getState() != kQueueAccepting) return false;
    owned.run();
    return true;
}

void DispatchQueue::stopQueue() {
    taskMutex->Lock();
    int state = taskMutex->getCurrentCondition();
    if (state == kQueueAccepting) state = allowedConcurrent >= concurrentMax ? kQueueStopped : kQueueStopping;
    taskMutex->unlockWithCondition(state);
}

void DispatchQueue::stopQueue_sync() {
    stopQueue();
    waitUntilIdle();
}

int DispatchQueue::cancel() {
    std::deque<QueuedTask> dropped;
    taskMutex->Lock();
    dropped.swap(tasks);
    int state = taskMutex->getCurrentCondition();
    if (state != kQueueStopped) state = allowedConcurrent >= concurrentMax ? kQueueStopped : kQueueStopping;
    taskMutex->unlockWithCondition(state);
    // Released here, unlocked: their synchronous callers get false.
    return static_cast<int>(dropped.size());
}

int DispatchQueue::cancel_sync() {
    const int dropped = cancel();
    waitUntilIdle();
    return dropped;
}

void DispatchQueue::waitUntilIdle() {
    if (isCurrentQueue()) return;  // the calling task itself keeps the queue busy
    taskMutex->lockWhenCondition(kQueueStopped);
    taskMutex->Unlock();
}

int DispatchQueue::getState() {
    Synchronization::AppLock lock(taskMutex);
    return taskMutex->getCurrentCondition();
}

bool DispatchQueue::isCurrentQueue() const { return t_currentQueue == this; }

}  // namespace Threads
}  // namespace vxs
