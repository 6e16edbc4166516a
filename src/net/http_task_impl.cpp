#include "net/http_task_impl.h"

#include "core/log.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;
using Threads::Synchronization::AppLock;

vxs_shared_ptr<vxs_http_request_maker> vxs_http_request_maker::get_instance() {
    return vxs_HttpTask_impl::create();
}

vxs_shared_ptr<vxs_HttpTask_impl> vxs_HttpTask_impl::create() {
    vxs_shared_ptr<vxs_HttpTask_impl> task(new vxs_HttpTask_impl());
    task->selfRef = task;
    return task;
}

vxs_HttpTask_impl::~vxs_HttpTask_impl() {
    // The owner has let go: nothing may keep streaming on its behalf.
    if (m_transfer) m_transfer->cancel();
}

void vxs_HttpTask_impl::start_request(vxs_shared_ptr<vxs_HttpRequest> request, vxs_http_request_callback callback,
                                      Memory::vxs_shared_ptr_base* userParam) {
    if (!request) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::start_request] request is NULL");
        return;
    }
    AppLock lock(&m_mutex);
    if (m_started) {
        VXS_LOG_WARN("[vxs_HttpTask_impl::start_request]this=%p, already started", static_cast<void*>(this));
        return;
    }
    m_started = true;
    ChunkedTransfer::Owner owner;
    owner.maker = selfRef;
    owner.callback = callback;
    owner.userParam = userParam;
    m_transfer = ChunkedTransfer::start(*request, owner);
}

void vxs_HttpTask_impl::send_data(const char* bytes, size_t length, bool isLast) {
    vxs_shared_ptr<ChunkedTransfer> transfer;
    {
        AppLock lock(&m_mutex);
        transfer = m_transfer;
    }
    if (!transfer) {
        VXS_LOG_WARN("[vxs_HttpTask_impl::send_data]this=%p, no transfer, %zu bytes dropped",
                     static_cast<void*>(this), length);
        return;
    }
    transfer->queue_upload(bytes, length, isLast);
}

void vxs_HttpTask_impl::cancel() {
    vxs_shared_ptr<ChunkedTransfer> transfer;
    {
        AppLock lock(&m_mutex);
        transfer = m_transfer;
    }
    if (transfer) transfer->cancel();
}

}  // namespace Networking
}  // namespace vxs
