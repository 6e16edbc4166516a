#include "threads/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "threads/global_thread_pool.h"
#include "threads/thread_test_support.h"

namespace {

using vxs::Memory::vxs_shared_ptr;
using vxs::Threads::ASRDispatchTaskBase;
using vxs::Threads::GlobalThreadPool;
using vxs::Threads::ThreadPool;
using vxs_test::Gate;
using vxs_test::sharedTask;
using vxs_test::waitFor;

// Counts how many tasks run at once and the most that ever did.
struct Concurrency {
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::atomic<int> finished{0};

    void enter() {
        const int now = ++running;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() {
        --running;
        ++finished;
    }
};

TEST(ThreadPoolTest, TasksBeyondTheThreadCountWaitForTheFirstThreadToFinish) {
    const int threads = 4;
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(threads);
    ASSERT_TRUE(pool);
    EXPECT_EQ(pool->getCurrentThreadCount(), threads);
    Concurrency concurrency;
    std::shared_ptr<Gate> gates[threads];
    std::mutex idsMutex;
    std::set<std::thread::id> firstThreads;
    std::thread::id lastThread;
    for (int i = 0; i < threads; ++i) {
        gates[i] = std::make_shared<Gate>();
        std::shared_ptr<Gate> gate = gates[i];
        ASSERT_TRUE(pool->runTaskAsync(sharedTask([&, gate] {
            concurrency.enter();
            {
                std::lock_guard<std::mutex> lock(idsMutex);
                firstThreads.insert(std::this_thread::get_id());
            }
            gate->pass();
            concurrency.leave();
        })));
    }
    std::atomic<bool> lastStarted{false};
    ASSERT_TRUE(pool->runTaskAsync(sharedTask([&] {
        concurrency.enter();
        lastThread = std::this_thread::get_id();
        lastStarted = true;
        concurrency.leave();
    })));
    ASSERT_TRUE(waitFor([&] { return concurrency.running.load() == threads; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(lastStarted.load());
    gates[2]->open();
    ASSERT_TRUE(waitFor([&] { return lastStarted.load(); }));
    for (auto& gate : gates) gate->open();
    pool->cancel_sync();
    EXPECT_EQ(concurrency.peak.load(), threads);
    EXPECT_EQ(concurrency.finished.load(), threads + 1);
    EXPECT_EQ(firstThreads.size(), static_cast<size_t>(threads));
    EXPECT_EQ(firstThreads.count(lastThread), 1u);
    EXPECT_EQ(pool->getCurrentThreadCount(), 0);
}

TEST(ThreadPoolTest, CancelSyncWaitsForTheRunningTaskDropsWaitingOnesAndRefusesLaterOnes) {
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(1);
    ASSERT_TRUE(pool);
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> waitingRan{false};
    ASSERT_TRUE(pool->runTaskAsync(sharedTask([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    })));
    ASSERT_TRUE(pool->runTaskAsync(sharedTask([&] { waitingRan = true; })));
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    pool->cancel_sync();
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(waitingRan.load());
    EXPECT_EQ(pool->getState(), vxs::Threads::kPoolStopped);
    EXPECT_EQ(pool->getCurrentThreadCount(), 0);
    EXPECT_FALSE(pool->runTaskAsync(sharedTask([&] { waitingRan = true; })));
    EXPECT_FALSE(pool->runTaskAsync(vxs_shared_ptr<ASRDispatchTaskBase>()));
}

TEST(ThreadPoolTest, StopSyncRunsTheWaitingTasksFirst) {
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(1);
    ASSERT_TRUE(pool);
    std::atomic<int> ran{0};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(pool->runTaskAsync(sharedTask([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ran++;
        })));
    }
    pool->stop_sync();
    EXPECT_EQ(ran.load(), 5);
    EXPECT_EQ(pool->getState(), vxs::Threads::kPoolStopped);
}

// An object whose destructor submits to the pool: releasing the last task that
// holds it under the pool's own lock would deadlock.
struct SubmitsOnDestruction {
    SubmitsOnDestruction(vxs_shared_ptr<ThreadPool> target, std::atomic<bool>* flag)
        : pool(target), submittedFromDestructor(flag) {}
    ~SubmitsOnDestruction() { *submittedFromDestructor = pool->runTaskAsync(sharedTask([] {})); }

    // The task's work: waits until the test has dropped its own reference.
    static void waitForRelease(vxs::Memory::vxs_shared_ptr_base* parameter) {
        (*static_cast<vxs_shared_ptr<SubmitsOnDestruction>*>(parameter))->released.pass();
    }

    vxs_shared_ptr<ThreadPool> pool;
    std::atomic<bool>* submittedFromDestructor;
    Gate released;
};

TEST(ThreadPoolTest, FinishedTaskIsReleasedOutsideThePoolLock) {
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(2);
    ASSERT_TRUE(pool);
    std::atomic<bool> submitted{false};
    {
        vxs_shared_ptr<SubmitsOnDestruction> holder(new SubmitsOnDestruction(pool, &submitted));
        ASSERT_TRUE(pool->runTaskAsync(&SubmitsOnDestruction::waitForRelease, &holder));
        SubmitsOnDestruction* raw = holder.getPTR();
        holder = vxs_shared_ptr<SubmitsOnDestruction>();
        raw->released.open();  // the task now holds the last reference
    }
    ASSERT_TRUE(waitFor([&] { return submitted.load(); }));
    pool->cancel_sync();
}

TEST(ThreadPoolTest, CancelSyncFromAPoolThreadDoesNotWaitForItself) {
    vxs_shared_ptr<ThreadPool> pool = ThreadPool::alloc(2);
    ASSERT_TRUE(pool);
    ThreadPool* raw = pool.getPTR();
    std::atomic<bool> returned{false};
    ASSERT_TRUE(pool->runTaskAsync(sharedTask([raw, &returned] {
        raw->cancel_sync();
        returned = true;
    })));
    ASSERT_TRUE(waitFor([&] { return returned.load(); }));
    ASSERT_TRUE(waitFor([&] { return pool->getState() == vxs::Threads::kPoolStopped; }));
}

TEST(GlobalThreadPoolTest, ResetReplacesThePoolAndTheNewOneRunsTasks) {
    std::atomic<int> ran{0};
    ASSERT_TRUE(GlobalThreadPool::instance()->runTaskAsync(sharedTask([&] { ran++; })));
    ASSERT_TRUE(waitFor([&] { return ran.load() == 1; }));
    GlobalThreadPool::instance()->reset();
    ASSERT_TRUE(GlobalThreadPool::instance()->runTaskAsync(sharedTask([&] { ran++; })));
    EXPECT_TRUE(waitFor([&] { return ran.load() == 2; }));
}

TEST(GlobalThreadPoolTest, ThreadCountMustBePositive) {
    const int before = GlobalThreadPool::getGlobalPoolThreadCount();
    EXPECT_FALSE(GlobalThreadPool::setGlobalPoolThreadCount(0));
    EXPECT_FALSE(GlobalThreadPool::setGlobalPoolThreadCount(-3));
    EXPECT_EQ(GlobalThreadPool::getGlobalPoolThreadCount(), before);
}

TEST(GlobalThreadPoolTest, ShutdownEndsThePoolAndALaterUseMakesANewOne) {
    ASSERT_TRUE(GlobalThreadPool::setGlobalPoolThreadCount(3));
    GlobalThreadPool::shutdown();
    std::atomic<int> ran{0};
    ::testing::internal::CaptureStderr();
    vxs_shared_ptr<GlobalThreadPool> fresh = GlobalThreadPool::instance();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                  "[GlobalThreadPool::GlobalThreadPool] alloc thread num:3\n"),
              std::string::npos);
    ASSERT_TRUE(fresh->runTaskAsync(sharedTask([&] { ran++; })));
    fresh = vxs_shared_ptr<GlobalThreadPool>();
    EXPECT_TRUE(waitFor([&] { return ran.load() == 1; }));
    GlobalThreadPool::shutdown();
    ASSERT_TRUE(GlobalThreadPool::setGlobalPoolThreadCount(30));
}

}  // namespace
