// Tear-down of a context from inside its own queue. The pool has a single
// thread here, so a thread that hung in the tear-down would stall every later
// delivery and the tests would notice.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "context/recording_module.h"
#include "core/context.h"
#include "threads/global_thread_pool.h"

using vxs::Context;
using vxs::ContextPtr;
using vxs::MessagePtr;
using vxs_test::drainContext;
using vxs_test::Journal;
using vxs_test::RecordingModule;
using vxs_test::RecordingModulePtr;
using vxs_test::waitUntilDestroyed;

namespace {

class SingleThreadPool : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(vxs::Threads::GlobalThreadPool::setGlobalPoolThreadCount(1)); }
};
[[maybe_unused]] const auto* const kPoolEnvironment = ::testing::AddGlobalTestEnvironment(new SingleThreadPool);

// An SDK instance as the facade keeps it: the context and a module, both held
// strongly only by the instance.
struct Instance {
    ContextPtr context;
    RecordingModulePtr module;
};

// Proves the pool's thread is free: a fresh context still delivers.
bool poolStillDelivers(Journal& journal) {
    ContextPtr next = Context::newContext();
    if (!next) return false;
    RecordingModulePtr probe = RecordingModule::create(next, &journal, "probe");
    return drainContext(probe, journal);
}

TEST(ContextTeardown, ReleasingTheLastReferenceInsideSendDoesNotDeadlock) {
    Journal journal;
    auto* instance = new Instance();
    instance->context = Context::newContext();
    ASSERT_TRUE(instance->context);
    vxs::Memory::vxs_weak_ptr<Context> weakContext(instance->context);
    const Context* rawContext = instance->context.getPTR();

    std::mutex mutex;
    std::condition_variable changed;
    bool posted = false;
    instance->module = RecordingModule::create(instance->context, &journal, "module", [&](RecordingModule& self,
                                                                                          MessagePtr& m) {
        if (m->name != "release") return;
        {
            // Until the poster has let go of the context it held for posting,
            // so that the last reference is surely dropped on the queue.
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return posted; });
        }
        // Work queued behind the release, as when the host releases inside
        // its callback.
        self.postTo(self.getSelfPtr(), "after-release");
        delete instance;
        instance = nullptr;
    });
    vxs::EventManagerWeakPtr moduleRef = instance->module->getSelfPtr();
    instance->module->postTo(moduleRef, "release");
    {
        std::lock_guard<std::mutex> lock(mutex);
        posted = true;
        changed.notify_all();
    }

    ASSERT_TRUE(waitUntilDestroyed(weakContext, rawContext));
    EXPECT_TRUE(poolStillDelivers(journal));
    EXPECT_FALSE(moduleRef.getPTR());
    // The module died with the instance: the message queued behind the
    // release was dropped.
    EXPECT_EQ(journal.names(), std::vector<std::string>{"release"});
}

TEST(ContextTeardown, HostReleaseWhileMessagesAreQueuedDeliversThemThenDestroys) {
    Journal journal;
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;

    ContextPtr context = Context::newContext();
    ASSERT_TRUE(context);
    vxs::Memory::vxs_weak_ptr<Context> weak(context);
    const Context* raw = context.getPTR();
    RecordingModulePtr module =
        RecordingModule::create(context, &journal, "module", [&](RecordingModule&, MessagePtr& m) {
            if (m->name != "blocker") return;
            std::unique_lock<std::mutex> lock(mutex);
            entered = true;
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
        });
    module->postTo(module->getSelfPtr(), "blocker");
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, vxs_test::kWaitLimit, [&] { return entered; }));
    }
    module->postTo(module->getSelfPtr(), "queued");
    context = ContextPtr();  // the host's release, from another thread
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }

    // The queued task holds the context until it has been delivered; the
    // last task to finish then destroys it on the queue's own thread.
    ASSERT_TRUE(waitUntilDestroyed(weak, raw));
    EXPECT_TRUE(poolStillDelivers(journal));
    EXPECT_EQ(journal.names(), (std::vector<std::string>{"blocker", "queued"}));
}

}  // namespace
