#include "threads/app_runloop.h"

#include "core/log.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;

namespace {

// Task-list condition values.
const int kNoTaskWaiting = 0;
const int kTaskWaiting = 1;

vxs_shared_ptr<ASRDispatchTaskBase> wrapMethod(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter,
                                               Synchronization::AppConditionMutex* finished) {
    return vxs_shared_ptr<ASRDispatchTaskBase>(newMethodTask(method, parameter, finished));
}

}  // namespace

AppRunloop::AppRunloop(uint16_t taskVectorCount, const char* name)
    : dbgName(name),
      iIsStopped(true),
      iTaskArrayMutex(new Synchronization::AppConditionMutex(kNoTaskWaiting)),
      iTaskVectorCount(taskVectorCount),
      iRunLoopTasks(new TaskList[taskVectorCount]) {}

AppRunloop::~AppRunloop() {
    if (dbgName) VXS_LOG_DEBUG("Deleted runloop %s", dbgName);
    delete iTaskArrayMutex;
    delete[] iRunLoopTasks;
}

vxs_shared_ptr<AppRunloop> AppRunloop::alloc(uint8_t highestPriority, const char* name) {
    vxs_shared_ptr<AppRunloop> loop(new AppRunloop(static_cast<uint16_t>(highestPriority + 1), name));
    loop->selfPtr = vxs_shared_ptr<AppThread>(loop);
    if (name) VXS_LOG_DEBUG("Created runloop %s", name);
    if (!loop->run()) {
        VXS_LOG_FATAL("%s, Error: Failed to start run loop", "alloc");
        return vxs_shared_ptr<AppRunloop>();
    }
    loop->iTaskArrayMutex->Lock();
    loop->iIsStopped = false;
    loop->iTaskArrayMutex->Unlock();
    return loop;
}

bool AppRunloop::isStopped() {
    Synchronization::AppLock lock(iTaskArrayMutex);
    return iIsStopped;
}

bool AppRunloop::pushTask(const vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority) {
    if (!task || priority < 0 || priority >= iTaskVectorCount) return false;
    iTaskArrayMutex->Lock();
    if (iIsStopped) {
        iTaskArrayMutex->Unlock();
        return false;
    }
    iRunLoopTasks[priority].push_back(task);
    // The task mutex lives as long as the run loop, which the caller holds.
    iTaskArrayMutex->unlockWithConditionThenWake(kTaskWaiting);
    return true;
}

vxs_shared_ptr<ASRDispatchTaskBase> AppRunloop::popTask() {
    for (;;) {
        iTaskArrayMutex->lockWhenCondition(kTaskWaiting);
        vxs_shared_ptr<ASRDispatchTaskBase> task;
        bool moreWaiting = false;
        for (uint16_t level = 0; level < iTaskVectorCount; ++level) {
            TaskList& list = iRunLoopTasks[level];
            if (list.empty()) continue;
            if (!task) {
                task = list.front();
                list.pop_front();
                moreWaiting = moreWaiting || !list.empty();
            } else {
                moreWaiting = true;
                break;
            }
        }
        iTaskArrayMutex->unlockWithConditionThenWake(moreWaiting ? kTaskWaiting : kNoTaskWaiting);
        if (task) return task;
    }
}

size_t AppRunloop::queuedTaskCount() {
    Synchronization::AppLock lock(iTaskArrayMutex);
    size_t count = 0;
    for (uint16_t level = 0; level < iTaskVectorCount; ++level) count += iRunLoopTasks[level].size();
    return count;
}

void AppRunloop::threadMain() {
    for (;;) {
        vxs_shared_ptr<ASRDispatchTaskBase> task = popTask();
        if (task->isStopRunLoopTask) break;
        task->execute();
        signalTaskCompletion(task.getPTR(), kTaskExecuted);
    }
}

bool AppRunloop::runTaskAsync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter, int priority) {
    if (priority < 0 || priority >= iTaskVectorCount) return false;
    return pushTask(wrapMethod(method, parameter, nullptr), priority);
}

bool AppRunloop::runTaskAsync(const vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority) {
    return pushTask(task, priority);
}

bool AppRunloop::runTaskSync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter, int priority) {
    if (priority < 0 || priority >= iTaskVectorCount) return false;
    if (isCurrentThread()) {
        if (isStopped()) return false;
        if (method) method(parameter);
        return true;
    }
    Synchronization::AppConditionMutex finished(kTaskPending);
    if (!pushTask(wrapMethod(method, parameter, &finished), priority)) return false;
    return waitForTaskCompletion(&finished);
}

bool AppRunloop::runTaskSync(const vxs_shared_ptr<ASRDispatchTaskBase>& task, int priority) {
    if (!task || priority < 0 || priority >= iTaskVectorCount) return false;
    if (isCurrentThread()) {
        if (isStopped()) return false;
        task->execute();
        signalTaskCompletion(task.getPTR(), kTaskExecuted);
        return true;
    }
    Synchronization::AppConditionMutex finished(kTaskPending);
    task->iExecutionFinishedMux = &finished;
    if (!pushTask(task, priority)) {
        task->iExecutionFinishedMux = nullptr;
        return false;
    }
    return waitForTaskCompletion(&finished);
}

void AppRunloop::pushStopTask(bool mostUrgent) {
    vxs_shared_ptr<ASRDispatchTaskBase> stopTask(new ASRDispatchTaskBase(nullptr, nullptr, nullptr));
    stopTask->isStopRunLoopTask = true;
    iTaskArrayMutex->Lock();
    iIsStopped = true;
    TaskList& list = iRunLoopTasks[mostUrgent ? 0 : iTaskVectorCount - 1];
    list.push_back(stopTask);
    iTaskArrayMutex->unlockWithCondition(kTaskWaiting);
}

void AppRunloop::stopRunloop() {
    pushStopTask(false);
    detach();
}

void AppRunloop::stopRunloop_sync() {
    pushStopTask(false);
    join();
}

void AppRunloop::cancel() {
    iTaskArrayMutex->Lock();
    iIsStopped = true;
    iTaskArrayMutex->Unlock();
    removeTasks();
    pushStopTask(true);
    detach();
}

void AppRunloop::cancel_sync() {
    iTaskArrayMutex->Lock();
    iIsStopped = true;
    iTaskArrayMutex->Unlock();
    removeTasks();
    pushStopTask(true);
    join();
}

void AppRunloop::removeTasks() {
    // Dropped tasks may hold the last reference to objects whose destructors
    // use this loop, so they are released after the task mutex is unlocked.
    TaskList dropped;
    iTaskArrayMutex->Lock();
    for (uint16_t level = 0; level < iTaskVectorCount; ++level) {
        TaskList& list = iRunLoopTasks[level];
        dropped.insert(dropped.end(), list.begin(), list.end());
        list.clear();
    }
    iTaskArrayMutex->unlockWithCondition(kNoTaskWaiting);
    for (size_t i = 0; i < dropped.size(); ++i) signalTaskCompletion(dropped[i].getPTR(), kTaskDropped);
}

}  // namespace Threads
}  // namespace vxs
