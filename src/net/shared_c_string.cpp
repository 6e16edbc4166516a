#include "net/shared_c_string.h"

#include <cstring>

namespace vxs {
namespace Networking {

Memory::vxs_shared_ptr<char> make_shared_c_string(const char* text, size_t length) {
    Memory::vxs_shared_ptr<char> copy = Memory::vxs_make_array<char>(length + 1);
    if (text && length > 0) std::memcpy(copy.getPTR(), text, length);
    copy.getPTR()[length] = '\0';
    return copy;
}

Memory::vxs_shared_ptr<char> make_shared_c_string(const std::string& text) {
    return make_shared_c_string(text.data(), text.size());
}

std::string shared_c_string_text(const Memory::vxs_shared_ptr<char>& value) {
    return value.getPTR() ? std::string(value.getPTR()) : std::string();
}

bool has_text(const Memory::vxs_shared_ptr<char>& value) { return value.getPTR() && value.getPTR()[0] != '\0'; }

}  // namespace Networking
}  // namespace vxs
