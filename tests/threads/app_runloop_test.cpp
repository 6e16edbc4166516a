#include "threads/app_runloop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "threads/app_thread.h"
#include "threads/thread_test_support.h"

namespace {

using vxs::Memory::vxs_shared_ptr;
using vxs::Threads::AppRunloop;
using vxs::Threads::AppThread;
using vxs::Threads::ASRDispatchTaskBase;
using vxs_test::Gate;
using vxs_test::makeWork;
using vxs_test::sharedTask;
using vxs_test::waitFor;
using vxs_test::WorkPtr;

// A run loop with priorities 0 and 1 whose thread is held inside a first task
// until the test opens the gate, so that later tasks queue up.
class BusyRunloopTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = AppRunloop::alloc(1, "test");
        ASSERT_TRUE(loop);
        std::shared_ptr<Gate> held = gate;
        std::atomic<bool>* started = &blockerStarted;
        ASSERT_TRUE(loop->runTaskAsync(sharedTask([held, started] {
                                           started->store(true);
                                           held->pass();
                                       }),
                                       0));
        ASSERT_TRUE(waitFor([this] { return blockerStarted.load(); }));
    }

    void TearDown() override {
        gate->open();
        if (loop) loop->cancel_sync();
    }

    // A task that appends `name` to the record.
    vxs_shared_ptr<ASRDispatchTaskBase> recorder(const std::string& name) {
        return sharedTask([this, name] {
            std::lock_guard<std::mutex> lock(recordMutex);
            record.push_back(name);
        });
    }

    std::vector<std::string> recorded() {
        std::lock_guard<std::mutex> lock(recordMutex);
        return record;
    }

    vxs_shared_ptr<AppRunloop> loop;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<bool> blockerStarted{false};
    std::mutex recordMutex;
    std::vector<std::string> record;
};

TEST_F(BusyRunloopTest, MoreUrgentTasksRunFirstAndEachLevelKeepsItsOrder) {
    ASSERT_TRUE(loop->runTaskAsync(recorder("A1"), 1));
    ASSERT_TRUE(loop->runTaskAsync(recorder("B1"), 0));
    ASSERT_TRUE(loop->runTaskAsync(recorder("A2"), 1));
    ASSERT_TRUE(loop->runTaskAsync(recorder("B2"), 0));
    gate->open();
    loop->stopRunloop_sync();
    EXPECT_EQ(recorded(), (std::vector<std::string>{"B1", "B2", "A1", "A2"}));
}

TEST_F(BusyRunloopTest, PriorityOutsideTheLevelsIsRefused) {
    EXPECT_FALSE(loop->runTaskAsync(recorder("two"), 2));
    EXPECT_FALSE(loop->runTaskAsync(recorder("negative"), -1));
    EXPECT_FALSE(loop->runTaskAsync(&vxs_test::runWork, nullptr, 2));
    gate->open();
    loop->stopRunloop_sync();
    EXPECT_TRUE(recorded().empty());
}

