#include "core/context.h"

#include "core/event_manager.h"
#include "core/log.h"
#include "threads/dispatch_queue.h"

namespace vxs {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Threads::ASRDispatchTaskBase;
using Threads::DispatchQueue;

// What an ASRDispatchTaskWithResPointer<Context> calling run() with a new
// Task would do, in one allocation instead of four: this runs once per
// message.
class Context::DeliveryTask : public ASRDispatchTaskBase {
public:
    // Empty context() when `context` is gone.
    DeliveryTask(const Memory::vxs_weak_ptr<Context>& context, const Memory::vxs_weak_ptr<EventManager>& to,
                 const MessagePtr& message)
        : ASRDispatchTaskBase(nullptr, nullptr, nullptr), context_(context) {
        task_.target = to;
        task_.message = message;
        _releaseResourceAfterExecute = true;
    }

    Context* context() const { return context_.getPTR(); }

    void execute() override {
        context_->deliver(task_);
        // As with any typed task, the parameter goes as soon as the work has
        // run; the context stays until the queue drops the task, unlocked.
        if (_releaseResourceAfterExecute) releaseResource();
    }

    void releaseResource() override {
        task_.message = MessagePtr();
        task_.target = Memory::vxs_weak_ptr<EventManager>();
        ASRDispatchTaskBase::releaseResource();
    }

private:
    ContextPtr context_;
    Task task_;
};

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
    enqueue(selfPtr, to, message);
}

void Context::enqueue(const Memory::vxs_weak_ptr<Context>& context, const Memory::vxs_weak_ptr<EventManager>& to,
                      const MessagePtr& message) {
    auto* dispatch = new DeliveryTask(context, to, message);
    Context* self = dispatch->context();
    if (!self || !self->ctxQueue) {
        delete dispatch;
        return;
    }
    self->m_index.fetch_add(1, std::memory_order_relaxed);
    // The queue owns the task from here on, and deletes it if refused (the
    // queue was cancelled): the message is then dropped silently.
    self->ctxQueue->runTaskAsync(dispatch);
}

void Context::run(vxs_shared_ptr_base* param) {
    auto* holder = dynamic_cast<vxs_shared_ptr<Task>*>(param);
    if (!holder || !holder->getPTR()) return;
    deliver(*holder->getPTR());
}

void Context::deliver(Task& task) {
    EventManagerPtr target = task.target.getPTR();
    if (!target) return;  // the module is gone: drop the message silently
    // The task is dropped right after delivery: the module may use (and
    // even replace) the task's own handle.
    target->send(task.message);
}

}  // namespace vxs
