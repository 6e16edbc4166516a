#include "net/http_request.h"

#include <cstring>
#include <new>

#include "core/log.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;
using Threads::Synchronization::AppLock;

vxs_shared_ptr<vxs_HttpRequest> vxs_HttpRequest::requestWithUrl(const vxs_shared_ptr<char>& url) {
    vxs_HttpRequest* raw = new (std::nothrow) vxs_HttpRequest();
    if (raw == nullptr) {
        VXS_LOG_FATAL("new vxs_HttpRequest failed");
        return vxs_shared_ptr<vxs_HttpRequest>();
    }
    vxs_shared_ptr<vxs_HttpRequest> request(raw);
    request->_URL = url;
    return request;
}

vxs_shared_ptr<vxs_HttpRequest> vxs_HttpRequest::requestWithUrl(const std::string& url) {
    vxs_shared_ptr<char> copy = Memory::vxs_make_array<char>(url.size() + 1);
    std::memcpy(copy.getPTR(), url.c_str(), url.size() + 1);
    return requestWithUrl(copy);
}

void vxs_HttpRequest::cancel() {
    AppLock lock(&cancellationMutex);
    _isCancelled = 1;
}

bool vxs_HttpRequest::isCancelled() {
    AppLock lock(&cancellationMutex);
    return _isCancelled != 0;
}

}  // namespace Networking
}  // namespace vxs
