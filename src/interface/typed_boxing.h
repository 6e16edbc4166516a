// Boxing public values as the type their key's suffix names, and reading any
// numeric box as a number. A value set by the host in one typed map under a
// key that names another type ("x.float" set as a string) must never reach a
// reader as the wrong box.
//
// Threading: pure functions; call from any thread.
#ifndef VXS_INTERFACE_TYPED_BOXING_H
#define VXS_INTERFACE_TYPED_BOXING_H

#include <string>

#include "core/param.h"

namespace vxs {

// Each stores in `out` the value boxed as the type `key` names, converting
// between numbers, booleans and number texts; a key without a known suffix
// keeps the value's own type. False (and `out` untouched) when the value does
// not convert: a non-numeric text for a number, a fraction or an out-of-range
// number for an integer, or a type no conversion reaches (vectors, maps).
bool box_string_for_key(const std::string& key, const std::string& value, paramBase& out);
bool box_int_for_key(const std::string& key, int value, paramBase& out);
bool box_float_for_key(const std::string& key, float value, paramBase& out);
bool box_bytes_for_key(const std::string& key, const ByteArray& value, paramBase& out);

// True with the value in `out` when the box holds any arithmetic type
// (booleans give 0 or 1).
bool numeric_value(const paramBase& value, double* out);

}  // namespace vxs

#endif  // VXS_INTERFACE_TYPED_BOXING_H
