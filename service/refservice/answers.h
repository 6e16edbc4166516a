// What the service sends back: download records of the chunked protocol
// (4-byte little-endian length of type plus payload, the type byte, the
// payload) with their JSON results, and the JSON answers of single requests
// in search mode or input mode.
//
// Threading: pure functions.
#ifndef VXS_SERVICE_REFSERVICE_ANSWERS_H
#define VXS_SERVICE_REFSERVICE_ANSWERS_H

#include <cstdint>
#include <string>

namespace vxs {
namespace refservice {

enum DownloadRecordType : uint8_t {
    kRecordPartial = 0xF0,
    kRecordFinal = 0xF1,
    kRecordEnd = 0xF3,
};

// Result kinds of single-request answers ("res_type").
constexpr int kResTypePartial = 1;
constexpr int kResTypeSingleFinish = 3;
constexpr int kResTypeEnd = 7;

// Server error numbers.
constexpr int kErrParams = -3001;
constexpr int kErrRecognition = -3002;
constexpr int kErrNoResult = -3003;
constexpr int kErrAppUnknown = -3004;

const char* server_error_text(int err_no);

// One download record. `announced_extra` adds to the announced length
// without adding bytes (a malformed record on purpose).
std::string download_record(uint8_t type, const std::string& payload, uint32_t announced_extra = 0);

// {"err_no":..,"err_msg":..,"sn":..,"result":{"word":[text]}}; an empty text
// gives an empty "word" array.
std::string chunk_result_json(int err_no, const std::string& text, const std::string& sn,
                              const std::string& detail = std::string());

// A single-request answer: protocol "101" selects input mode ("idxs" with a
// confusion network), every other protocol search mode ("result" and
// "content" with an "item" array).
std::string single_answer(const std::string& protocol, int err_no, int idx, int res_type, const std::string& text,
                          const std::string& sn, const std::string& detail = std::string());

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_ANSWERS_H
