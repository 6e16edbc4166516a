// The HTTP task type of the library: the abstract asynchronous task (one
// long-lived chunked connection, implemented over libcurl elsewhere) and the
// synchronous `execute`.
//
// Threading: execute() runs the whole transfer on the calling thread; calls
// share only a locked pool of idle connections and TLS sessions, so any number
// of threads may call it at once. It is
// ended early from any thread through vxs_HttpRequest::cancel(). The contract
// of the asynchronous operations is the implementing task's.
#ifndef VXS_NET_HTTP_REQUEST_MAKER_H
#define VXS_NET_HTTP_REQUEST_MAKER_H

#include <cstddef>

#include "core/shared_ptr.h"
#include "net/http_request.h"
#include "net/http_response.h"

namespace vxs {
namespace Networking {

class vxs_http_request_maker;

// How a task reports to its owner: the reporting task, one response (or one
// piece of one) and the parameter given to start_request.
typedef void (*vxs_http_request_callback)(Memory::vxs_shared_ptr<vxs_http_request_maker> maker,
                                          Memory::vxs_shared_ptr<vxs_HttpResponse> response,
                                          Memory::vxs_shared_ptr_base* userParam);

class vxs_http_request_maker {
public:
    virtual ~vxs_http_request_maker() = default;
    // Starts the transfer the request's method names; returns at once.
    virtual void start_request(Memory::vxs_shared_ptr<vxs_HttpRequest> request, vxs_http_request_callback callback,
                               Memory::vxs_shared_ptr_base* userParam) = 0;
    // Queues bytes for an upload connection; isLast ends its body.
    virtual void send_data(const char* bytes, size_t length, bool isLast) = 0;
    // Stops delivering to the owner and ends the transfer.
    virtual void cancel() = 0;

    // A new libcurl-based chunked task (defined with that task).
    static Memory::vxs_shared_ptr<vxs_http_request_maker> get_instance();

    // One GET (no body) or POST (a body, or method POST) on the calling thread,
    // with certificate and host-name checks on. An empty request or URL gives
    // an empty pointer. Otherwise the response tells the outcome:
    // HTTP_REQUEST_OK with the server's status and body; HTTP_REQUEST_ABORTED
    // when cancelled; HTTP_REQUEST_TIMEOUT when the request's own time limit
    // ended it; HTTP_REQUEST_HTTPS_REQ_ERROR for any other transport failure
    // (refused, TLS, ...); HTTP_REQUEST_UNDEFINED_ERROR for a refused body.
    // On every failure the status is what the server had answered so far (0
    // when nothing) and the error text is libcurl's.
    static Memory::vxs_shared_ptr<vxs_HttpResponse> execute(Memory::vxs_shared_ptr<vxs_HttpRequest> request);
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_HTTP_REQUEST_MAKER_H
