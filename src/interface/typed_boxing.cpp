#include "interface/typed_boxing.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "interface/key_suffix.h"

namespace vxs {
namespace {

bool only_spaces(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return *text == '\0';
}

// A whole text that is one finite number ("16000", "-3.5", " 1e3 ").
bool parse_number(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || errno == ERANGE || !only_spaces(end) || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

bool parse_bool(const std::string& text, bool* out) {
    if (text == "true" || text == "TRUE" || text == "True") {
        *out = true;
        return true;
    }
    if (text == "false" || text == "FALSE" || text == "False") {
        *out = false;
        return true;
    }
    double number = 0;
    if (!parse_number(text, &number)) return false;
    *out = number != 0;
    return true;
}

template <class Integer>
bool integral_in_range(double value) {
    return std::isfinite(value) && std::trunc(value) == value &&
           value >= static_cast<double>(std::numeric_limits<Integer>::min()) &&
           value <= static_cast<double>(std::numeric_limits<Integer>::max());
}

std::string format_float(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// Boxes a number as `type`; false when the number does not fit that type.
bool box_number(KeyType type, double value, paramBase& out) {
    switch (type) {
        case KeyType::Int:
        case KeyType::Int32:
            if (!integral_in_range<int32_t>(value)) return false;
            out = paramBase(static_cast<int32_t>(value));
            return true;
        case KeyType::Int16:
            if (!integral_in_range<int16_t>(value)) return false;
            out = paramBase(static_cast<int16_t>(value));
            return true;
        case KeyType::UnsignedLongLong:
            // Exact in a double only up to 2^53, which covers every time stamp.
            if (value < 0 || value > 9007199254740992.0 || std::trunc(value) != value) return false;
            out = paramBase::box(static_cast<unsigned long long>(value));
            return true;
        case KeyType::Bool:
            out = paramBase(value != 0);
            return true;
        case KeyType::Float:
            if (std::fabs(value) > std::numeric_limits<float>::max()) return false;
            out = paramBase(static_cast<float>(value));
            return true;
        default:
            return false;
    }
}

template <class T>
bool take(const paramBase& value, double* out) {
    const T* held = value.get<T>();
    if (held == nullptr) return false;
    *out = static_cast<double>(*held);
    return true;
}

}  // namespace

bool box_string_for_key(const std::string& key, const std::string& value, paramBase& out) {
    const KeyType type = key_type_of(key);
    if (type == KeyType::String || type == KeyType::Unknown) {
        out = paramBase(value);
        return true;
    }
    if (type == KeyType::Bool) {
        bool flag = false;
        if (!parse_bool(value, &flag)) return false;
        out = paramBase(flag);
        return true;
    }
    double number = 0;
    return parse_number(value, &number) && box_number(type, number, out);
}

bool box_int_for_key(const std::string& key, int value, paramBase& out) {
    const KeyType type = key_type_of(key);
    if (type == KeyType::Unknown) {
        out = paramBase(static_cast<int32_t>(value));
        return true;
    }
    if (type == KeyType::String) {
        out = paramBase(std::to_string(value));
        return true;
    }
    return box_number(type, static_cast<double>(value), out);
}

bool box_float_for_key(const std::string& key, float value, paramBase& out) {
    const KeyType type = key_type_of(key);
    if (type == KeyType::Unknown) {
        out = paramBase(value);
        return true;
    }
    if (type == KeyType::String) {
        out = paramBase(format_float(value));
        return true;
    }
    return box_number(type, static_cast<double>(value), out);
}

bool box_bytes_for_key(const std::string& key, const ByteArray& value, paramBase& out) {
    const KeyType type = key_type_of(key);
    if (type == KeyType::ByteArray || type == KeyType::Unknown) {
        out = paramBase::box(value);
        return true;
    }
    if (type == KeyType::String) {
        const char* bytes = value.first.getPTR();
        out = paramBase(bytes && value.second > 0 ? std::string(bytes, static_cast<size_t>(value.second))
                                                  : std::string());
        return true;
    }
    return false;
}

bool numeric_value(const paramBase& value, double* out) {
    return take<int32_t>(value, out) || take<int16_t>(value, out) || take<bool>(value, out) ||
           take<float>(value, out) || take<int8_t>(value, out) || take<int64_t>(value, out) ||
           take<long long>(value, out) || take<unsigned long long>(value, out) ||
           take<uint32_t>(value, out) || take<uint16_t>(value, out) || take<uint8_t>(value, out) ||
           take<double>(value, out);
}

}  // namespace vxs
