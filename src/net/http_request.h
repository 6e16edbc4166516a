// One HTTP request description: the URL to connect to, the method, the body and
// extra headers of a synchronous request, and a cancellation flag.
//
// Threading: the fields are written by the creator before the request is handed
// to a transfer and only read afterwards. cancel() and isCancelled() may be
// called from any thread at any time; they are guarded by cancellationMutex.
#ifndef VXS_NET_HTTP_REQUEST_H
#define VXS_NET_HTTP_REQUEST_H

#include <cstdint>
#include <map>
#include <string>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

enum HTTP_REQUEST_METHOD : int32_t {
    HTTP_REQUEST_METHOD_GET = 0,         // plain request without body (synchronous path)
    HTTP_REQUEST_METHOD_POST = 1,        // request with body (synchronous path)
    HTTP_REQUEST_METHOD_CHUNK_UP = 2,    // asynchronous upload connection
    HTTP_REQUEST_METHOD_CHUNK_DOWN = 3,  // asynchronous download connection
};

class vxs_HttpRequest {
public:
    // A new request for `url` (a NUL-terminated shared array, or a string that
    // is copied with its NUL); every other field at its default. Empty pointer
    // when the object cannot be created.
    static Memory::vxs_shared_ptr<vxs_HttpRequest> requestWithUrl(const Memory::vxs_shared_ptr<char>& url);
    static Memory::vxs_shared_ptr<vxs_HttpRequest> requestWithUrl(const std::string& url);

    ~vxs_HttpRequest() = default;
    vxs_HttpRequest(const vxs_HttpRequest&) = delete;
    vxs_HttpRequest& operator=(const vxs_HttpRequest&) = delete;

    // Marks the request cancelled; a running transfer stops at its next
    // progress call.
    void cancel();
    bool isCancelled();

    // The URL with the real host name. When it is set and `_URL` carries a
    // numeric address in its place, the connection goes to that address while
    // TLS and the Host header keep the real name.
    std::string _origin_URL;
    // The URL connected to (NUL-terminated).
    Memory::vxs_shared_ptr<char> _URL;
    HTTP_REQUEST_METHOD _METHOD = HTTP_REQUEST_METHOD_GET;
    // Whole-request time limit of the synchronous path; -1 (or 0): none.
    int64_t _TIMEOUT_MS = -1;
    Memory::vxs_shared_ptr<char> _BODY_DATA;
    int64_t _BODY_LENGTH = 0;
    // Extra headers of the synchronous path, sent as "name: value" in key order.
    std::map<std::string, std::string> _HEADER_LIST;

    Threads::Synchronization::AppMutex cancellationMutex{true};
    int32_t _isCancelled = 0;

private:
    vxs_HttpRequest() = default;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_HTTP_REQUEST_H