TEST_F(BusyRunloopTest, StopRunsWhatWasQueuedThenRefusesAndEndsTheThread) {
    for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(loop->runTaskAsync(recorder(name), 1));
    loop->stopRunloop();
    EXPECT_FALSE(loop->runTaskAsync(recorder("late"), 0));
    // The thread keeps its loop alive until it ends.
    vxs::Memory::vxs_weak_ptr<AppRunloop> watcher = loop;
    loop = vxs_shared_ptr<AppRunloop>();
    gate->open();
    EXPECT_TRUE(waitFor([&] { return !watcher.getPTR(); }));
    EXPECT_EQ(recorded(), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(BusyRunloopTest, CancelDropsQueuedTasksAndReleasesTheirSyncCallersWithFalse) {
    for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(loop->runTaskAsync(recorder(name), 1));
    std::atomic<int> syncResult{-1};
    std::thread syncCaller([this, &syncResult] {
        syncResult = loop->runTaskSync(recorder("sync"), 0) ? 1 : 0;
    });
    ASSERT_TRUE(waitFor([this] { return loop->queuedTaskCount() == 4; }));
    loop->cancel();
    syncCaller.join();
    EXPECT_EQ(syncResult.load(), 0);
    gate->open();
    loop->join();
    EXPECT_TRUE(recorded().empty());
}

TEST(AppRunloopTest, SyncCallWaitsForTheResultFromAnotherThread) {
    vxs_shared_ptr<AppRunloop> loop = AppRunloop::alloc(0, nullptr);
    ASSERT_TRUE(loop);
    std::thread::id ranOn;
    WorkPtr work = makeWork([&ranOn] { ranOn = std::this_thread::get_id(); });
    EXPECT_TRUE(loop->runTaskSync(&vxs_test::runWork, &work, 0));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    loop->stopRunloop_sync();
    EXPECT_FALSE(loop->runTaskSync(&vxs_test::runWork, &work, 0));
}

TEST(AppRunloopTest, SyncCallFromTheLoopsOwnThreadRunsInline) {
    vxs_shared_ptr<AppRunloop> loop = AppRunloop::alloc(0, "inline");
    ASSERT_TRUE(loop);
    AppRunloop* raw = loop.getPTR();
    std::atomic<int> order{0};
    int innerStep = 0;
    bool innerResult = false;
    bool sameThread = false;
    WorkPtr outer = makeWork([&] {
        const std::thread::id outerThread = std::this_thread::get_id();
        WorkPtr inner = makeWork([&] {
            innerStep = ++order;
            sameThread = std::this_thread::get_id() == outerThread;
        });
        innerResult = raw->runTaskSync(&vxs_test::runWork, &inner, 0);
        ++order;
    });
    ASSERT_TRUE(loop->runTaskSync(&vxs_test::runWork, &outer, 0));
    EXPECT_TRUE(innerResult);
    EXPECT_TRUE(sameThread);
    EXPECT_EQ(innerStep, 1);  // ran before the outer task went on
    loop->stopRunloop_sync();
}

TEST(AppRunloopTest, TaskParameterIsReleasedAfterItRan) {
    std::atomic<int> live{0};
    vxs_shared_ptr<AppRunloop> loop = AppRunloop::alloc(0, nullptr);
    ASSERT_TRUE(loop);
    {
        vxs_shared_ptr<vxs_test::Tracked> tracked(new vxs_test::Tracked(&live));
        ASSERT_TRUE(loop->runTaskAsync([](vxs::Memory::vxs_shared_ptr_base*) {}, &tracked, 0));
    }
    loop->stopRunloop_sync();
    EXPECT_EQ(live.load(), 0);
}

TEST(AppThreadTest, RunStartsOneThreadOnly) {
    std::atomic<int> runs{0};
    vxs_shared_ptr<AppThread> thread(new AppThread());
    thread->selfPtr = thread;
    WorkPtr work = makeWork([&runs] { runs++; });
    thread->iThreadFunction = &vxs_test::runWork;
    thread->iThreadParameter2 = work.getRefPtr();
    EXPECT_TRUE(thread->run());
    EXPECT_FALSE(thread->run());
    thread->join();
    EXPECT_EQ(runs.load(), 1);
    thread->join();  // a second join returns at once
}

TEST(AppThreadTest, ThreadKeepsItsObjectAliveUntilItsBodyReturns) {
    std::atomic<bool> bodyDone{false};
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    vxs::Memory::vxs_weak_ptr<AppThread> watcher;
    {
        vxs_shared_ptr<AppThread> thread(new AppThread());
        thread->selfPtr = thread;
        watcher = thread;
        WorkPtr work = makeWork([gate, &bodyDone] {
            gate->pass();
            bodyDone = true;
        });
        thread->iThreadFunction = &vxs_test::runWork;
        thread->iThreadParameter2 = work.getRefPtr();
        ASSERT_TRUE(thread->run());
    }
    EXPECT_TRUE(watcher.getPTR());
    gate->open();
    EXPECT_TRUE(waitFor([&] { return !watcher.getPTR(); }));
    EXPECT_TRUE(bodyDone.load());
}

}  // namespace
