#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

ASRDispatchTaskBase::ASRDispatchTaskBase(Synchronization::AppConditionMutex* executionFinishedMux,
                                         Memory::vxs_shared_ptr_base* parameter,
                                         ASRDispatchTaskMethod method)
    : _releaseResourceAfterExecute(false),
      isStopRunLoopTask(false),
      iExecutionFinishedMux(executionFinishedMux),
      iTargetMethod(method),
      imethodParameter(parameter) {}

ASRDispatchTaskBase::~ASRDispatchTaskBase() { releaseResource(); }

void ASRDispatchTaskBase::execute() {
    if (iTargetMethod) iTargetMethod(imethodParameter);
}

void ASRDispatchTaskBase::releaseResource() {
    delete imethodParameter;
    imethodParameter = nullptr;
}

void signalTaskCompletion(ASRDispatchTaskBase* task, int completion) {
    if (!task || !task->iExecutionFinishedMux) return;
    // The waiter owns the mutex and may destroy it as soon as it sees the new
    // condition, so the task forgets it first.
    Synchronization::AppConditionMutex* finished = task->iExecutionFinishedMux;
    task->iExecutionFinishedMux = nullptr;
    finished->Lock();
    finished->unlockWithCondition(completion);
}

ASRDispatchTaskBase* newMethodTask(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter,
                                   Synchronization::AppConditionMutex* finished) {
    ASRDispatchTaskBase* task =
        new ASRDispatchTaskBase(finished, parameter ? parameter->getRefPtr() : nullptr, method);
    task->_releaseResourceAfterExecute = true;
    return task;
}

bool waitForTaskCompletion(Synchronization::AppConditionMutex* finished) {
    finished->lockWhenNotFlags(kTaskPending);
    const bool executed = finished->getCurrentCondition() == kTaskExecuted;
    finished->Unlock();
    return executed;
}

}  // namespace Threads
}  // namespace vxs
