// One POSIX thread (at least 1 MiB of stack) that keeps its object alive
// while it runs: run() holds a strong self-reference until the thread has
// started, and the thread holds one until threadMain() returns, so the object
// may be destroyed on its own thread.
//
// Threading: run(), detach(), join() and isCurrentThread() may be called from
// any thread; the flags are guarded by paramMuxM. join() must not be called
// from the thread itself (it then returns without waiting).
#ifndef VXS_THREADS_APP_THREAD_H
#define VXS_THREADS_APP_THREAD_H

#include <pthread.h>

#include <string>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_task.h"

namespace vxs {
namespace Threads {

class AppThread {
public:
    AppThread();
    // Detaches a thread that is still joinable.
    virtual ~AppThread();
    AppThread(const AppThread&) = delete;
    AppThread& operator=(const AppThread&) = delete;

    // The thread body; the base calls iThreadFunction(iThreadParameter2) and
    // then drops the parameter.
    virtual void threadMain();

    // Starts the thread; needs selfPtr set. False if a thread was already
    // started or cannot be started.
    bool run();
    // False only when the system refuses to detach.
    bool detach();
    // Waits for the thread to end, once; later calls return at once.
    void join();
    bool isCurrentThread() const;

    // The calling thread's handle as an unsigned decimal number.
    static std::string getCurrentThreadIdentifier();
    static void sleep(int milliseconds);
    static void* threadLauncher(void* arg);

    // Set by the creator to the object's own shared pointer.
    Memory::vxs_weak_ptr<AppThread> selfPtr;
    // Body and owned parameter used by the base threadMain().
    ASRDispatchTaskMethod iThreadFunction;
    Memory::vxs_shared_ptr_base* iThreadParameter2;

private:
    bool threadCreatedM;
    bool isDetachedM;
    bool isJoinableM;
    pthread_t threadHandleM;
    Synchronization::AppMutex* paramMuxM;
    Memory::vxs_shared_ptr<AppThread> threadLaunchParam;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_APP_THREAD_H
