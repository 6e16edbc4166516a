// One recognition result as the decoders hand it to the ASR session: the
// server's error number and text, the result kinds, the result JSON text and
// the binary payload of a non-JSON record.
//
// Threading: none inside. A result is filled by one thread (the decoder that
// parsed the answer) and only read once it has been posted; share it through
// vxs_shared_ptr and do not change it after posting.
#ifndef VXS_DECODER_ASR_RESULT_H
#define VXS_DECODER_ASR_RESULT_H

#include <cstdint>
#include <string>

#include "core/shared_ptr.h"

namespace vxs {

// The service's own result kind ("res_type" of an answer, or the record type).
enum ASR_RES_TYPE : int32_t {
    ASR_RES_TYPE_NONE = 0,
    ASR_RES_TYPE_PARTIAL = 1,
    ASR_RES_TYPE_THIRD = 2,
    ASR_RES_TYPE_SINGLE_FINISH = 3,
    ASR_RES_TYPE_MULTI_FINISH = 5,
    ASR_RES_TYPE_NLU = 6,
    ASR_RES_TYPE_END = 7,
    ASR_RES_TYPE_VP_RES = 8,
};

// The kind of result handed on to the session.
enum TVXVoiceRecognitionResultType : int32_t {
    EVR_RESULT_TYPE_ERROR = -1,
    EVR_RESULT_TYPE_EMPTY = 0,
    EVR_RESULT_TYPE_PARTIAL = 1,
    EVR_RESULT_TYPE_NBEST = 2,
    EVR_RESULT_TYPE_CN = 3,
    EVR_RESULT_TYPE_RESOURCE = 4,
    EVR_RESULT_TYPE_THIRD = 5,
    EVR_RESULT_TYPE_FINISH = 6,
    EVR_RESULT_TYPE_NLU = 7,
    EVR_RESULT_TYPE_END = 8,
    EVR_RESULT_TYPE_VP_RES = 9,
};

// `_err_no` of an answer that could not be parsed locally.
constexpr int16_t ASR_LOCAL_PARSE_ERR_NO = -1000;
// `_err_no` stored for a server error number that does not fit the 16-bit
// field (or is not a whole number): still an error, with the generic text.
constexpr int16_t ASR_SERVER_ERR_NO_UNKNOWN = -3000;

class ASRResult {
  public:
    ASRResult();
    explicit ASRResult(int16_t errNo);

    static Memory::vxs_shared_ptr<ASRResult> alloc();
    static Memory::vxs_shared_ptr<ASRResult> alloc(int16_t errNo);

    // Back to the freshly created state (all zero or empty).
    void clear();

    TVXVoiceRecognitionResultType get_type() const { return _type; }
    void set_index(int32_t index) { _index = index; }
    int32_t get_index() const { return _index; }
    int16_t get_err_no() const { return _err_no; }
    const std::string& get_err_desc() const { return _err_desc; }
    ASR_RES_TYPE get_res_type() const { return _res_type; }
    const std::string& get_response() const { return _response; }
    const Memory::vxs_shared_ptr<uint8_t>& get_raw_data() const { return _raw_data; }
    uint32_t get_raw_data_len() const { return _raw_data_len; }

    // Stores a copy of `length` bytes as the binary payload. Null bytes or a
    // zero length are logged and store nothing (an earlier payload stays).
    void set_binary_data(const void* bytes, uint32_t length);

    // Filled by the parsers and the decoders; read by the session.
    int32_t m_localError;  // HTTP_REQUEST_ERROR of the report that carried the answer
    int32_t m_httpError;   // HTTP status when outside 200-299
    Memory::vxs_shared_ptr<uint8_t> _raw_data;
    uint32_t _raw_data_len;
    int32_t _index;
    int16_t _err_no;
    std::string _err_desc;
    ASR_RES_TYPE _res_type;
    TVXVoiceRecognitionResultType _type;
    std::string _response;
    std::string _ori_response;
};

}  // namespace vxs

#endif  // VXS_DECODER_ASR_RESULT_H
