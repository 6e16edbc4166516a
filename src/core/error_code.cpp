#include "core/error_code.h"

namespace vxs {

int encode_error(int16_t errorClass, int16_t code) {
    // In unsigned arithmetic: a negative class must not shift into undefined behaviour.
    const uint32_t packed = (static_cast<uint32_t>(static_cast<uint16_t>(errorClass)) << 16) |
                            static_cast<uint16_t>(code);
    return static_cast<int>(packed);
}

void decode_error(int encoded, int16_t& errorClass, int16_t& code) {
    const uint32_t packed = static_cast<uint32_t>(encoded);
    errorClass = static_cast<int16_t>(static_cast<uint16_t>(packed >> 16));
    code = static_cast<int16_t>(static_cast<uint16_t>(packed & 0xFFFFu));
}

void decode_error(int encoded, int16_t* errorClass, int16_t* code) {
    int16_t decodedClass = 0;
    int16_t decodedCode = 0;
    decode_error(encoded, decodedClass, decodedCode);
    if (errorClass) *errorClass = decodedClass;
    if (code) *code = decodedCode;
}

}  // namespace vxs
