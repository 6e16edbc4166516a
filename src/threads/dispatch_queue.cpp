#include "threads/dispatch_queue.h"

#include <cstdio>
#include <cstdlib>

#include "core/log.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;

namespace {

// The queue whose task the calling thread is running, if any.
thread_local const DispatchQueue* t_currentQueue = nullptr;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const DispatchQueue* queue) : outer(t_currentQueue) { t_currentQueue = queue; }
    ~CurrentQueueScope() { t_currentQueue = outer; }

private:
    const DispatchQueue* outer;
};

ASRDispatchTaskBase* wrapMethod(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    ASRDispatchTaskBase* task =
        new ASRDispatchTaskBase(nullptr, parameter ? parameter->getRefPtr() : nullptr, method);
    task->_releaseResourceAfterExecute = true;
    return task;
}

bool waitForCompletion(Synchronization::AppConditionMutex* finished) {
    finished->lockWhenNotFlags(kTaskPending);
    const bool executed = finished->getCurrentCondition() == kTaskExecuted;
    finished->Unlock();
    return executed;
}

}  // namespace

DispatchQueueTask::DispatchQueueTask() : launched(false), executed(false) {}

DispatchQueueTask::~DispatchQueueTask() {
    // Only the pool drops a launched task (when it is reset): the work goes
    // back to its queue, which would otherwise never get its slot back.
    if (launched && !executed && iOwnerQueue && iTask) {
        iOwnerQueue->relaunchDroppedTask(iTask);
        return;
    }
    // Executed tasks have been signalled already; this releases the caller of
    // a task that was refused or dropped.
    signalTaskCompletion(iTask.getPTR(), kTaskDropped);
}

DispatchQueue::DispatchQueue(int concurrentThreadCount)
    : allowedConcurrent(concurrentThreadCount),
      concurrentMax(concurrentThreadCount),
      taskMutex(new Synchronization::AppConditionMutex(kQueueAccepting)) {}

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
    return submit(wrapMethod(method, parameter));
}

bool DispatchQueue::submit(ASRDispatchTaskBase* task) {
    if (!task) return false;
    // A refused task is released with this handle, after taskMutex is unlocked.
    vxs_shared_ptr<DispatchQueueTask> queued(new DispatchQueueTask());
    queued->iTask = vxs_shared_ptr<ASRDispatchTaskBase>(task);
    queued->iOwnerQueue = selfRef.getPTR();
    std::vector<vxs_shared_ptr<DispatchQueueTask> > launched;
    Synchronization::AppLock lock(taskMutex);
    if (taskMutex->getCurrentCondition() != kQueueAccepting) return false;
    if (allowedConcurrent <= 0 || !tasks.empty()) {
        // Older tasks still wait (normally for a slot; after a pool reset,
        // possibly for a pool that takes them): they go first.
        tasks.push_back(queued);
        launchWaiting(&launched);
        return true;
    }
    return launchTask(queued);
}

void DispatchQueue::launchWaiting(std::vector<vxs_shared_ptr<DispatchQueueTask> >* launched) {
    while (allowedConcurrent > 0 && !tasks.empty()) {
        vxs_shared_ptr<DispatchQueueTask> next = tasks.front();
        if (!launchTask(next)) return;
        tasks.pop_front();
        launched->push_back(next);
    }
}

void DispatchQueue::relaunchDroppedTask(const vxs_shared_ptr<ASRDispatchTaskBase>& task) {
    vxs_shared_ptr<DispatchQueueTask> again(new DispatchQueueTask());
    again->iTask = task;
    again->iOwnerQueue = selfRef.getPTR();
    std::vector<vxs_shared_ptr<DispatchQueueTask> > launched;
    std::deque<vxs_shared_ptr<DispatchQueueTask> > dropped;
    taskMutex->Lock();
    VXS_LOG_WARN("DispatchQueue: the thread pool dropped a launched task; queued again");
    allowedConcurrent += 1;
    tasks.push_front(again);
    launchWaiting(&launched);
    int state = taskMutex->getCurrentCondition();
    if (state != kQueueAccepting && allowedConcurrent >= concurrentMax) {
        // A stopping queue that cannot launch them any more: nothing would
        // ever run these, so their synchronous callers are released.
        dropped.swap(tasks);
        state = kQueueStopped;
    }
    taskMutex->unlockWithCondition(state);
}

