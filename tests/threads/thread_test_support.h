// Helpers for the thread tests: tasks built from lambdas, a gate that holds
// tasks until released, polling with generous time limits, and a test
// environment that ends the global pool's threads when the suite ends.
#ifndef VXS_TESTS_THREADS_THREAD_TEST_SUPPORT_H
#define VXS_TESTS_THREADS_THREAD_TEST_SUPPORT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/shared_ptr.h"
#include "threads/dispatch_task.h"

namespace vxs_test {

// Everything a task does in these tests is a std::function behind one of
// these, passed as the task's reference parameter.
struct Work {
    explicit Work(std::function<void()> body) : run(std::move(body)) {}
    std::function<void()> run;
};
typedef vxs::Memory::vxs_shared_ptr<Work> WorkPtr;

WorkPtr makeWork(std::function<void()> body);
// The method that runs the Work behind its parameter.
void runWork(vxs::Memory::vxs_shared_ptr_base* parameter);
// A heap task (owned by whoever it is handed to) that runs `body`.
vxs::Threads::ASRDispatchTaskBase* newTask(std::function<void()> body);
vxs::Memory::vxs_shared_ptr<vxs::Threads::ASRDispatchTaskBase> sharedTask(std::function<void()> body);

// Holds every task that calls pass() until open() is called.
class Gate {
public:
    void pass();
    void open();

private:
    std::mutex mutex;
    std::condition_variable opened;
    bool isOpen = false;
};

// Polls `condition` every few milliseconds for up to `limit`.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

// Milliseconds on a monotonic clock.
int64_t nowMs();

// Counts live instances, to see when a task's parameter is released.
struct Tracked {
    explicit Tracked(std::atomic<int>* liveCount) : live(liveCount) { live->fetch_add(1); }
    ~Tracked() { live->fetch_sub(1); }
    std::atomic<int>* live;
};

}  // namespace vxs_test

#endif  // VXS_TESTS_THREADS_THREAD_TEST_SUPPORT_H
