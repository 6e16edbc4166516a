// The unit of background work that run loops, the thread pool, dispatch
// queues and timers execute: a function (or a member function of an object
// the task keeps alive) and one owned, untyped reference parameter.
//
// Threading: a task is built on one thread and executed on another; the
// executor owns it from submission on. execute() of one task object may run
// on several threads at once only for a periodic timer's task, which keeps
// its parameter (_releaseResourceAfterExecute false) and so writes nothing.
#ifndef VXS_THREADS_DISPATCH_TASK_H
#define VXS_THREADS_DISPATCH_TASK_H

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Threads {

// The work of a plain task; the parameter is a typed pointer object behind
// the untyped base (cast it back), or null.
typedef void (*ASRDispatchTaskMethod)(Memory::vxs_shared_ptr_base* parameter);

class ASRDispatchTaskBase {
public:
    // Takes ownership of `parameter` (a heap holder from getRefPtr(), or null).
    ASRDispatchTaskBase(Synchronization::AppConditionMutex* executionFinishedMux,
                        Memory::vxs_shared_ptr_base* parameter, ASRDispatchTaskMethod method);
    virtual ~ASRDispatchTaskBase();
    ASRDispatchTaskBase(const ASRDispatchTaskBase&) = delete;
    ASRDispatchTaskBase& operator=(const ASRDispatchTaskBase&) = delete;

    // Runs the work (calls the method with the parameter when a method is set).
    virtual void execute();
    // Drops the parameter reference now rather than at destruction.
    virtual void releaseResource();

    // True for every task the library makes: typed tasks drop their parameter
    // right after running. Timers clear it for periodic tasks.
    bool _releaseResourceAfterExecute;
    // Marks the sentinel that ends a run loop; it is never executed.
    bool isStopRunLoopTask;
    // Completion signal of a synchronous caller (not owned): the executor sets
    // condition 2 after running the task, 4 when it drops the task unexecuted.
    Synchronization::AppConditionMutex* iExecutionFinishedMux;
    ASRDispatchTaskMethod iTargetMethod;
    Memory::vxs_shared_ptr_base* imethodParameter;
};

// Completion states written to a synchronous caller's mutex. The caller starts
// with kTaskPending and waits until that bit is cleared.
enum ASRDispatchTaskCompletion {
    kTaskPending = 1,
    kTaskExecuted = 2,
    kTaskDropped = 4,
};

// Signals a synchronous caller, if the task has one, with `completion`.
void signalTaskCompletion(ASRDispatchTaskBase* task, int completion);

// A new heap task that runs `method` with a reference of its own to
// `parameter` (null for none), dropped right after the run; `finished` is the
// synchronous caller's completion mutex, or null.
ASRDispatchTaskBase* newMethodTask(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter,
                                   Synchronization::AppConditionMutex* finished);

// Waits until the executor has signalled `finished` (which started as
// kTaskPending); true when the task ran, false when it was dropped.
bool waitForTaskCompletion(Synchronization::AppConditionMutex* finished);

// A task that calls a member function on an object it keeps alive until the
// task is destroyed.
template <class T>
class ASRDispatchTaskWithResPointer : public ASRDispatchTaskBase {
public:
    typedef void (T::*Method)(Memory::vxs_shared_ptr_base* parameter);

    // Keeps `instance`; takes a new reference of `parameter` (null for none).
    ASRDispatchTaskWithResPointer(const Memory::vxs_shared_ptr<T>& instance, Method method,
                                  Memory::vxs_shared_ptr_base* parameter)
        : ASRDispatchTaskBase(nullptr, parameter ? parameter->getRefPtr() : nullptr, nullptr),
          _instance(instance),
          _fuc(method) {
        _releaseResourceAfterExecute = true;
    }

    // Calls the member function, then drops the parameter unless told to keep it.
    void execute() override {
        T* object = _instance.getPTR();
        if (object && _fuc) (object->*_fuc)(imethodParameter);
        if (_releaseResourceAfterExecute) releaseResource();
    }

    Memory::vxs_shared_ptr<T> _instance;
    Method _fuc;
};

// A task that calls a member function on an object it holds only weakly, so
// that queued work never delays the object's destruction: when the object is
// gone by the time the task runs, nothing is called.
template <class T>
class ASRDispatchTaskWithWeakPointer : public ASRDispatchTaskBase {
public:
    typedef void (T::*Method)(Memory::vxs_shared_ptr_base* parameter);

    // Keeps `instance` weakly; takes a new reference of `parameter` (null for none).
    ASRDispatchTaskWithWeakPointer(const Memory::vxs_weak_ptr<T>& instance, Method method,
                                   Memory::vxs_shared_ptr_base* parameter)
        : ASRDispatchTaskBase(nullptr, parameter ? parameter->getRefPtr() : nullptr, nullptr),
          _instance(instance),
          _fuc(method) {
        _releaseResourceAfterExecute = true;
    }

    void execute() override {
        Memory::vxs_shared_ptr<T> object = _instance.getPTR();
        if (object.getPTR() && _fuc) (object.getPTR()->*_fuc)(imethodParameter);
        if (_releaseResourceAfterExecute) releaseResource();
    }

private:
    Memory::vxs_weak_ptr<T> _instance;
    Method _fuc;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_DISPATCH_TASK_H
