// Small text helpers.
//
// Threading: reentrant; no shared state.
#ifndef VXS_CORE_STRING_UTIL_H
#define VXS_CORE_STRING_UTIL_H

#include <string>

namespace vxs {

// Whether the first `textLength` characters of `text` end with the first
// `endingLength` characters of `ending`. False for a null text or ending, a
// negative length, or a text shorter than the ending.
bool str_ends_with(const char* text, int textLength, const char* ending, int endingLength);

// Decodes `length` characters of URL-encoded text: "+" becomes a space and
// "%" with two hexadecimal digits becomes that byte. Any other "%" makes the
// whole result "". The result ends at the first zero byte; null gives "".
std::string URLDecode(const char* src, unsigned length);

}  // namespace vxs

#endif  // VXS_CORE_STRING_UTIL_H
