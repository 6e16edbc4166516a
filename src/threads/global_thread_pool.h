// The process-wide thread pool that runs all background work of the library,
// made on first use with GLOBAL_POOL_THREAD_COUNT threads.
//
// Threading: every call may come from any thread. poolMutex only guards the
// replacement of the pool pointer; submissions are serialised by the pool
// itself. reset() and shutdown() wait for running tasks and must not be
// called from a pool thread.
#ifndef VXS_THREADS_GLOBAL_THREAD_POOL_H
#define VXS_THREADS_GLOBAL_THREAD_POOL_H

#include <atomic>

#include "core/shared_ptr.h"
#include "core/singleton.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_task.h"
#include "threads/thread_pool.h"

namespace vxs {
namespace Threads {

class GlobalThreadPool : public Memory::Singleton<GlobalThreadPool> {
public:
    ~GlobalThreadPool() override;

    // The number of threads of the next pool made (first use or reset());
    // values of 0 or less are refused (false).
    static bool setGlobalPoolThreadCount(int count);
    static int getGlobalPoolThreadCount();

    // False when the pool does not accept the task (stopping, or null task).
    bool runTaskAsync(const Memory::vxs_shared_ptr<ASRDispatchTaskBase>& task);
    bool runTaskAsync(ASRDispatchTaskMethod method, Memory::vxs_shared_ptr_base* parameter);

    // Replaces the pool by a new one and cancels the old one: its waiting
    // tasks are dropped, running ones finish, its threads end. Pending timers
    // and dispatch queues carry on on the new pool.
    void reset();
    void printThreadUsageStats();

    // For process exit: ends every pool thread, drops pending timers and
    // forgets the instance; a later use makes a new pool.
    static void shutdown();

    static std::atomic<int> GLOBAL_POOL_THREAD_COUNT;

private:
    friend class Memory::Singleton<GlobalThreadPool>;
    GlobalThreadPool();

    Memory::vxs_shared_ptr<ThreadPool> currentPool();
    Memory::vxs_shared_ptr<ThreadPool> takePool();

    Memory::vxs_shared_ptr<ThreadPool> iThreadPool;
    Synchronization::AppMutex poolMutex;
};

}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_GLOBAL_THREAD_POOL_H