bool DispatchQueue::launchTask(const vxs_shared_ptr<DispatchQueueTask>& task) {
    allowedConcurrent -= 1;
    task->iOwnerQueue = selfRef.getPTR();
    task->launched = true;
    vxs_shared_ptr<ASRDispatchTaskBase> launcher(
        new ASRDispatchTaskBase(nullptr, new vxs_shared_ptr<DispatchQueueTask>(task), &DispatchQueue::queueLauncher));
    launcher->_releaseResourceAfterExecute = true;
    if (GlobalThreadPool::instance()->runTaskAsync(launcher)) return true;
    VXS_LOG_ERROR("DispatchQueue: the thread pool refused a task");
    task->launched = false;
    allowedConcurrent += 1;
    return false;
}

void DispatchQueue::queueLauncher(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<DispatchQueueTask>* holder = static_cast<vxs_shared_ptr<DispatchQueueTask>*>(parameter);
    vxs_shared_ptr<DispatchQueueTask> current = *holder;
    // Only `current` keeps the task, so each one is released as soon as it is done.
    *holder = vxs_shared_ptr<DispatchQueueTask>();
    vxs_shared_ptr<DispatchQueue> queue = current->iOwnerQueue;
    CurrentQueueScope scope(queue.getPTR());
    while (current) {
        current->executed = true;
        ASRDispatchTaskBase* work = current->iTask.getPTR();
        work->execute();
        signalTaskCompletion(work, kTaskExecuted);
        // The finished task may hold the last reference to an object whose
        // destructor cancels this queue: it is released by this assignment,
        // after dispatchQueueTaskFinished() has unlocked taskMutex.
        current = queue->dispatchQueueTaskFinished();
    }
}

vxs_shared_ptr<DispatchQueueTask> DispatchQueue::dispatchQueueTaskFinished() {
    vxs_shared_ptr<DispatchQueueTask> next;
    taskMutex->Lock();
    allowedConcurrent += 1;
    int state = taskMutex->getCurrentCondition();
    if (!tasks.empty()) {
        next = tasks.front();
        tasks.pop_front();
        allowedConcurrent -= 1;
    } else if (allowedConcurrent >= concurrentMax && state != kQueueAccepting) {
        state = kQueueStopped;
    }
    // The launcher holds the queue, so its mutex outlives this wake-up.
    taskMutex->unlockWithConditionThenWake(state);
    return next;
}

bool DispatchQueue::runTaskSync(ASRDispatchTaskBase* task) {
    if (!task) return false;
    if (isCurrentQueue()) return runInline(task);
    Synchronization::AppConditionMutex finished(kTaskPending);
    task->iExecutionFinishedMux = &finished;
    // A refused task has released `finished` with "dropped" already.
    if (!submit(task)) return false;
    return waitForCompletion(&finished);
}

bool DispatchQueue::runTaskSync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    if (isCurrentQueue()) {
        // As on a run loop: the work runs at once, with the caller's parameter.
        if (getState() != kQueueAccepting) return false;
        if (method) method(parameter);
        return true;
    }
    return runTaskSync(wrapMethod(method, parameter));
}

bool DispatchQueue::runInline(ASRDispatchTaskBase* task) {
    // Waiting here would wait for the calling task itself; the work runs in its slot.
    vxs_shared_ptr<ASRDispatchTaskBase> owned(task);
    if (getState() != kQueueAccepting) return false;
    owned->execute();
    signalTaskCompletion(task, kTaskExecuted);
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
    std::deque<vxs_shared_ptr<DispatchQueueTask> > dropped;
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
