#include "core/context.h"

#include "core/event_manager.h"
#include "core/log.h"
#include "threads/dispatch_queue.h"

namespace vxs {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Threads::ASRDispatchTaskWithResPointer;
using Threads::DispatchQueue;

ContextPtr Context::newContext() {
    ContextPtr context(new Context());
    context->ctxQueue = DispatchQueue::alloc(1);
    if (!context->ctxQueue) {
        VXS_LOG_ERROR("%s", "Context: failed to create the dispatch queue");
        return ContextPtr();
    }
    context->selfPtr = context;
    return context;
}

Context::~Context() {
    if (ctxQueue) ctxQueue->cancel();
}

void Context::post(const Memory::vxs_weak_ptr<EventManager>& /*from*/, const Memory::vxs_weak_ptr<EventManager>& to,
                   const MessagePtr& message, uint8_t /*eventPriority*/) {
    ContextPtr self = selfPtr.getPTR();
    if (self) enqueue(self, to, message);
}

void Context::enqueue(const ContextPtr& self, const Memory::vxs_weak_ptr<EventManager>& to,
                      const MessagePtr& message) {
    if (!ctxQueue) return;
    vxs_shared_ptr<Task> task(new Task());
    task->target = to;
    task->message = message;
    auto* dispatch = new ASRDispatchTaskWithResPointer<Context>(self, &Context::run, &task);
    m_index.fetch_add(1, std::memory_order_relaxed);
    // The queue owns the task from here on, and deletes it if refused (the
    // queue was cancelled): the message is then dropped silently.
    ctxQueue->runTaskAsync(dispatch);
}

void Context::run(vxs_shared_ptr_base* param) {
    auto* holder = dynamic_cast<vxs_shared_ptr<Task>*>(param);
    if (!holder || !holder->getPTR()) return;
    Task* task = holder->getPTR();
    EventManagerPtr target = task->target.getPTR();
    if (!target) return;  // the module is gone: drop the message silently
    // The task is dropped right after delivery: the module may use (and
    // even replace) the task's own handle.
    target->send(task->message);
}

}  // namespace vxs
