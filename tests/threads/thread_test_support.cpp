#include "threads/thread_test_support.h"

#include <gtest/gtest.h>

#include <thread>

#include "threads/global_thread_pool.h"

namespace vxs_test {

using vxs::Memory::vxs_shared_ptr;
using vxs::Threads::ASRDispatchTaskBase;

WorkPtr makeWork(std::function<void()> body) { return WorkPtr(new Work(std::move(body))); }

void runWork(vxs::Memory::vxs_shared_ptr_base* parameter) {
    WorkPtr* work = static_cast<WorkPtr*>(parameter);
    if (work && *work) (*work)->run();
}

ASRDispatchTaskBase* newTask(std::function<void()> body) {
    WorkPtr work = makeWork(std::move(body));
    ASRDispatchTaskBase* task = new ASRDispatchTaskBase(nullptr, work.getRefPtr(), &runWork);
    task->_releaseResourceAfterExecute = true;
    return task;
}

vxs_shared_ptr<ASRDispatchTaskBase> sharedTask(std::function<void()> body) {
    return vxs_shared_ptr<ASRDispatchTaskBase>(newTask(std::move(body)));
}

void Gate::pass() {
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait(lock, [this] { return isOpen; });
}

void Gate::open() {
    std::lock_guard<std::mutex> lock(mutex);
    isOpen = true;
    opened.notify_all();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

// Ends the global pool's threads and drops pending timers when the suite
// ends, so that the leak checker sees only what a test really lost.
class GlobalPoolShutdown : public ::testing::Environment {
public:
    void TearDown() override { vxs::Threads::GlobalThreadPool::shutdown(); }
};

const ::testing::Environment* const kGlobalPoolShutdown =
    ::testing::AddGlobalTestEnvironment(new GlobalPoolShutdown());

}  // namespace

}  // namespace vxs_test
