// Builders shared by the answer tests: download records and parsed results.
#ifndef VXS_TESTS_DECODER_ANSWERS_ANSWER_FIXTURES_H
#define VXS_TESTS_DECODER_ANSWERS_ANSWER_FIXTURES_H

#include <cstdint>
#include <string>

#include "decoder/asr_response.h"
#include "decoder/asr_result.h"

namespace answers_test {

// Header with an explicit length field, then the type byte and payload.
inline std::string record_with_length(uint32_t length, uint8_t type, const std::string& payload) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<char>((length >> shift) & 0xFF));
    bytes.push_back(static_cast<char>(type));
    return bytes + payload;
}

// A well-formed record: L = 1 + payload length.
inline std::string record(uint8_t type, const std::string& payload) {
    return record_with_length(static_cast<uint32_t>(payload.size() + 1), type, payload);
}

// The text the session receives for an answer.
inline std::string result_text(const std::string& recognition, const std::string& answer) {
    return "{\"results_recognition\":" + recognition + ",\"origin_result\":" + answer + "}";
}

inline vxs::ASRResult parse_chunk(const std::string& bytes) {
    vxs::ASRResult result;
    vxs::ASRResponse(0, bytes.data(), static_cast<uint32_t>(bytes.size()))
        .create_chunk_result(&result);
    return result;
}

}  // namespace answers_test

#endif  // VXS_TESTS_DECODER_ANSWERS_ANSWER_FIXTURES_H
