#include "interface/key_suffix.h"

#include <cstring>

namespace vxs {
namespace {

struct SuffixType {
    const char* suffix;
    KeyType type;
};

// No suffix here is the tail of another, so the order of tests does not matter.
const SuffixType kSuffixes[] = {
    {".string", KeyType::String},
    {".int", KeyType::Int},
    {".int16_t", KeyType::Int16},
    {".bool", KeyType::Bool},
    {".byte_array", KeyType::ByteArray},
    {".int32_t", KeyType::Int32},
    {".vector<string>", KeyType::VectorString},
    {".float", KeyType::Float},
    {".unsigned_long_long", KeyType::UnsignedLongLong},
    {".vector<int>", KeyType::OtherKnown},
    {".map<string,string>", KeyType::OtherKnown},
    {".int8_t", KeyType::OtherKnown},
    {".int64_t", KeyType::OtherKnown},
};

bool ends_with(const std::string& text, const char* suffix) {
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

}  // namespace

KeyType key_type_of(const std::string& key) {
    for (const SuffixType& entry : kSuffixes) {
        if (ends_with(key, entry.suffix)) return entry.type;
    }
    // Shared pointers of any pointee (".vxs_shared_ptr<ASRResult>", ...).
    const size_t dot = key.rfind('.');
    if (dot != std::string::npos && key.compare(dot, 16, ".vxs_shared_ptr<") == 0 && key.back() == '>') {
        return KeyType::OtherKnown;
    }
    return KeyType::Unknown;
}

}  // namespace vxs
