// Parsing of the recognition service's answers into ASRResult: the records of
// the chunked download connection and the JSON answers of single requests
// (search mode and input mode).
//
// Threading: an ASRResponse is short-lived and used by one thread; the static
// members are reentrant. Parsing never throws and never fails loudly: every
// malformed answer yields a result with an error number, a description and
// EVR_RESULT_TYPE_ERROR.
#ifndef VXS_DECODER_ASR_RESPONSE_H
#define VXS_DECODER_ASR_RESPONSE_H

#include <cjson/cJSON.h>

#include <cstdint>
#include <string>

#include "core/shared_ptr.h"
#include "decoder/asr_result.h"

namespace vxs {

class ASRResponse {
  public:
    // Copies `length` bytes of one answer (no terminator needed). Without data
    // (null or zero length) it holds one byte 0 and `_data_len` 1.
    ASRResponse(int32_t index, const char* data, uint32_t length);

    int32_t get_index() const { return _idx; }

    // `_data` holds one whole download record (header included).
    void create_chunk_result(ASRResult* result);
    // `_data` holds a search-mode answer; a final one gets `resultType`.
    void create_result(ASRResult* result, TVXVoiceRecognitionResultType resultType);
    void create_nbest_result(ASRResult* result) { create_result(result, EVR_RESULT_TYPE_NBEST); }
    void create_json_res_result(ASRResult* result) {
        create_result(result, EVR_RESULT_TYPE_RESOURCE);
    }
    void create_talk_result(ASRResult* result) { create_json_res_result(result); }
    // `_data` holds an input-mode answer (or, without "idxs", a search-mode one).
    void create_cn_result(ASRResult* result);

    // Fills `result` from a parsed search-mode answer; nothing for null input.
    static void parse_partial_result(const cJSON* answer, ASRResult* result);
    // Error number from answer.result.err_no, or the local parse error.
    static void get_err_no_in_search_mode(const cJSON* answer, ASRResult* result);
    // Error number from answer.idxs[0].result.err_no, or the local parse error.
    static void get_err_no_in_input_mode(const cJSON* answer, ASRResult* result);
    // The fixed text of a server error number (logged at ERROR level).
    static std::string get_server_err_desc(int err_no);

  private:
    void parse_chunk_json(const char* payload, uint32_t length, ASRResult* result);
    void fill_cn_result(const cJSON* answer, ASRResult* result);
    // True (and `result` marked) when the data buffer could not be allocated.
    bool report_missing_data(ASRResult* result) const;

    int32_t _idx;
    uint32_t _data_len;
    Memory::vxs_shared_ptr<char> _data;
    bool _data_alloc_failed;
};

}  // namespace vxs

#endif  // VXS_DECODER_ASR_RESPONSE_H
