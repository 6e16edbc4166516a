#include "threads/thread_pool.h"

#include "core/log.h"
#include "core/time_util.h"

namespace vxs {
namespace Threads {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Memory::vxs_weak_ptr;

namespace {

const uint64_t kUnusedThreadIdleMicros = 30000000ull;
const int kPurgeTimerMS = 30000;

// Intrusive doubly linked lists of nodes: the idle list has a tail (the
// longest idle thread), the busy list only a head.
void linkAtHead(PoolThreadListNode*& head, PoolThreadListNode** tail, PoolThreadListNode* node) {
    node->prev = nullptr;
    node->next = head;
    if (head) head->prev = node;
    head = node;
    if (tail && !*tail) *tail = node;
}

void unlink(PoolThreadListNode*& head, PoolThreadListNode** tail, PoolThreadListNode* node) {
    if (node->prev) node->prev->next = node->next;
    else head = node->next;
    if (node->next) node->next->prev = node->prev;
    else if (tail) *tail = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

void signalDropped(const std::deque<vxs_shared_ptr<ThreadPoolTask> >& dropped) {
    for (size_t i = 0; i < dropped.size(); ++i) {
        signalTaskCompletion(dropped[i]->iTask.getPTR(), kTaskDropped);
    }
}

}  // namespace

PoolThreadListNode::PoolThreadListNode() : next(nullptr), prev(nullptr), lastUseTime(0), useCount(0) {}

ThreadPool::ThreadPool()
    : idleLoopsMutex(new Synchronization::AppConditionMutex(kPoolRunning)),
      idleThreads(nullptr),
      idleThreads_end(nullptr),
      busyThreads(nullptr),
      requestedThreadCount(0),
      currentThreadCount(0),
      syncStopWaiting(false) {}

ThreadPool::~ThreadPool() {
    // Only reached once no task of the pool runs or waits (each holds the
    // pool); threads still listed belong to a pool nobody stopped.
    NodeList remaining;
    idleLoopsMutex->Lock();
    unlinkAllThreads(&remaining);
    idleLoopsMutex->Unlock();
    stopThreads(&remaining, false);
    delete idleLoopsMutex;
}

vxs_shared_ptr<ThreadPool> ThreadPool::alloc(int initialThreadCount) {
    if (initialThreadCount <= 0) {
        VXS_LOG_ERROR("ThreadPool::alloc: thread count %d must be positive", initialThreadCount);
        return vxs_shared_ptr<ThreadPool>();
    }
    vxs_shared_ptr<ThreadPool> pool(new ThreadPool());
    pool->selfRef = pool;
    Synchronization::AppLock lock(pool->idleLoopsMutex);
    pool->requestedThreadCount = initialThreadCount;
    for (int i = 0; i < initialThreadCount; ++i) {
        if (!pool->addThread()) break;  // the rest are made on demand
    }
    return pool;
}

bool ThreadPool::addThread() {
    vxs_shared_ptr<AppRunloop> loop = AppRunloop::alloc(0, nullptr);
    if (!loop) return false;
    PoolThreadListNode* node = new PoolThreadListNode();
    node->selfRef = vxs_shared_ptr<PoolThreadListNode>(node);
    node->runLoop = loop;
    node->lastUseTime = get_current_time();
    linkAtHead(idleThreads, &idleThreads_end, node);
    currentThreadCount += 1;
    return true;
}

PoolThreadListNode* ThreadPool::dequeIdleThreadForWork() {
    if (!idleThreads && currentThreadCount < requestedThreadCount) addThread();
    PoolThreadListNode* node = idleThreads;
    if (!node) return nullptr;
    unlink(idleThreads, &idleThreads_end, node);
    linkAtHead(busyThreads, nullptr, node);
    return node;
}

bool ThreadPool::startTaskOnThread(PoolThreadListNode* node, const vxs_shared_ptr<ThreadPoolTask>& task) {
    node->runTask = task;
    node->useCount += 1;
    if (node->runLoop->runTaskAsync(&ThreadPool::poolLauncher, &node->selfRef, 0)) return true;
    // Only a loop stopped behind the pool's back refuses; forget that thread.
    VXS_LOG_ERROR("ThreadPool: pool thread refused a task");
    node->runTask = vxs_shared_ptr<ThreadPoolTask>();
    return false;
}

bool ThreadPool::runTaskAsync(const vxs_shared_ptr<ASRDispatchTaskBase>& task) {
    if (!task) return false;
    Synchronization::AppLock lock(idleLoopsMutex);
    if (idleLoopsMutex->getCurrentCondition() != kPoolRunning) return false;
    vxs_shared_ptr<ThreadPoolTask> poolTask(new ThreadPoolTask());
    poolTask->iOwnerQueue = selfRef.getPTR();
    poolTask->iTask = task;
    for (;;) {
        PoolThreadListNode* node = dequeIdleThreadForWork();
        if (!node) {
            tasks.push_back(poolTask);
            return true;
        }
        if (startTaskOnThread(node, poolTask)) return true;
        unlink(busyThreads, nullptr, node);
        currentThreadCount -= 1;
        node->selfRef = vxs_shared_ptr<PoolThreadListNode>();  // the node's run loop ended already
    }
}

bool ThreadPool::runTaskAsync(ASRDispatchTaskMethod method, vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<ASRDispatchTaskBase> task(
        new ASRDispatchTaskBase(nullptr, parameter ? parameter->getRefPtr() : nullptr, method));
    task->_releaseResourceAfterExecute = true;
    return runTaskAsync(task);
}

void ThreadPool::poolLauncher(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<PoolThreadListNode> node = *static_cast<vxs_shared_ptr<PoolThreadListNode>*>(parameter);
    vxs_shared_ptr<ThreadPoolTask> current = node->runTask;
    if (!current) return;
    ASRDispatchTaskBase* work = current->iTask.getPTR();
    work->execute();
    signalTaskCompletion(work, kTaskExecuted);
    vxs_shared_ptr<ThreadPool> pool = current->iOwnerQueue;
    vxs_shared_ptr<ThreadPoolTask> finished;
    pool->threadBecameIdle(node.getPTR(), &finished);
    // The finished task (and possibly the pool) is released here, with no lock held.
}

void ThreadPool::threadBecameIdle(PoolThreadListNode* node, vxs_shared_ptr<ThreadPoolTask>* finished) {
    NodeList stopped;
    vxs_shared_ptr<Timer> disarmed;
    bool armTimer = false;
    idleLoopsMutex->Lock();
    *finished = node->runTask;
    node->runTask = vxs_shared_ptr<ThreadPoolTask>();
    while (!tasks.empty()) {
        vxs_shared_ptr<ThreadPoolTask> next = tasks.front();
        tasks.pop_front();
        if (startTaskOnThread(node, next)) {
            idleLoopsMutex->Unlock();
            return;
        }
        tasks.push_front(next);
        break;
    }
    const uint64_t now = get_current_time();
    unlink(busyThreads, nullptr, node);
    linkAtHead(idleThreads, &idleThreads_end, node);
    node->lastUseTime = now;
    disarmed = purgeUnusedThreadsTimer;
    purgeUnusedThreadsTimer = vxs_shared_ptr<Timer>();
    int state = idleLoopsMutex->getCurrentCondition();
    if (!busyThreads) {
        if (state == kPoolRunning) {
            removeUnusedThreads(now, &stopped);
            armTimer = currentThreadCount > requestedThreadCount;
        } else {
            state = kPoolStopped;
            // A synchronous stopper joins the threads itself.
            if (!syncStopWaiting) unlinkAllThreads(&stopped);
        }
    }
    idleLoopsMutex->unlockWithCondition(state);
    if (disarmed) disarmed->cancel();
    stopThreads(&stopped, false);
    if (armTimer) armPurgeTimer();
}

void ThreadPool::removeUnusedThreads(uint64_t now, NodeList* removed) {
    while (currentThreadCount > requestedThreadCount && idleThreads_end &&
           now - idleThreads_end->lastUseTime >= kUnusedThreadIdleMicros) {
        PoolThreadListNode* node = idleThreads_end;
        unlink(idleThreads, &idleThreads_end, node);
        currentThreadCount -= 1;
        removed->push_back(node->selfRef);
        node->selfRef = vxs_shared_ptr<PoolThreadListNode>();
    }
}

void ThreadPool::armPurgeTimer() {
    vxs_shared_ptr<ASRDispatchTaskBase> task(
        new ASRDispatchTaskBase(nullptr, new vxs_weak_ptr<ThreadPool>(selfRef), &ThreadPool::purgeTimerFired));
    vxs_shared_ptr<Timer> timer = Timer::createTimerWithTask(task, kPurgeTimerMS, false);
    if (!timer) return;
    idleLoopsMutex->Lock();
    const bool keep = idleLoopsMutex->getCurrentCondition() == kPoolRunning && !busyThreads &&
                      !purgeUnusedThreadsTimer;
    if (keep) purgeUnusedThreadsTimer = timer;
    idleLoopsMutex->Unlock();
    if (!keep) timer->cancel();
}

void ThreadPool::purgeTimerFired(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<ThreadPool> pool = static_cast<vxs_weak_ptr<ThreadPool>*>(parameter)->getPTR();
    if (!pool) return;
    NodeList removed;
    pool->idleLoopsMutex->Lock();
    if (pool->idleLoopsMutex->getCurrentCondition() == kPoolRunning) {
        pool->removeUnusedThreads(get_current_time(), &removed);
    }
    pool->idleLoopsMutex->Unlock();
    stopThreads(&removed, false);
}

void ThreadPool::unlinkAllThreads(NodeList* removed) {
    while (idleThreads) {
        PoolThreadListNode* node = idleThreads;
        unlink(idleThreads, &idleThreads_end, node);
        removed->push_back(node->selfRef);
        node->selfRef = vxs_shared_ptr<PoolThreadListNode>();
    }
    while (busyThreads) {
        PoolThreadListNode* node = busyThreads;
        unlink(busyThreads, nullptr, node);
        removed->push_back(node->selfRef);
        node->selfRef = vxs_shared_ptr<PoolThreadListNode>();
    }
    currentThreadCount = 0;
}

void ThreadPool::stopThreads(NodeList* nodes, bool waitForEnd) {
    for (size_t i = 0; i < nodes->size(); ++i) {
        AppRunloop* loop = (*nodes)[i]->runLoop.getPTR();
        if (waitForEnd && !loop->isCurrentThread()) loop->stopRunloop_sync();
        else loop->stopRunloop();
    }
    nodes->clear();
}

bool ThreadPool::isPoolThread() {
    Synchronization::AppLock lock(idleLoopsMutex);
    for (PoolThreadListNode* node = busyThreads; node; node = node->next) {
        if (node->runLoop->isCurrentThread()) return true;
    }
    for (PoolThreadListNode* node = idleThreads; node; node = node->next) {
        if (node->runLoop->isCurrentThread()) return true;
    }
    return false;
}

void ThreadPool::stopPool(bool dropWaiting) {
    TaskList dropped;
    NodeList stopped;
    idleLoopsMutex->Lock();
    if (dropWaiting) dropped.swap(tasks);
    int state = idleLoopsMutex->getCurrentCondition();
    if (state == kPoolRunning) {
        if (busyThreads) {
            state = kPoolStopping;  // the last thread to become idle completes the stop
        } else {
            state = kPoolStopped;
            unlinkAllThreads(&stopped);
        }
    }
    idleLoopsMutex->unlockWithCondition(state);
    signalDropped(dropped);
    stopThreads(&stopped, false);
}

void ThreadPool::stopPoolAndWait(bool dropWaiting) {
    // A pool thread cannot wait for itself to finish.
    if (isPoolThread()) {
        stopPool(dropWaiting);
        return;
    }
    TaskList dropped;
    NodeList stopped;
    idleLoopsMutex->Lock();
    if (dropWaiting) dropped.swap(tasks);
    if (idleLoopsMutex->getCurrentCondition() != kPoolStopped) {
        if (busyThreads) {
            syncStopWaiting = true;
            idleLoopsMutex->setCurrentCondition(kPoolStopping);
            idleLoopsMutex->broadcast();
            while (idleLoopsMutex->getCurrentCondition() != kPoolStopped) idleLoopsMutex->wait();
            syncStopWaiting = false;
        }
        unlinkAllThreads(&stopped);
    }
    idleLoopsMutex->unlockWithCondition(kPoolStopped);
    signalDropped(dropped);
    stopThreads(&stopped, true);
}

void ThreadPool::stop() { stopPool(false); }

void ThreadPool::stop_sync() { stopPoolAndWait(false); }

void ThreadPool::cancel() { stopPool(true); }

void ThreadPool::cancel_sync() { stopPoolAndWait(true); }

void ThreadPool::printThreadUsageStats() {
    Synchronization::AppLock lock(idleLoopsMutex);
    const uint64_t now = get_current_time();
    VXS_LOG_DEBUG("===== THREAD POOL THREAD USAGE STATS ===== ");
    PoolThreadListNode* lists[2] = {idleThreads, busyThreads};
    for (int i = 0; i < 2; ++i) {
        for (PoolThreadListNode* node = lists[i]; node; node = node->next) {
            const double idleSeconds = static_cast<double>(now - node->lastUseTime) / 1000000.0;
            VXS_LOG_DEBUG("POOL_THREAD: used %u times, last used %.4f seconds ago", node->useCount,
                          idleSeconds);
        }
    }
}

int ThreadPool::getState() {
    Synchronization::AppLock lock(idleLoopsMutex);
    return idleLoopsMutex->getCurrentCondition();
}

int ThreadPool::getCurrentThreadCount() {
    Synchronization::AppLock lock(idleLoopsMutex);
    return currentThreadCount;
}

}  // namespace Threads
}  // namespace vxs
