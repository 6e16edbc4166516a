#include "threads/global_thread_pool.h"

#include <cstdio>

#include "core/log.h"
#include "threads/refresh_timer.h"
#include "threads/timer.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;

std::atomic<int> GlobalThreadPool::GLOBAL_POOL_THREAD_COUNT(30);

namespace {

// Whether an instance exists, so that shutdown() does not make a pool only to
// end it.
std::atomic<bool> g_instanceMade(false);

void pauseTimerLoops() {
    Timer::pauseTimerLoop();
    RefreshTimer::pauseTimerLoop();
}

void restartTimerLoops() {
    Timer::restartTimerLoop();
    RefreshTimer::restartTimerLoop();
}

}  // namespace

GlobalThreadPool::GlobalThreadPool() : poolMutex(false) {
    const int count = GLOBAL_POOL_THREAD_COUNT.load();
    iThreadPool = ThreadPool::alloc(count);
    g_instanceMade.store(true);
    std::fprintf(stderr, "[GlobalThreadPool::GlobalThreadPool] alloc thread num:%d\n", count);
    std::fflush(stderr);
}

GlobalThreadPool::~GlobalThreadPool() {
    iThreadPool = vxs_shared_ptr<ThreadPool>();
    VXS_LOG_DEBUG("[GlobalThreadPool::~GlobalThreadPool] in");
}

bool GlobalThreadPool::setGlobalPoolThreadCount(int count) {
    if (count <= 0) return false;
    GLOBAL_POOL_THREAD_COUNT.store(count);
    return true;
}

int GlobalThreadPool::getGlobalPoolThreadCount() { return GLOBAL_POOL_THREAD_COUNT.load(); }

vxs_shared_ptr<ThreadPool> GlobalThreadPool::currentPool() {
    Synchronization::AppLock lock(&poolMutex);
    return iThreadPool;
}

vxs_shared_ptr<ThreadPool> GlobalThreadPool::takePool() {
    vxs_shared_ptr<ThreadPool> pool;
    Synchronization::AppLock lock(&poolMutex);
    pool = iThreadPool;
    iThreadPool = vxs_shared_ptr<ThreadPool>();
    return pool;
}

bool GlobalThreadPool::runTaskAsync(const vxs_shared_ptr<ASRDispatchTaskBase>& task) {
    vxs_shared_ptr<ThreadPool> pool = currentPool();
    return pool && pool->runTaskAsync(task);
}

bool GlobalThreadPool::runTaskAsync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<ThreadPool> pool = currentPool();
    return pool && pool->runTaskAsync(method, parameter);
}

void GlobalThreadPool::reset() {
    // A timer loop sleeping on the old pool would keep cancel_sync() waiting,
    // and one still waiting for a thread is dropped by it: stop both loops
    // and start them again on the new pool.
    pauseTimerLoops();
    // The new pool takes over first, so that nothing submitted meanwhile is
    // refused and dispatch queues whose launch the old pool drops relaunch
    // on the new one.
    vxs_shared_ptr<ThreadPool> fresh = ThreadPool::alloc(GLOBAL_POOL_THREAD_COUNT.load());
    vxs_shared_ptr<ThreadPool> old;
    {
        Synchronization::AppLock lock(&poolMutex);
        old = iThreadPool;
        iThreadPool = fresh;
    }
    if (old) old->cancel_sync();
    old = vxs_shared_ptr<ThreadPool>();
    restartTimerLoops();
}

void GlobalThreadPool::printThreadUsageStats() {
    vxs_shared_ptr<ThreadPool> pool = currentPool();
    if (pool) pool->printThreadUsageStats();
}

void GlobalThreadPool::shutdown() {
    if (!g_instanceMade.load()) return;
    pauseTimerLoops();
    Timer::dropPendingTimers();
    RefreshTimer::dropPendingTimers();
    vxs_shared_ptr<GlobalThreadPool> global = instance();
    vxs_shared_ptr<ThreadPool> pool = global->takePool();
    if (pool) pool->cancel_sync();
    pool = vxs_shared_ptr<ThreadPool>();
    // Tasks that ran meanwhile may have armed new timers.
    Timer::dropPendingTimers();
    RefreshTimer::dropPendingTimers();
    g_instanceMade.store(false);
    releaseInstance();
    global = vxs_shared_ptr<GlobalThreadPool>();
    restartTimerLoops();
}

}  // namespace Threads
}  // namespace vxs
