#include "vxs/vxs_sdk_message.h"

#include <cstring>
#include <new>

#include "core/log.h"
#include "core/shared_ptr.h"
#include "interface/vxs_sdk_message_impl.h"

namespace vxs {
namespace {

// The bag's only failure is memory exhaustion; it must not leave the library
// as an exception, so every public call funnels through here.
template <class Result, class Body>
Result without_throwing(const char* operation, Result fallback, Body body) {
    try {
        return body();
    } catch (...) {
        VXS_LOG_ERROR("VXSSDKMessage::%s failed: out of memory", operation);
        return fallback;
    }
}

template <class Map>
std::vector<std::string> keys_of(const Map& map) {
    std::vector<std::string> keys;
    keys.reserve(map.size());
    for (const auto& entry : map) keys.push_back(entry.first);
    return keys;
}

template <class Map, class Value>
void store(Map& map, const std::string& key, const Value& value) {
    map[key] = value;
}

template <class Map, class Value>
bool load(const Map& map, const std::string& key, Value& value) {
    const auto found = map.find(key);
    if (found == map.end()) return false;
    value = found->second;
    return true;
}

}  // namespace

VXSSDKMessage::VXSSDKMessage() : _impl(new (std::nothrow) VXSSDKMessageImpl()) {}

VXSSDKMessage::VXSSDKMessage(const std::string& messageName) : _impl(new (std::nothrow) VXSSDKMessageImpl()) {
    without_throwing("VXSSDKMessage", 0, [&] {
        name = messageName;
        return 0;
    });
}

VXSSDKMessage::VXSSDKMessage(const VXSSDKMessage& other) : _impl(nullptr) {
    without_throwing("VXSSDKMessage", 0, [&] {
        name = other.name;
        _impl = other._impl ? new VXSSDKMessageImpl(*other._impl) : new VXSSDKMessageImpl();
        return 0;
    });
}

VXSSDKMessage& VXSSDKMessage::operator=(const VXSSDKMessage& other) {
    if (this == &other) return *this;
    // Build the copy first: on failure this bag keeps its old contents.
    without_throwing("operator=", 0, [&] {
        std::string newName = other.name;
        VXSSDKMessageImpl* copy = other._impl ? new VXSSDKMessageImpl(*other._impl) : new VXSSDKMessageImpl();
        delete _impl;
        _impl = copy;
        name.swap(newName);
        return 0;
    });
    return *this;
}

VXSSDKMessage::~VXSSDKMessage() { delete _impl; }

void VXSSDKMessage::set_parameter(const std::string& key, const std::string& value) {
    if (!_impl) return;
    without_throwing("set_parameter", 0, [&] {
        store(_impl->_string_parameter_map, key, value);
        return 0;
    });
}

void VXSSDKMessage::set_parameter(const std::string& key, int value) {
    if (!_impl) return;
    without_throwing("set_parameter", 0, [&] {
        store(_impl->_int_parameter_map, key, value);
        return 0;
    });
}

void VXSSDKMessage::set_parameter(const std::string& key, float value) {
    if (!_impl) return;
    without_throwing("set_parameter", 0, [&] {
        store(_impl->_float_parameter_map, key, value);
        return 0;
    });
}

void VXSSDKMessage::set_parameter(const std::string& key, const std::vector<std::string>& value) {
    if (!_impl) return;
    without_throwing("set_parameter", 0, [&] {
        store(_impl->_vector_parameter_map, key, value);
        return 0;
    });
}

bool VXSSDKMessage::set_parameter(const std::string& key, const char* data, int length) {
    if (!_impl) return false;
    if (length < 0 || (data == nullptr && length > 0)) {
        VXS_LOG_ERROR("set_parameter %s: invalid byte array (length %d)", key.c_str(), length);
        return false;
    }
    return without_throwing("set_parameter", false, [&] {
        Memory::vxs_shared_ptr<char> buffer = Memory::vxs_make_array<char>(static_cast<size_t>(length));
        if (length > 0) std::memcpy(buffer.getPTR(), data, static_cast<size_t>(length));
        store(_impl->_char_array_parameter_map, key, ByteArray(buffer, length));
        return true;
    });
}

bool VXSSDKMessage::get_parameter(const std::string& key, std::string& value) const {
    return _impl && without_throwing("get_parameter", false, [&] { return load(_impl->_string_parameter_map, key, value); });
}

bool VXSSDKMessage::get_parameter(const std::string& key, int& value) const {
    return _impl && load(_impl->_int_parameter_map, key, value);
}

bool VXSSDKMessage::get_parameter(const std::string& key, float& value) const {
    return _impl && load(_impl->_float_parameter_map, key, value);
}

bool VXSSDKMessage::get_parameter(const std::string& key, std::vector<std::string>& value) const {
    return _impl && without_throwing("get_parameter", false, [&] { return load(_impl->_vector_parameter_map, key, value); });
}

bool VXSSDKMessage::get_parameter(const std::string& key, const char*& data, int& length) const {
    if (!_impl) return false;
    const auto found = _impl->_char_array_parameter_map.find(key);
    if (found == _impl->_char_array_parameter_map.end()) return false;
    data = found->second.first.getPTR();
    length = found->second.second;
    return true;
}

std::vector<std::string> VXSSDKMessage::string_param_keys() const {
    if (!_impl) return {};
    return without_throwing("string_param_keys", std::vector<std::string>(), [&] { return keys_of(_impl->_string_parameter_map); });
}

std::vector<std::string> VXSSDKMessage::int_param_keys() const {
    if (!_impl) return {};
    return without_throwing("int_param_keys", std::vector<std::string>(), [&] { return keys_of(_impl->_int_parameter_map); });
}

std::vector<std::string> VXSSDKMessage::float_param_keys() const {
    if (!_impl) return {};
    return without_throwing("float_param_keys", std::vector<std::string>(), [&] { return keys_of(_impl->_float_parameter_map); });
}

std::vector<std::string> VXSSDKMessage::char_param_keys() const {
    if (!_impl) return {};
    return without_throwing("char_param_keys", std::vector<std::string>(), [&] { return keys_of(_impl->_char_array_parameter_map); });
}

std::vector<std::string> VXSSDKMessage::vector_param_keys() const {
    if (!_impl) return {};
    return without_throwing("vector_param_keys", std::vector<std::string>(), [&] { return keys_of(_impl->_vector_parameter_map); });
}

}  // namespace vxs
