// One HTTP answer (or one piece of a streamed answer): the local outcome, the
// HTTP status, the received bytes and the answer's headers.
//
// Threading: a response is filled by one transfer on one thread and only read
// once it has been handed on; it has no locks of its own.
#ifndef VXS_NET_HTTP_RESPONSE_H
#define VXS_NET_HTTP_RESPONSE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "core/shared_ptr.h"

namespace vxs {
namespace Networking {

// The local outcome of a request, as opposed to the server's HTTP status.
enum HTTP_REQUEST_ERROR : int32_t {
    HTTP_REQUEST_OK = 0,
    HTTP_REQUEST_TIMEOUT = 1,                 // a time limit ended the request
    HTTP_REQUEST_ABORTED = 2,                 // the request was cancelled
    HTTP_REQUEST_CHUNK_REQ_PARAM_INVALID = 3,
    HTTP_REQUEST_CHUNK_REQ_ERROR = 4,         // a chunked transfer failed in transport
    HTTP_REQUEST_HTTPS_REQ_ERROR = 5,         // a synchronous request, or a download connection before its
                                              // first piece, failed in transport (connect, TLS)
    HTTP_REQUEST_HTTPS_REQ_SUC = 6,           // a chunked connection ended with a 2xx status
    HTTP_REQUEST_UNDEFINED_ERROR = 7,         // the body was refused: over the size cap or out of memory
};

class vxs_HttpResponse {
public:
    // Bodies beyond this many bytes are refused: no answer of the services this
    // library talks to comes near it, and a peer must not be able to make the
    // host buffer without bound.
    static constexpr size_t kMaxBodyBytes = 1024 * 1024;

    // A new response: HTTP_REQUEST_OK, status 200, empty body (`_data` holds a
    // single NUL, `_data_len` = 1). Empty pointer when memory is exhausted.
    static Memory::vxs_shared_ptr<vxs_HttpResponse> alloc();

    ~vxs_HttpResponse() = default;
    vxs_HttpResponse(const vxs_HttpResponse&) = delete;
    vxs_HttpResponse& operator=(const vxs_HttpResponse&) = delete;

    // Appends `length` bytes to the body and keeps it NUL-terminated. Returns
    // false when nothing was appended: a local error is already set, the input
    // is empty, or the body would pass kMaxBodyBytes or memory ran out (these
    // two set HTTP_REQUEST_UNDEFINED_ERROR and an error text).
    bool receive_new_data(const char* bytes, size_t length);

    void set_http_status(int32_t status) { _http_status = status; }
    int32_t get_http_status() const { return _http_status; }
    void set_local_request_error(HTTP_REQUEST_ERROR error) { _requestError = error; }
    HTTP_REQUEST_ERROR get_local_request_error() const { return _requestError; }
    // The body followed by one NUL; its length is `_data_len` - 1.
    Memory::vxs_shared_ptr<char> get_response_data() const { return _data; }
    size_t body_length() const { return _data_len - 1; }
    const std::map<std::string, std::string>& getResponseHeaders() const { return _responseHeaders; }
    // Replaces an earlier value of the same name.
    void setResponseHeader(const std::string& name, const std::string& value) { _responseHeaders[name] = value; }
    void setErrorMessage(const std::string& message) { _requestErrorMessage = message; }
    const std::string& getErrorMessage() const { return _requestErrorMessage; }
    void set_source(void* source) { _source = source; }
    void* get_source() const { return _source; }

    std::string _requestErrorMessage;
    HTTP_REQUEST_ERROR _requestError = HTTP_REQUEST_OK;
    int32_t _http_status = 200;
    Memory::vxs_shared_ptr<char> _data;
    uint32_t _data_len = 1;  // counts the terminating NUL
    std::map<std::string, std::string> _responseHeaders;
    void* _source = nullptr;  // free for the receiver

private:
    vxs_HttpResponse() = default;
    // Makes room for `needed` bytes (NUL included), growing geometrically so
    // that a body received in many pieces is copied O(n) times in total.
    bool reserve(size_t needed);
    void refuse_body(const char* reason);

    size_t m_capacity = 0;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_HTTP_RESPONSE_H
