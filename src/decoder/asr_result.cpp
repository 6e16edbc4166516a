#include "decoder/asr_result.h"

#include <cstring>
#include <new>

#include "core/log.h"

namespace vxs {

ASRResult::ASRResult()
    : m_localError(0),
      m_httpError(0),
      _raw_data_len(0),
      _index(0),
      _err_no(0),
      _res_type(ASR_RES_TYPE_NONE),
      _type(EVR_RESULT_TYPE_EMPTY) {}

ASRResult::ASRResult(int16_t errNo) : ASRResult() { _err_no = errNo; }

Memory::vxs_shared_ptr<ASRResult> ASRResult::alloc() {
    return Memory::vxs_shared_ptr<ASRResult>(new ASRResult());
}

Memory::vxs_shared_ptr<ASRResult> ASRResult::alloc(int16_t errNo) {
    return Memory::vxs_shared_ptr<ASRResult>(new ASRResult(errNo));
}

void ASRResult::clear() {
    m_localError = 0;
    m_httpError = 0;
    _raw_data = Memory::vxs_shared_ptr<uint8_t>();
    _raw_data_len = 0;
    _index = 0;
    _err_no = 0;
    _err_desc.clear();
    _res_type = ASR_RES_TYPE_NONE;
    _type = EVR_RESULT_TYPE_EMPTY;
    _response.clear();
    _ori_response.clear();
}

void ASRResult::set_binary_data(const void* bytes, uint32_t length) {
    if (bytes == nullptr || length == 0) {
        VXS_LOG_ERROR("[ASRResult::set_binary_data] data is NULL or len is 0");
        return;
    }
    // nothrow: a payload off the network must not be able to end the process.
    uint8_t* copy = new (std::nothrow) uint8_t[length];
    if (copy == nullptr) {
        VXS_LOG_FATAL("[ASRResult::set_binary_data] malloc for _data failed");
        return;
    }
    memcpy(copy, bytes, length);
    Memory::vxs_shared_ptr<uint8_t> buffer(copy);
    buffer.setCustomDestructor(&Memory::vxs_shared_ptr<uint8_t>::arrayDestructor);
    _raw_data = buffer;
    _raw_data_len = length;
}

}  // namespace vxs
