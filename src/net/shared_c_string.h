// NUL-terminated character arrays held by shared pointers, the form in which
// URLs, keys and tokens travel between the networking objects.
//
// Threading: pure functions, reentrant.
#ifndef VXS_NET_SHARED_C_STRING_H
#define VXS_NET_SHARED_C_STRING_H

#include <cstddef>
#include <string>

#include "core/shared_ptr.h"

namespace vxs {
namespace Networking {

// A new array holding `length` bytes of `text` and a NUL (empty text for null).
Memory::vxs_shared_ptr<char> make_shared_c_string(const char* text, size_t length);
Memory::vxs_shared_ptr<char> make_shared_c_string(const std::string& text);

// The text of `value`, "" when it is empty.
std::string shared_c_string_text(const Memory::vxs_shared_ptr<char>& value);
// True when `value` holds at least one character before its NUL.
bool has_text(const Memory::vxs_shared_ptr<char>& value);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_SHARED_C_STRING_H
