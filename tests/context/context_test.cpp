#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "context/recording_module.h"
#include "core/context.h"
#include "core/event_manager.h"

using vxs::Context;
using vxs::ContextPtr;
using vxs::Message;
using vxs::MessagePtr;
using vxs_test::drainContext;
using vxs_test::Journal;
using vxs_test::RecordingModule;
using vxs_test::RecordingModulePtr;

namespace {

// Holds the queue inside one send() until the test opens it, so that every
// message posted meanwhile is waiting at the same time.
class Gate {
public:
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    bool waitUntilEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, vxs_test::kWaitLimit, [&] { return entered_; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        context = Context::newContext();
        ASSERT_TRUE(context);
    }

    RecordingModulePtr module(const std::string& label, RecordingModule::Hook hook = RecordingModule::Hook()) {
        return RecordingModule::create(context, &journal, label, std::move(hook));
    }

    ContextPtr context;
    Journal journal;
};

TEST_F(ContextTest, DeliversInPostingOrderWhateverThePriority) {
    Gate gate;
    RecordingModulePtr target = module("target", [&](RecordingModule&, MessagePtr& m) {
        if (m->name == "blocker") gate.wait();
    });
    RecordingModulePtr sender = module("sender");

    sender->postTo(target->getSelfPtr(), "blocker");
    ASSERT_TRUE(gate.waitUntilEntered());
    // Descending, ascending and extreme priorities: none may overtake.
    const uint8_t priorities[] = {255, 0, 1, 2, 0, 255, 128, 3, 1, 0};
    std::vector<std::string> expected{"blocker"};
    for (size_t i = 0; i < sizeof(priorities); ++i) {
        const std::string name = "m" + std::to_string(i);
        sender->postTo(target->getSelfPtr(), name, priorities[i]);
        expected.push_back(name);
    }
    gate.open();

    ASSERT_TRUE(journal.waitForSize(expected.size()));
    EXPECT_EQ(journal.names(), expected);
    EXPECT_EQ(context->postedCount(), expected.size());
}

TEST_F(ContextTest, PostInsideSendIsHandledAfterThatSendAndAfterEarlierPosts) {
    Gate gate;
    RecordingModulePtr b = module("b");
    RecordingModulePtr a = module("a", [&](RecordingModule& self, MessagePtr& m) {
        if (m->name == "blocker") gate.wait();
        if (m->name != "ping") return;
        self.postTo(b->getSelfPtr(), "pong");
        // Give a wrongly concurrent delivery of "pong" every chance to show.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        journal.add("a", Message::make("a.send.returns"));
    });

    a->postTo(a->getSelfPtr(), "blocker");
    ASSERT_TRUE(gate.waitUntilEntered());
    a->postTo(a->getSelfPtr(), "ping");
    a->postTo(b->getSelfPtr(), "posted-before-pong");
    gate.open();

    ASSERT_TRUE(journal.waitForName("pong"));
    const std::vector<std::string> expected{"blocker", "ping", "a.send.returns", "posted-before-pong", "pong"};
    EXPECT_EQ(journal.names(), expected);
}

TEST_F(ContextTest, MessageToDestroyedModuleIsDroppedSilently) {
    Gate gate;
    RecordingModulePtr probe = module("probe", [&](RecordingModule&, MessagePtr& m) {
        if (m->name == "blocker") gate.wait();
    });
    RecordingModulePtr doomed = module("doomed");
    vxs::EventManagerWeakPtr doomedRef = doomed->getSelfPtr();

    probe->postTo(probe->getSelfPtr(), "blocker");
    ASSERT_TRUE(gate.waitUntilEntered());
    probe->postTo(doomedRef, "queued-for-doomed");
    doomed = RecordingModulePtr();  // destroyed while its message waits
    gate.open();
    probe->postTo(doomedRef, "posted-after-destruction");
    probe->postTo(vxs::EventManagerWeakPtr(), "posted-to-nobody");

    ASSERT_TRUE(drainContext(probe, journal));
    EXPECT_FALSE(doomedRef.getPTR());
    EXPECT_EQ(journal.names(), std::vector<std::string>{"blocker"});
}

TEST_F(ContextTest, PostsThroughAModuleHaveNoEffectOnceTheContextIsReleased) {
    RecordingModulePtr target = module("target");
    RecordingModulePtr survivor = module("survivor");  // outlives its context, as a timer would
    survivor->postTo(target->getSelfPtr(), "before-release");
    ASSERT_TRUE(journal.waitForName("before-release"));

    vxs::Memory::vxs_weak_ptr<Context> weak(context);
    const Context* raw = context.getPTR();
    context = ContextPtr();
    ASSERT_TRUE(vxs_test::waitUntilDestroyed(weak, raw));

    // From this thread and from another one (a timer or HTTP thread).
    survivor->postTo(target->getSelfPtr(), "after-release");
    std::thread other([&] { survivor->postTo(target->getSelfPtr(), "after-release-other-thread"); });
    other.join();

    // Nothing can be delivered any more: without a context there is no queue.
    // A short grace period shows a stray delivery if one were queued anyway.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(journal.names(), std::vector<std::string>{"before-release"});
}

TEST_F(ContextTest, ConcurrentPostersNeverRunTwoSendsAtOnceAndKeepEachPostersOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 400;
    std::atomic<int> inSend{0};
    std::atomic<bool> overlapped{false};
    // Only touched inside send(): the serialisation itself must protect it
    // (ThreadSanitizer reports a race if it does not).
    std::vector<int> lastSeen(kThreads, -1);
    bool outOfOrder = false;
    int delivered = 0;

    auto hook = [&](RecordingModule&, MessagePtr& m) {
        if (inSend.fetch_add(1) != 0) overlapped = true;
        const auto* thread = (*m->params)["thread.int"].get<int32_t>();
        const auto* seq = (*m->params)["seq.int"].get<int32_t>();
        if (thread && seq) {
            if (*seq <= lastSeen[*thread]) outOfOrder = true;
            lastSeen[*thread] = *seq;
            ++delivered;
        }
        inSend.fetch_sub(1);
    };
    RecordingModulePtr first = module("first", hook);
    RecordingModulePtr second = module("second", hook);

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                MessagePtr m = Message::make("work");
                (*m->params)["thread.int"] = vxs::paramBase(static_cast<int32_t>(t));
                (*m->params)["seq.int"] = vxs::paramBase(static_cast<int32_t>(i));
                const RecordingModulePtr& sender = (i % 2) ? first : second;
                const RecordingModulePtr& target = (i % 2) ? second : first;
                sender->post(target->getSelfPtr(), m, static_cast<uint8_t>(i % 3));
            }
        });
    }
    for (std::thread& poster : posters) poster.join();

    ASSERT_TRUE(journal.waitForName("work", kThreads * kPerThread));
    RecordingModulePtr probe = module("probe");
    ASSERT_TRUE(drainContext(probe, journal));
    EXPECT_FALSE(overlapped.load());
    EXPECT_FALSE(outOfOrder);
    EXPECT_EQ(delivered, kThreads * kPerThread);
    EXPECT_GE(context->postedCount(), static_cast<uint32_t>(kThreads * kPerThread));
}

}  // namespace
