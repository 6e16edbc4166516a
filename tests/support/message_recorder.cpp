#include "support/message_recorder.h"

namespace vxs_test {

vxs::Memory::vxs_shared_ptr<MessageRecorder> MessageRecorder::create(
    const vxs::Memory::vxs_weak_ptr<vxs::Context>& context) {
    return adoptModule(new MessageRecorder(context));
}

void MessageRecorder::send(vxs::MessagePtr& message) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(message);
        m_last_arrival = std::chrono::steady_clock::now();
    }
    m_arrived.notify_all();
}

std::vector<vxs::MessagePtr> MessageRecorder::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<vxs::MessagePtr> MessageRecorder::messages_named(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<vxs::MessagePtr> named;
    for (const auto& message : m_messages)
        if (message->name == name) named.push_back(message);
    return named;
}

std::vector<std::string> MessageRecorder::names() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& message : m_messages) names.push_back(message->name);
    return names;
}

bool MessageRecorder::wait_for(const std::string& name, size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const auto& message : m_messages)
            if (message->name == name) ++seen;
        return seen >= count;
    });
}

void MessageRecorder::wait_until_quiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto quiet_until = m_last_arrival + quiet;
        if (std::chrono::steady_clock::now() >= quiet_until) return;
        m_arrived.wait_until(lock, std::min(quiet_until, deadline));
    }
}

void MessageRecorder::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

}  // namespace vxs_test
