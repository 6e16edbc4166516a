#include "net/http_response.h"

#include <cstring>
#include <new>

#include "core/log.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;

namespace {

vxs_shared_ptr<char> allocate_buffer(size_t size) {
    char* raw = new (std::nothrow) char[size];
    if (raw == nullptr) return vxs_shared_ptr<char>();
    vxs_shared_ptr<char> buffer(raw);
    buffer.setCustomDestructor(&vxs_shared_ptr<char>::arrayDestructor);
    return buffer;
}

}  // namespace

vxs_shared_ptr<vxs_HttpResponse> vxs_HttpResponse::alloc() {
    vxs_HttpResponse* raw = new (std::nothrow) vxs_HttpResponse();
    if (raw == nullptr) {
        VXS_LOG_FATAL("[ASRResponse::ASRResponse] malloc for _data failed");
        return vxs_shared_ptr<vxs_HttpResponse>();
    }
    vxs_shared_ptr<vxs_HttpResponse> response(raw);
    if (!response->reserve(1)) {
        VXS_LOG_FATAL("[ASRResponse::ASRResponse] malloc for _data failed");
        return vxs_shared_ptr<vxs_HttpResponse>();
    }
    response->_data.getPTR()[0] = '\0';
    return response;
}

bool vxs_HttpResponse::reserve(size_t needed) {
    if (needed <= m_capacity && _data.getPTR() != nullptr) return true;
    size_t grown = m_capacity < 64 ? 64 : m_capacity * 2;
    if (grown < needed) grown = needed;
    if (grown > kMaxBodyBytes + 1) grown = kMaxBodyBytes + 1;
    vxs_shared_ptr<char> bigger = allocate_buffer(grown);
    if (!bigger) return false;
    if (_data.getPTR() != nullptr) std::memcpy(bigger.getPTR(), _data.getPTR(), _data_len);
    _data = bigger;
    m_capacity = grown;
    return true;
}

void vxs_HttpResponse::refuse_body(const char* reason) {
    _requestError = HTTP_REQUEST_UNDEFINED_ERROR;
    _requestErrorMessage = reason;
}

bool vxs_HttpResponse::receive_new_data(const char* bytes, size_t length) {
    if (_requestError != HTTP_REQUEST_OK) return false;
    if (bytes == nullptr || length == 0) {
        VXS_LOG_ERROR("[ASRResponse::receive_new_data] data is NULL or len is 0");
        return false;
    }
    const size_t body = body_length();
    if (length > kMaxBodyBytes || body > kMaxBodyBytes - length) {
        VXS_LOG_ERROR("[ASRResponse::receive_new_data] body over %zu bytes refused", kMaxBodyBytes);
        refuse_body("response body too large");
        return false;
    }
    if (!reserve(body + length + 1)) {
        VXS_LOG_ERROR("[ASRResponse::receive_new_data] realloc for _data failed");
        refuse_body("out of memory for the response body");
        return false;
    }
    char* data = _data.getPTR();
    std::memcpy(data + body, bytes, length);
    _data_len = static_cast<uint32_t>(body + length + 1);
    data[body + length] = '\0';
    return true;
}

}  // namespace Networking
}  // namespace vxs
