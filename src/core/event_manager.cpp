#include "core/event_manager.h"

namespace vxs {

EventManager::EventManager(const Memory::vxs_weak_ptr<Context>& context) : m_context(context) {}

EventManager::~EventManager() = default;

void EventManager::send(MessagePtr& /*message*/) {}

void EventManager::post(const EventManagerWeakPtr& target, const MessagePtr& message, uint8_t eventPriority) {
    // Same as context->post(selfPtr, target, message, eventPriority) on the
    // promoted context, which enqueue() promotes only once. Once the
    // instance is gone nothing is delivered.
    (void)eventPriority;
    Context::enqueue(m_context, target, message);
}

}  // namespace vxs
