#include "core/string_util.h"

#include <cstring>

namespace vxs {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool str_ends_with(const char* text, int textLength, const char* ending, int endingLength) {
    if (!text || !ending || textLength < 0 || endingLength < 0) return false;
    if (textLength < endingLength) return false;
    return std::memcmp(text + (textLength - endingLength), ending,
                       static_cast<size_t>(endingLength)) == 0;
}

std::string URLDecode(const char* src, unsigned length) {
    std::string decoded;
    if (!src) return decoded;
    decoded.reserve(length);
    for (unsigned i = 0; i < length; ++i) {
        const char c = src[i];
        if (c == '+') {
            decoded.push_back(' ');
        } else if (c == '%') {
            const int high = i + 1 < length ? hexValue(src[i + 1]) : -1;
            const int low = i + 2 < length ? hexValue(src[i + 2]) : -1;
            if (high < 0 || low < 0) return std::string();
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded.push_back(c);
        }
    }
    // The decoded bytes are handed on as C text: they end at the first zero byte.
    const size_t zero = decoded.find('\0');
    if (zero != std::string::npos) decoded.resize(zero);
    return decoded;
}

}  // namespace vxs
