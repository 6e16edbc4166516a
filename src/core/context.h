// The per-instance message router. Every internal message of one SDK instance
// becomes one task on the context's serial dispatch queue, so the `send`
// handlers of all modules of the instance run one at a time, in posting
// order, on pool threads.
//
// Threading: post() may be called from any thread and only enqueues; run() is
// called by the queue, never concurrently with itself for one context. The
// context is always held through a vxs_shared_ptr; modules hold it weakly.
// Releasing the last reference cancels the queue: messages not yet delivered
// are dropped, the one being delivered completes.
#ifndef VXS_CORE_CONTEXT_H
#define VXS_CORE_CONTEXT_H

#include <atomic>
#include <cstdint>

#include "core/message.h"
#include "core/shared_ptr.h"

namespace vxs {

namespace Threads {
class DispatchQueue;
}  // namespace Threads

class EventManager;
class Context;
typedef Memory::vxs_shared_ptr<Context> ContextPtr;

// One posted message and the module it is addressed to.
struct Task {
    Memory::vxs_weak_ptr<EventManager> target;
    MessagePtr message;
};

class Context {
public:
    // A new context with its own serial queue; empty when the queue cannot
    // be made.
    static ContextPtr newContext();

    virtual ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Queues delivery of `message` to `to`. The message is shared, not
    // copied. `from` and `eventPriority` do not change the order: every
    // message of the instance goes to the one queue in posting order.
    // Posting to a cancelled queue drops the message silently.
    void post(const Memory::vxs_weak_ptr<EventManager>& from, const Memory::vxs_weak_ptr<EventManager>& to,
              const MessagePtr& message, uint8_t eventPriority);

    // Delivers one Task (held by `param`, a vxs_shared_ptr<Task>) to its
    // target's send(), or drops it when the target no longer exists. Posted
    // messages take a shorter path to deliver().
    virtual void run(Memory::vxs_shared_ptr_base* param);

    // Number of messages posted through this context.
    uint32_t postedCount() const { return m_index.load(std::memory_order_relaxed); }

private:
    friend class EventManager;
    // The queue task of one posted message; it holds its Task by value.
    class DeliveryTask;

    Context() = default;
    void deliver(Task& task);
    // post() through a weak reference to the context: the queue task takes
    // its strong reference by promoting `context` itself, so a post promotes
    // the context once. Dropped silently when the context is gone.
    static void enqueue(const Memory::vxs_weak_ptr<Context>& context, const Memory::vxs_weak_ptr<EventManager>& to,
                        const MessagePtr& message);

    Memory::vxs_shared_ptr<Threads::DispatchQueue> ctxQueue;
    Memory::vxs_weak_ptr<Context> selfPtr;
    // Posts come from many threads at once, hence atomic.
    std::atomic<uint32_t> m_index{0};
};

}  // namespace vxs

#endif  // VXS_CORE_CONTEXT_H
