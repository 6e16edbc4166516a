// The base of every module. A module receives messages through send() and
// emits messages to other modules through post(), which always goes through
// the instance's Context.
//
// Threading: send() runs on a pool thread, never concurrently with another
// send() of the same instance, with no lock held; state touched only from
// send() therefore needs no lock. post() may be called from any thread.
// After the context is gone, post() drops every message silently.
#ifndef VXS_CORE_EVENT_MANAGER_H
#define VXS_CORE_EVENT_MANAGER_H

#include <cstdint>

#include "core/context.h"
#include "core/message.h"
#include "core/shared_ptr.h"

namespace vxs {

class EventManager;
typedef Memory::vxs_shared_ptr<EventManager> EventManagerPtr;
typedef Memory::vxs_weak_ptr<EventManager> EventManagerWeakPtr;

class EventManager {
public:
    // Stores the context weakly; selfPtr starts empty.
    explicit EventManager(const Memory::vxs_weak_ptr<Context>& context);
    virtual ~EventManager();
    EventManager(const EventManager&) = delete;
    EventManager& operator=(const EventManager&) = delete;

    // The module's message handler. A name the module does not know is
    // ignored.
    virtual void send(MessagePtr& message) = 0;

    // Queues `message` for `target` on this module's context, or drops it
    // when the context (or later the target) no longer exists. The priority
    // does not reorder messages.
    void post(const EventManagerWeakPtr& target, const MessagePtr& message, uint8_t eventPriority);

    const EventManagerWeakPtr& getSelfPtr() const { return selfPtr; }

protected:
    // For module factories: takes ownership of a freshly constructed module
    // and points its selfPtr at the new shared pointer.
    template <class T>
    static Memory::vxs_shared_ptr<T> adoptModule(T* module) {
        Memory::vxs_shared_ptr<T> owned(module);
        if (owned) static_cast<EventManager*>(owned.getPTR())->selfPtr = EventManagerWeakPtr(owned);
        return owned;
    }

    Memory::vxs_weak_ptr<Context> m_context;
    EventManagerWeakPtr selfPtr;
};

}  // namespace vxs

#endif  // VXS_CORE_EVENT_MANAGER_H
