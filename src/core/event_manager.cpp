#include "core/event_manager.h"

namespace vxs {

EventManager::EventManager(const Memory::vxs_weak_ptr<Context>& context) : m_context(context) {}

EventManager::~EventManager() = default;

void EventManager::send(MessagePtr& /*message*/) {}

void EventManager::post(const EventManagerWeakPtr& target, const MessagePtr& message, uint8_t eventPriority) {
    ContextPtr context = m_context.getPTR();
    if (!context) return;  // the instance is gone: nothing may be delivered
    // Same as context->post(selfPtr, target, message, eventPriority), with
    // the context this call already holds.
    (void)eventPriority;
    context->enqueue(context, target, message);
}

}  // namespace vxs
