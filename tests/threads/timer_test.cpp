#include "threads/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "threads/global_thread_pool.h"
#include "threads/refresh_timer.h"
#include "threads/thread_test_support.h"

namespace {

using vxs::Memory::vxs_shared_ptr;
using vxs::Threads::GlobalThreadPool;
using vxs::Threads::RefreshTimer;
using vxs::Threads::Timer;
using vxs_test::nowMs;
using vxs_test::sharedTask;
using vxs_test::waitFor;

// Generous: the loop may notice a deadline up to 500 ms late, and the
// machine may be loaded.
const int64_t kLateMarginMs = 3000;

// Records when each firing happened, on the monotonic clock.
class FiringLog {
public:
    void fired() {
        std::lock_guard<std::mutex> lock(mutex);
        times.push_back(nowMs());
    }
    std::vector<int64_t> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return times;
    }
    size_t count() { return snapshot().size(); }

private:
    std::mutex mutex;
    std::vector<int64_t> times;
};

TEST(TimerTest, SingleShotTimersFireOnceAtOrAfterTheirDeadline) {
    struct Case {
        int timeoutMS;
    };
    for (const Case& c : {Case{0}, Case{300}, Case{1000}}) {
        SCOPED_TRACE(c.timeoutMS);
        FiringLog log;
        const int64_t created = nowMs();
        vxs_shared_ptr<Timer> timer =
            Timer::createTimerWithTask(sharedTask([&log] { log.fired(); }), c.timeoutMS, false);
        ASSERT_TRUE(timer);
        EXPECT_TRUE(timer->isSingleShot());
        ASSERT_TRUE(waitFor([&] { return log.count() == 1; }));
        const int64_t firedAfter = log.snapshot()[0] - created;
        EXPECT_GE(firedAfter, c.timeoutMS);
        EXPECT_LT(firedAfter, c.timeoutMS + kLateMarginMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(log.count(), 1u);
        EXPECT_FALSE(timer->cancel());  // already fired
    }
}

TEST(TimerTest, CancelledTimersNeverFireWhileOthersDo) {
    FiringLog cancelledLog;
    FiringLog keptLog;
    vxs_shared_ptr<Timer> single =
        Timer::createTimerWithTask(sharedTask([&] { cancelledLog.fired(); }), 300, false);
    vxs_shared_ptr<Timer> periodic =
        Timer::createTimerWithTask(sharedTask([&] { cancelledLog.fired(); }), 200, true);
    vxs_shared_ptr<RefreshTimer> refresh =
        RefreshTimer::createTimerWithTask(sharedTask([&] { cancelledLog.fired(); }), 300);
    vxs_shared_ptr<Timer> kept = Timer::createTimerWithTask(sharedTask([&] { keptLog.fired(); }), 600, false);
    ASSERT_TRUE(single && periodic && refresh && kept);
    EXPECT_TRUE(single->cancel());
    EXPECT_TRUE(periodic->cancel());
    EXPECT_TRUE(refresh->cancel());
    EXPECT_FALSE(single->cancel());
    ASSERT_TRUE(waitFor([&] { return keptLog.count() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(cancelledLog.count(), 0u);
}

TEST(TimerTest, PeriodicTimerFiresEveryPeriodMeasuredFromItsDeadlines) {
    FiringLog log;
    const int periodMs = 100;
    const int64_t created = nowMs();
    vxs_shared_ptr<Timer> timer = Timer::createTimerWithTask(sharedTask([&] { log.fired(); }), periodMs, true);
    ASSERT_TRUE(timer);
    EXPECT_FALSE(timer->isSingleShot());
    ASSERT_TRUE(waitFor([&] { return log.count() >= 10; }));
    EXPECT_TRUE(timer->cancel());
    const std::vector<int64_t> times = log.snapshot();
    for (size_t k = 0; k < times.size(); ++k) {
        // The k-th firing belongs to deadline created + (k + 1) periods.
        EXPECT_GE(times[k] - created, static_cast<int64_t>((k + 1) * periodMs)) << "firing " << k;
    }
    // Ten firings take about a second; drifting by the firing delay would add up.
    EXPECT_LT(times[9] - created, 1000 + kLateMarginMs);
    // Submissions already in flight may still run; after that nothing fires.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t settled = log.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(log.count(), settled);
}

TEST(TimerTest, PeriodicTaskKeepsItsParameterBetweenRuns) {
    std::atomic<int> runs{0};
    vxs_test::WorkPtr work = vxs_test::makeWork([&runs] { runs++; });
    // A typed task drops its parameter after a run unless its timer repeats.
    struct Runner {
        void run(vxs::Memory::vxs_shared_ptr_base* parameter) { vxs_test::runWork(parameter); }
    };
    vxs_shared_ptr<Runner> runner(new Runner());
    vxs_shared_ptr<vxs::Threads::ASRDispatchTaskBase> typed(
        new vxs::Threads::ASRDispatchTaskWithResPointer<Runner>(runner, &Runner::run, &work));
    vxs_shared_ptr<Timer> timer = Timer::createTimerWithTask(typed, 50, true);
    ASSERT_TRUE(timer);
    EXPECT_TRUE(waitFor([&] { return runs.load() >= 3; }));
    EXPECT_TRUE(timer->cancel());
}

TEST(TimerTest, RepeatingTimerNeedsAPositivePeriod) {
    EXPECT_FALSE(Timer::createTimerWithTask(sharedTask([] {}), 0, true));
    EXPECT_FALSE(Timer::createTimerWithTask(sharedTask([] {}), -5, true));
}

TEST(TimerTest, TimerWithoutTaskIsScheduledAndHarmless) {
    vxs_shared_ptr<Timer> timer = Timer::createTimerWithTask(vxs_shared_ptr<vxs::Threads::ASRDispatchTaskBase>(), 0, false);
    ASSERT_TRUE(timer);
    FiringLog log;
    ASSERT_TRUE(Timer::createTimerWithTask(sharedTask([&] { log.fired(); }), 50, false));
    EXPECT_TRUE(waitFor([&] { return log.count() == 1; }));
}

TEST(TimerTest, PeriodicTimerCancelledFromItsOwnTaskStopsFiring) {
    std::atomic<int> runs{0};
    std::atomic<bool> cancelResult{false};
    vxs_shared_ptr<Timer> periodic;
    std::mutex periodicMutex;
    {
        std::lock_guard<std::mutex> lock(periodicMutex);
        periodic = Timer::createTimerWithTask(sharedTask([&] {
                                                  std::lock_guard<std::mutex> inner(periodicMutex);
                                                  if (++runs == 2) cancelResult = periodic->cancel();
                                              }),
                                              50, true);
        ASSERT_TRUE(periodic);
    }
    ASSERT_TRUE(waitFor([&] { return cancelResult.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int settled = runs.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(runs.load(), settled);
}

TEST(TimerTest, TimersFireAgainAfterTheGlobalPoolIsReset) {
    FiringLog periodicLog;
    vxs_shared_ptr<Timer> periodic =
        Timer::createTimerWithTask(sharedTask([&] { periodicLog.fired(); }), 100, true);
    FiringLog refreshLog;
    vxs_shared_ptr<RefreshTimer> pendingRefresh =
        RefreshTimer::createTimerWithTask(sharedTask([&] { refreshLog.fired(); }), 800);
    ASSERT_TRUE(periodic && pendingRefresh);
    ASSERT_TRUE(waitFor([&] { return periodicLog.count() >= 2; }));
    GlobalThreadPool::instance()->reset();
    const size_t atReset = periodicLog.count();
    EXPECT_TRUE(waitFor([&] { return periodicLog.count() >= atReset + 3; }));
    EXPECT_TRUE(waitFor([&] { return refreshLog.count() == 1; }));
    FiringLog newLog;
    ASSERT_TRUE(Timer::createTimerWithTask(sharedTask([&] { newLog.fired(); }), 50, false));
    EXPECT_TRUE(waitFor([&] { return newLog.count() == 1; }));
    EXPECT_TRUE(periodic->cancel());
}

TEST(TimerTest, TimersFireAfterAResetThatDroppedTheWaitingTimerLoop) {
    // A two-thread pool, both threads busy: the timer loop waits for a thread,
    // and the reset drops it.
    ASSERT_TRUE(GlobalThreadPool::setGlobalPoolThreadCount(2));
    GlobalThreadPool::shutdown();
    std::shared_ptr<vxs_test::Gate> gate = std::make_shared<vxs_test::Gate>();
    std::atomic<int> busy{0};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(GlobalThreadPool::instance()->runTaskAsync(sharedTask([gate, &busy] {
            busy++;
            gate->pass();
        })));
    }
    ASSERT_TRUE(waitFor([&] { return busy.load() == 2; }));
    FiringLog log;
    ASSERT_TRUE(Timer::createTimerWithTask(sharedTask([&] { log.fired(); }), 100, false));
    std::thread resetter([] { GlobalThreadPool::instance()->reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    gate->open();
    resetter.join();
    EXPECT_TRUE(waitFor([&] { return log.count() == 1; }));
    ASSERT_TRUE(GlobalThreadPool::setGlobalPoolThreadCount(30));
    GlobalThreadPool::shutdown();
}

TEST(RefreshTimerTest, KeptRefreshedItNeverFiresAndFiresOnceRefreshingStops) {
    FiringLog log;
    vxs_shared_ptr<RefreshTimer> timer = RefreshTimer::createTimerWithTask(sharedTask([&] { log.fired(); }), 1000);
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->isSingleShot());
    const int64_t until = nowMs() + 2500;
    while (nowMs() < until) {
        EXPECT_TRUE(timer->refresh());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(log.count(), 0u);
    const int64_t lastRefresh = nowMs();
    EXPECT_TRUE(timer->refresh());
    ASSERT_TRUE(waitFor([&] { return log.count() == 1; }));
    const int64_t firedAfter = log.snapshot()[0] - lastRefresh;
    EXPECT_GE(firedAfter, 1000);
    EXPECT_LT(firedAfter, 1000 + kLateMarginMs);
}

TEST(RefreshTimerTest, ARefreshedTimerDoesNotHoldBackAnotherOfItsKind) {
    FiringLog busyLog;
    FiringLog idleLog;
    // The busy timer's deadline comes first; refreshing moves it past the idle one's.
    vxs_shared_ptr<RefreshTimer> busy =
        RefreshTimer::createTimerWithTask(sharedTask([&] { busyLog.fired(); }), 600);
    const int64_t created = nowMs();
    vxs_shared_ptr<RefreshTimer> idle =
        RefreshTimer::createTimerWithTask(sharedTask([&] { idleLog.fired(); }), 800);
    ASSERT_TRUE(busy && idle);
    const int64_t until = created + 800 + kLateMarginMs;
    while (idleLog.count() == 0 && nowMs() < until) {
        busy->refresh();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(idleLog.count(), 1u);
    const int64_t firedAfter = idleLog.snapshot()[0] - created;
    EXPECT_GE(firedAfter, 800);
    EXPECT_LT(firedAfter, 800 + kLateMarginMs);
    EXPECT_EQ(busyLog.count(), 0u);
    EXPECT_TRUE(busy->cancel());
}

}  // namespace
