// A module for tests that records every message it is sent, so that a test
// can wait for what a module under test posts to its callback module.
//
// Threading: send() runs on the context's pool threads; the waiting and
// reading calls may come from any thread (one mutex guards the record).
#ifndef VXS_TESTS_SUPPORT_MESSAGE_RECORDER_H
#define VXS_TESTS_SUPPORT_MESSAGE_RECORDER_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/event_manager.h"
#include "core/message.h"

namespace vxs_test {

class MessageRecorder : public vxs::EventManager {
public:
    static vxs::Memory::vxs_shared_ptr<MessageRecorder> create(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context);

    void send(vxs::MessagePtr& message) override;

    // Every message received so far, in arrival order.
    std::vector<vxs::MessagePtr> messages() const;
    // Messages of one name, in arrival order.
    std::vector<vxs::MessagePtr> messages_named(const std::string& name) const;
    // Names of every message received so far, in arrival order.
    std::vector<std::string> names() const;

    // Waits until `count` messages named `name` arrived; false on time-out.
    bool wait_for(const std::string& name, size_t count = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until no message arrived for `quiet` (or `limit` passed).
    void wait_until_quiet(std::chrono::milliseconds quiet,
                          std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

    void clear();

private:
    explicit MessageRecorder(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context) : EventManager(context) {}

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<vxs::MessagePtr> m_messages;
    std::chrono::steady_clock::time_point m_last_arrival = std::chrono::steady_clock::now();
};

}  // namespace vxs_test

#endif  // VXS_TESTS_SUPPORT_MESSAGE_RECORDER_H
