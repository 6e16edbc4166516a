#include "threads/dispatch_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "threads/global_thread_pool.h"
#include "threads/thread_test_support.h"

namespace {

using vxs::Memory::vxs_shared_ptr;
using vxs::Memory::vxs_shared_ptr_base;
using vxs::Threads::ASRDispatchTaskBase;
using vxs::Threads::ASRDispatchTaskWithResPointer;
using vxs::Threads::DispatchQueue;
using vxs_test::Gate;
using vxs_test::makeWork;
using vxs_test::newTask;
using vxs_test::waitFor;
using vxs_test::WorkPtr;

struct Concurrency {
    std::atomic<int> running{0};
    std::atomic<int> peak{0};

    void enter() {
        const int now = ++running;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() { --running; }
};

// What four threads posting 200 tasks each to one queue saw: the order the
// tasks ran in (poster * 200 + sequence), how many ran at once at most, and
// how many ran on their poster's own thread.
struct PostingOutcome {
    static constexpr int kPosters = 4;
    static constexpr int kPerPoster = 200;
    std::vector<int> record;
    int peak = 0;
    int onPoster = 0;
};

// `post` hands task `i` of poster `p` to the queue and tells whether it took it.
PostingOutcome postFromFourThreads(DispatchQueue& queue,
                                   const std::function<bool(int p, int i, ASRDispatchTaskBase*)>& post) {
    PostingOutcome outcome;
    Concurrency concurrency;
    std::mutex recordMutex;
    std::atomic<int> onPoster{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < PostingOutcome::kPosters; ++p) {
        threads.emplace_back([&, p] {
            const std::thread::id poster = std::this_thread::get_id();
            for (int i = 0; i < PostingOutcome::kPerPoster; ++i) {
                const int id = p * PostingOutcome::kPerPoster + i;
                ASSERT_TRUE(post(p, i, newTask([&, id, poster] {
                    concurrency.enter();
                    if (std::this_thread::get_id() == poster) onPoster++;
                    {
                        std::lock_guard<std::mutex> lock(recordMutex);
                        outcome.record.push_back(id);
                    }
                    concurrency.leave();
                })));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    queue.stopQueue_sync();
    outcome.peak = concurrency.peak.load();
    outcome.onPoster = onPoster.load();
    return outcome;
}

void expectSerialAndInEachPostersOrder(const PostingOutcome& outcome) {
    ASSERT_EQ(outcome.record.size(), static_cast<size_t>(PostingOutcome::kPosters * PostingOutcome::kPerPoster));
    EXPECT_EQ(outcome.peak, 1);
    std::vector<int> lastSeen(PostingOutcome::kPosters, -1);
    for (int id : outcome.record) {
        const int poster = id / PostingOutcome::kPerPoster;
        const int sequence = id % PostingOutcome::kPerPoster;
        EXPECT_LT(lastSeen[poster], sequence) << "poster " << poster << " out of order";
        lastSeen[poster] = sequence;
    }
}

TEST(DispatchQueueTest, SerialQueueRunsTasksOneAtATimeInPostingOrderOfEachThread) {
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
    const PostingOutcome outcome = postFromFourThreads(
        *queue, [&](int, int, ASRDispatchTaskBase* task) { return queue->runTaskAsync(task); });
    expectSerialAndInEachPostersOrder(outcome);
}

TEST(DispatchQueueTest, QueueOfLimitThreeRunsAtMostThreeAndTheFourthTakesAFinishedThread) {
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(3);
    Concurrency concurrency;
    std::mutex idsMutex;
    std::set<std::thread::id> firstThreads;
    std::shared_ptr<Gate> gates[3];
    for (int i = 0; i < 3; ++i) {
        gates[i] = std::make_shared<Gate>();
        std::shared_ptr<Gate> gate = gates[i];
        ASSERT_TRUE(queue->runTaskAsync(newTask([&, gate] {
            concurrency.enter();
            {
                std::lock_guard<std::mutex> lock(idsMutex);
                firstThreads.insert(std::this_thread::get_id());
            }
            gate->pass();
            concurrency.leave();
        })));
    }
    std::atomic<bool> fourthStarted{false};
    std::thread::id fourthThread;
    ASSERT_TRUE(queue->runTaskAsync(newTask([&] {
        concurrency.enter();
        fourthThread = std::this_thread::get_id();
        fourthStarted = true;
        concurrency.leave();
    })));
    // Many more short tasks: the limit holds for them as well.
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(queue->runTaskAsync(newTask([&] {
            concurrency.enter();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            concurrency.leave();
        })));
    }
    ASSERT_TRUE(waitFor([&] { return concurrency.running.load() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fourthStarted.load());
    gates[1]->open();
    ASSERT_TRUE(waitFor([&] { return fourthStarted.load(); }));
    for (auto& gate : gates) gate->open();
    queue->stopQueue_sync();
    EXPECT_EQ(concurrency.peak.load(), 3);
    EXPECT_EQ(firstThreads.count(fourthThread), 1u);
}

// A serial queue whose first task holds the queue until the gate opens.
class BusyQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        queue = DispatchQueue::alloc(1);
        std::shared_ptr<Gate> held = gate;
        ASSERT_TRUE(queue->runTaskAsync(newTask([this, held] {
            started = true;
            held->pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            runningFinished = true;
        })));
        ASSERT_TRUE(waitFor([this] { return started.load(); }));
    }

    void TearDown() override {
        gate->open();
        queue->cancel_sync();
    }

    vxs_shared_ptr<DispatchQueue> queue;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<bool> started{false};
    std::atomic<bool> runningFinished{false};
    std::atomic<int> ran{0};
};

TEST_F(BusyQueueTest, CancelReturnsTheDroppedCountLetsTheRunningTaskFinishAndRefusesLaterTasks) {
    std::atomic<int> live{0};
    for (int i = 0; i < 3; ++i) {
        std::shared_ptr<vxs_test::Tracked> tracked = std::make_shared<vxs_test::Tracked>(&live);
        ASSERT_TRUE(queue->runTaskAsync(newTask([this, tracked] { ran++; })));
    }
    EXPECT_EQ(queue->cancel(), 3);
    EXPECT_EQ(live.load(), 0);  // dropped tasks are released at once
    EXPECT_EQ(queue->getState(), vxs::Threads::kQueueStopping);
    EXPECT_FALSE(queue->runTaskAsync(newTask([this] { ran++; })));
    gate->open();
    EXPECT_EQ(queue->cancel_sync(), 0);
    EXPECT_TRUE(runningFinished.load());
    EXPECT_EQ(queue->getState(), vxs::Threads::kQueueStopped);
    EXPECT_EQ(ran.load(), 0);
}

TEST_F(BusyQueueTest, RefusedTaskIsDeleted) {
    queue->stopQueue();
    std::atomic<int> live{0};
    std::shared_ptr<vxs_test::Tracked> tracked = std::make_shared<vxs_test::Tracked>(&live);
    EXPECT_FALSE(queue->runTaskAsync(newTask([tracked] {})));
    tracked.reset();
    EXPECT_EQ(live.load(), 0);
}

TEST_F(BusyQueueTest, StopKeepsWaitingTasksAndStopSyncWaitsForThem) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue->runTaskAsync(newTask([this] { ran++; })));
    queue->stopQueue();
    EXPECT_FALSE(queue->runTaskAsync(newTask([this] { ran += 100; })));
    gate->open();
    queue->stopQueue_sync();
    EXPECT_EQ(ran.load(), 3);
    EXPECT_EQ(queue->getState(), vxs::Threads::kQueueStopped);
}

TEST_F(BusyQueueTest, SyncCallerWaitsForItsTurnOrIsReleasedWithFalse) {
    struct Case {
        bool cancel;
        bool expected;
    };
    for (const Case& c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.cancel ? "cancelled" : "run");
        if (c.cancel == false) {
            // Runs after the blocker: the caller waits until it has.
            std::atomic<int> result{-1};
            std::thread caller([&] {
                WorkPtr work = makeWork([this] { ran++; });
                result = queue->runTaskSync(&vxs_test::runWork, &work) ? 1 : 0;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(result.load(), -1);
            gate->open();
            caller.join();
            EXPECT_EQ(result.load(), 1);
            EXPECT_EQ(ran.load(), 1);
        } else {
            std::shared_ptr<Gate> second = std::make_shared<Gate>();
            std::atomic<bool> blocking{false};
            ASSERT_TRUE(queue->runTaskAsync(newTask([second, &blocking] {
                blocking = true;
                second->pass();
            })));
            ASSERT_TRUE(waitFor([&] { return blocking.load(); }));
            std::atomic<int> result{-1};
            std::thread caller([&] { result = queue->runTaskSync(newTask([this] { ran++; })) ? 1 : 0; });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(queue->cancel(), 1);
            caller.join();
            EXPECT_EQ(result.load(), 0);
            second->open();
            EXPECT_FALSE(queue->runTaskSync(newTask([this] { ran++; })));
            EXPECT_EQ(ran.load(), 1);
        }
    }
}

TEST(DispatchQueueTest, NowOrAsyncRunsOnTheCallerOnlyWhenTheQueueIsIdle) {
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
    DispatchQueue* raw = queue.getPTR();
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id ranOn;
    bool sawItsQueue = false;
    ASSERT_TRUE(queue->runTaskNowOrAsync(newTask([&] {
        ranOn = std::this_thread::get_id();
        sawItsQueue = raw->isCurrentQueue();
    })));
    EXPECT_EQ(ranOn, caller);  // done before the call returned
    EXPECT_TRUE(sawItsQueue);
    EXPECT_FALSE(queue->isCurrentQueue());

    // Busy: the task waits for the running one and for those queued before it.
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::mutex orderMutex;
    std::vector<int> order;
    auto note = [&](int step) {
        std::lock_guard<std::mutex> lock(orderMutex);
        order.push_back(step);
    };
    ASSERT_TRUE(queue->runTaskAsync(newTask([&, gate] {
        gate->pass();
        note(1);
    })));
    ASSERT_TRUE(queue->runTaskAsync(newTask([&] { note(2); })));
    std::atomic<bool> third{false};
    ASSERT_TRUE(queue->runTaskNowOrAsync(newTask([&] {
        note(3);
        third = true;
    })));
    EXPECT_FALSE(third.load());
    gate->open();
    ASSERT_TRUE(waitFor([&] { return third.load(); }));
    queue->stopQueue_sync();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A stopped queue refuses it, as runTaskAsync does.
    EXPECT_FALSE(queue->runTaskNowOrAsync(newTask([] {})));
}

TEST(DispatchQueueTest, NowOrAsyncKeepsASerialQueueSerialAndInOrderAmongPosters) {
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
    // Half the posters mix both ways of posting.
    const PostingOutcome outcome = postFromFourThreads(*queue, [&](int p, int i, ASRDispatchTaskBase* task) {
        const bool now = p % 2 == 0 || i % 2 == 0;
        return now ? queue->runTaskNowOrAsync(task) : queue->runTaskAsync(task);
    });
    expectSerialAndInEachPostersOrder(outcome);
    EXPECT_GT(outcome.onPoster, 0);
}

TEST(DispatchQueueTest, SyncCallFromATaskOfTheSameQueueRunsInline) {
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
    DispatchQueue* raw = queue.getPTR();
    std::atomic<bool> done{false};
    bool innerRan = false;
    bool methodResult = false;
    bool taskResult = false;
    bool sameThread = false;
    ASSERT_TRUE(queue->runTaskAsync(newTask([&] {
        const std::thread::id outer = std::this_thread::get_id();
        WorkPtr inner = makeWork([&] {
            innerRan = true;
            sameThread = std::this_thread::get_id() == outer;
        });
        methodResult = raw->runTaskSync(&vxs_test::runWork, &inner);
        taskResult = raw->runTaskSync(newTask([] {}));
        done = true;
    })));
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_TRUE(innerRan);
    EXPECT_TRUE(sameThread);
    EXPECT_TRUE(methodResult);
    EXPECT_TRUE(taskResult);
    queue->cancel_sync();
}

// An object like an instance context: it owns its queue and cancels it when
// destroyed, and the last reference to it is often held by a task running on
// that very queue.
class QueueOwner {
public:
    explicit QueueOwner(std::atomic<bool>* destroyedFlag)
        : queue(DispatchQueue::alloc(1)), destroyed(destroyedFlag) {}
    ~QueueOwner() {
        queue->cancel();
        *destroyed = true;
    }
    void handle(vxs_shared_ptr_base* parameter) { vxs_test::runWork(parameter); }

    vxs_shared_ptr<DispatchQueue> queue;
    std::atomic<bool>* destroyed;
};

TEST(DispatchQueueTest, TaskHoldingTheLastReferenceToTheQueuesOwnerReleasesItWithoutDeadlock) {
    std::atomic<bool> destroyed{false};
    std::atomic<int> handled{0};
    std::shared_ptr<Gate> ownerDropped = std::make_shared<Gate>();
    {
        vxs_shared_ptr<QueueOwner> owner(new QueueOwner(&destroyed));
        WorkPtr first = makeWork([ownerDropped, &handled] {
            ownerDropped->pass();
            handled++;
        });
        WorkPtr later = makeWork([&handled] { handled++; });
        ASSERT_TRUE(owner->queue->runTaskAsync(
            new ASRDispatchTaskWithResPointer<QueueOwner>(owner, &QueueOwner::handle, &first)));
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(owner->queue->runTaskAsync(
                new ASRDispatchTaskWithResPointer<QueueOwner>(owner, &QueueOwner::handle, &later)));
        }
    }
    // Only the queued tasks hold the owner now; the last of them destroys it.
    ownerDropped->open();
    EXPECT_TRUE(waitFor([&] { return destroyed.load(); }));
    EXPECT_EQ(handled.load(), 3);
}

TEST(DispatchQueueTest, TypedTaskKeepsItsObjectAndDropsItsParameterRightAfterRunning) {
    std::atomic<int> live{0};
    std::atomic<bool> destroyed{false};
    std::atomic<int> handled{0};
    vxs_shared_ptr<QueueOwner> owner(new QueueOwner(&destroyed));
    WorkPtr work = makeWork([&] { handled++; });
    ASRDispatchTaskWithResPointer<QueueOwner> task(owner, &QueueOwner::handle, &work);
    ASRDispatchTaskWithResPointer<QueueOwner> keeping(owner, &QueueOwner::handle, &work);
    keeping._releaseResourceAfterExecute = false;
    EXPECT_EQ(work.strongCount(), 3u);
    owner = vxs_shared_ptr<QueueOwner>();
    EXPECT_FALSE(destroyed.load());  // the tasks keep it
    task.execute();
    keeping.execute();
    keeping.execute();
    EXPECT_EQ(handled.load(), 3);
    EXPECT_EQ(task.imethodParameter, nullptr);
    EXPECT_EQ(work.strongCount(), 2u);
}

TEST(DispatchQueueTest, QueueWhoseLaunchTheResetPoolDroppedRunsOnTheNewPool) {
    // A one-thread pool kept busy: the queue's launch waits for a thread, and
    // the reset drops it.
    ASSERT_TRUE(vxs::Threads::GlobalThreadPool::setGlobalPoolThreadCount(1));
    vxs::Threads::GlobalThreadPool::shutdown();
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<bool> busy{false};
    ASSERT_TRUE(vxs::Threads::GlobalThreadPool::instance()->runTaskAsync(vxs_test::sharedTask([gate, &busy] {
        busy = true;
        gate->pass();
    })));
    ASSERT_TRUE(waitFor([&] { return busy.load(); }));
    vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
    std::atomic<int> ran{0};
    ASSERT_TRUE(queue->runTaskAsync(newTask([&ran] { ran++; })));
    ASSERT_TRUE(queue->runTaskAsync(newTask([&ran] { ran++; })));
    std::thread resetter([] { vxs::Threads::GlobalThreadPool::instance()->reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    gate->open();
    resetter.join();
    EXPECT_TRUE(waitFor([&] { return ran.load() == 2; }));
    WorkPtr work = makeWork([&ran] { ran++; });
    EXPECT_TRUE(queue->runTaskSync(&vxs_test::runWork, &work));
    EXPECT_EQ(ran.load(), 3);
    queue->cancel_sync();
    ASSERT_TRUE(vxs::Threads::GlobalThreadPool::setGlobalPoolThreadCount(30));
    vxs::Threads::GlobalThreadPool::shutdown();
}

// A task submitted just after the queue drained goes to the launcher still
// waiting on its pool thread: the limit and the order hold on that path too,
// including bursts that arrive while the handed-over task runs.
TEST(DispatchQueueTest, TasksPostedJustAfterTheQueueDrainedKeepTheLimitAndTheOrder) {
    for (int limit : {1, 3}) {
        SCOPED_TRACE(limit);
        vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(limit);
        Concurrency concurrency;
        std::atomic<int> ran{0};
        std::atomic<int> lastStarted{-1};
        std::atomic<int> outOfOrder{0};
        const int rounds = 1000;
        const int burst = 3;
        for (int i = 0; i < rounds; ++i) {
            for (int b = 0; b < burst; ++b) {
                const int id = i * burst + b;
                ASSERT_TRUE(queue->runTaskAsync(newTask([&, id] {
                    concurrency.enter();
                    // Checked for the serial queue: with a higher limit,
                    // tasks launched together may enter in any order.
                    if (lastStarted.exchange(id) > id) outOfOrder++;
                    concurrency.leave();
                    ran++;
                })));
            }
            // Drained, or nearly: the next burst, posted at once, finds the
            // launcher waiting (a polling wait would come too late).
            const auto limitAt = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (ran.load() < (i + 1) * burst) {
                ASSERT_LT(std::chrono::steady_clock::now(), limitAt);
                std::this_thread::yield();
            }
        }
        queue->stopQueue_sync();
        EXPECT_LE(concurrency.peak.load(), limit);
        if (limit == 1) {
            EXPECT_EQ(outOfOrder.load(), 0);
        }
    }
}

// A drained queue is idle even while its launcher still waits for more
// work: stop and cancel complete at once, and later tasks are refused.
TEST(DispatchQueueTest, StopOrCancelJustAfterTheQueueDrainedCompletesAndRefusesLaterTasks) {
    for (bool useCancel : {false, true}) {
        SCOPED_TRACE(useCancel ? "cancel" : "stopQueue");
        for (int round = 0; round < 200; ++round) {
            vxs_shared_ptr<DispatchQueue> queue = DispatchQueue::alloc(1);
            WorkPtr work = makeWork([] {});
            ASSERT_TRUE(queue->runTaskSync(&vxs_test::runWork, &work));
            if (useCancel) {
                EXPECT_EQ(queue->cancel_sync(), 0);
            } else {
                queue->stopQueue_sync();
            }
            EXPECT_EQ(queue->getState(), vxs::Threads::kQueueStopped);
            std::atomic<bool> lateRan{false};
            EXPECT_FALSE(queue->runTaskAsync(newTask([&lateRan] { lateRan = true; })));
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            EXPECT_FALSE(lateRan.load());
        }
    }
}

TEST(DispatchQueueDeathTest, LimitMustBePositive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(DispatchQueue::alloc(0), "concurrentThreadCount > 0");
    EXPECT_DEATH(DispatchQueue::alloc(-1), "concurrentThreadCount > 0");
}

}  // namespace
