// Packing of an error class (domain) and a 16-bit code into one int, as the
// modules' "finish" events and the host callbacks carry it.
//
// Threading: pure functions, callable from any thread.
#ifndef VXS_CORE_ERROR_CODE_H
#define VXS_CORE_ERROR_CODE_H

#include <cstdint>

namespace vxs {

// errorClass x 65536 OR (code AND 0xFFFF); encode_error(33, -3001) == 2225223.
int encode_error(int16_t errorClass, int16_t code);

// Splits an encoded error into its upper (class) and lower (code) 16 bits,
// each read as a signed 16-bit value.
void decode_error(int encoded, int16_t& errorClass, int16_t& code);
// The same through pointers; a null output is skipped.
void decode_error(int encoded, int16_t* errorClass, int16_t* code);

}  // namespace vxs

#endif  // VXS_CORE_ERROR_CODE_H
