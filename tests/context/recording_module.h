// Test modules for code that talks through a Context: a module that records
// every message it receives (optionally running a hook first) into a journal
// that the test thread can wait on.
#ifndef VXS_TESTS_CONTEXT_RECORDING_MODULE_H
#define VXS_TESTS_CONTEXT_RECORDING_MODULE_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/context.h"
#include "core/event_manager.h"
#include "core/message.h"

namespace vxs_test {

// Generous: the machine is shared and loaded; a pass never waits this long.
constexpr std::chrono::seconds kWaitLimit{20};

struct Received {
    std::string module;
    std::string name;
    vxs::MessagePtr message;
};

class Journal {
public:
    void add(const std::string& module, const vxs::MessagePtr& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(Received{module, message ? message->name : std::string(), message});
        // Notified under the lock: a waiter that sees the entry may destroy
        // the journal as soon as it can take the lock.
        changed_.notify_all();
    }

    // Waits until `count` entries named `name` were recorded; false on time-out.
    bool waitForName(const std::string& name, size_t count = 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWaitLimit, [&] { return countLocked(name) >= count; });
    }

    bool waitForSize(size_t size) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kWaitLimit, [&] { return entries_.size() >= size; });
    }

    std::vector<Received> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

    // The names in arrival order, leaving out those that start with `skipPrefix`.
    std::vector<std::string> names(const std::string& skipPrefix = "test.") const {
        std::vector<std::string> out;
        for (const Received& entry : entries()) {
            if (entry.name.compare(0, skipPrefix.size(), skipPrefix) != 0) out.push_back(entry.name);
        }
        return out;
    }

private:
    size_t countLocked(const std::string& name) const {
        size_t count = 0;
        for (const Received& entry : entries_) count += entry.name == name ? 1 : 0;
        return count;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> entries_;
};

class RecordingModule;
typedef vxs::Memory::vxs_shared_ptr<RecordingModule> RecordingModulePtr;

class RecordingModule : public vxs::EventManager {
public:
    typedef std::function<void(RecordingModule&, vxs::MessagePtr&)> Hook;

    static RecordingModulePtr create(const vxs::ContextPtr& context, Journal* journal, std::string label,
                                     Hook hook = Hook()) {
        return adoptModule(new RecordingModule(context, journal, std::move(label), std::move(hook)));
    }

    void send(vxs::MessagePtr& message) override {
        if (journal_) journal_->add(label_, message);
        if (hook_) hook_(*this, message);
    }

    // Posts as this module (the way a module emits from inside send()).
    void postTo(const vxs::EventManagerWeakPtr& target, const std::string& name, uint8_t priority = 0) {
        post(target, vxs::Message::make(name), priority);
    }

private:
    RecordingModule(const vxs::ContextPtr& context, Journal* journal, std::string label, Hook hook)
        : EventManager(vxs::Memory::vxs_weak_ptr<vxs::Context>(context)),
          journal_(journal),
          label_(std::move(label)),
          hook_(std::move(hook)) {}

    Journal* journal_;
    std::string label_;
    Hook hook_;
};

// Waits until the object behind `weak` has been destroyed, without ever
// holding it strongly (a promotion could make this thread the one that
// destroys it). `raw` is the object's address.
inline bool waitUntilDestroyed(const vxs::Memory::vxs_shared_ptr_base& weak, const void* raw) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (weak.isEqualToRawPtr(raw)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Waits until everything already queued on the context, and whatever those
// messages post while they are handled, has been delivered: the second hop is
// posted only once the first has arrived, so it queues behind those posts.
inline bool drainContext(const RecordingModulePtr& probe, Journal& journal) {
    static int round = 0;
    const std::string first = "test.drain." + std::to_string(++round);
    probe->postTo(probe->getSelfPtr(), first);
    if (!journal.waitForName(first)) return false;
    const std::string second = "test.drained." + std::to_string(round);
    probe->postTo(probe->getSelfPtr(), second);
    return journal.waitForName(second);
}

}  // namespace vxs_test

#endif  // VXS_TESTS_CONTEXT_RECORDING_MODULE_H
