// Conversions between the public bag and the internal Message.
#include <cstdint>

#include "core/log.h"
#include "interface/key_suffix.h"
#include "interface/typed_boxing.h"
#include "interface/vxs_sdk_message_impl.h"
#include "vxs/vxs_sdk_constants.h"

namespace vxs {
namespace {

// Walks one public map: the caller's converter first, else the default boxing
// by key suffix, which refuses values that do not convert to the key's type.
template <class Map, class Converter, class Boxer>
void convert_entries(const Map& entries, const Converter& converter, Boxer boxByKey, ParamMap& target) {
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (converter && converter(entry, target)) continue;
        paramBase boxed;
        if (boxByKey(entry->first, entry->second, boxed)) {
            target[entry->first] = boxed;
        } else {
            VXS_LOG_WARN("skipping parameter %s: its value does not convert to the key's type", entry->first.c_str());
        }
    }
}

// The integer an internal box holds, for a key that names an integer type.
bool integer_of(const paramBase& value, int64_t* out) {
    double number = 0;
    if (!numeric_value(value, &number)) return false;
    *out = static_cast<int64_t>(number);
    return true;
}

void copy_integer(const std::string& key, const paramBase& value, KeyType type, VXSSDKMessage& target) {
    int64_t number = 0;
    if (!integer_of(value, &number)) {
        VXS_LOG_WARN("skipping parameter %s: it holds no number", key.c_str());
        return;
    }
    if (type == KeyType::Int16) {
        target.set_parameter(key, static_cast<int>(static_cast<int16_t>(number)));
    } else if (type == KeyType::Bool) {
        target.set_parameter(key, number != 0 ? 1 : 0);
    } else {
        target.set_parameter(key, static_cast<int>(static_cast<int32_t>(number)));
    }
}

void copy_entry(const std::string& key, const paramBase& value, VXSSDKMessage& target) {
    const KeyType type = key_type_of(key);
    switch (type) {
        case KeyType::String:
            if (const std::string* text = value.get<std::string>()) {
                target.set_parameter(key, *text);
            } else {
                VXS_LOG_WARN("skipping parameter %s: it holds no string", key.c_str());
            }
            return;
        case KeyType::Int:
        case KeyType::Int16:
        case KeyType::Int32:
        case KeyType::Bool:
            copy_integer(key, value, type, target);
            return;
        case KeyType::ByteArray:
            if (const ByteArray* bytes = value.get<ByteArray>()) {
                const bool usable = bytes->second >= 0 && (bytes->first.getPTR() != nullptr || bytes->second == 0);
                target.set_parameter(key, usable ? bytes->first.getPTR() : nullptr, usable ? bytes->second : 0);
            } else {
                VXS_LOG_WARN("skipping parameter %s: it holds no byte array", key.c_str());
            }
            return;
        case KeyType::VectorString:
            if (const auto* list = value.get<std::vector<std::string>>()) {
                target.set_parameter(key, *list);
            } else {
                VXS_LOG_WARN("skipping parameter %s: it holds no string vector", key.c_str());
            }
            return;
        default:
            VXS_LOG_WARN("unknown key type: %s", key.c_str());
            return;
    }
}

void copy_payload(const Message& message, VXSSDKMessage& target) {
    const char* bytes = message.data.getPTR();
    int length = static_cast<int>(message.length);
    if (length < 0 || (bytes == nullptr && length > 0)) {
        VXS_LOG_WARN("message %s: payload length %u without usable bytes", message.name.c_str(), message.length);
        length = 0;
    }
    target.set_parameter(DATA_CHUNK, length > 0 ? bytes : "", length);
}

}  // namespace

MessagePtr VXSSDKMessageImpl::toInternal(const VXSSDKMessage& message,
                                         const StringValueConverter& stringConverter,
                                         const IntValueConverter& intConverter,
                                         const FloatValueConverter& floatConverter,
                                         const BarrayValueConverter& barrayConverter) {
    const VXSSDKMessageImpl* impl = of(message);
    if (impl == nullptr) return MessagePtr();
    try {
        ParamMapPtr params = newParamMap();
        ParamMap& target = *params;
        convert_entries(impl->_string_parameter_map, stringConverter, box_string_for_key, target);
        convert_entries(impl->_int_parameter_map, intConverter, box_int_for_key, target);
        convert_entries(impl->_float_parameter_map, floatConverter, box_float_for_key, target);

        // The payload key never reaches the converter: its bytes become the
        // message data (shared, not copied).
        ByteArray payload(Memory::vxs_shared_ptr<char>(), 0);
        const BarrayValueConverter payloadOrBytes = [&](CharArrayMap::const_iterator entry, ParamMap& map) {
            if (entry->first == DATA_CHUNK) {
                payload = entry->second;
                return true;
            }
            return barrayConverter && barrayConverter(entry, map);
        };
        convert_entries(impl->_char_array_parameter_map, payloadOrBytes, box_bytes_for_key, target);

        MessagePtr internal = Message::make(message.name, params);
        internal->data = payload.first;
        internal->length = static_cast<uint32_t>(payload.second > 0 ? payload.second : 0);
        return internal;
    } catch (...) {
        VXS_LOG_ERROR("converting message %s failed", message.name.c_str());
        return MessagePtr();
    }
}

VXSSDKMessage VXSSDKMessageImpl::fromInternal(const Message* message, const InternalValueConverter& converter) {
    if (message == nullptr) {
        VXS_LOG_ERROR("no message to convert");
        return VXSSDKMessage();
    }
    try {
        VXSSDKMessage result(message->name);
        if (const ParamMap* params = message->params.getPTR()) {
            for (auto entry = params->begin(); entry != params->end(); ++entry) {
                if (converter && converter(entry, result)) continue;
                copy_entry(entry->first, entry->second, result);
            }
        }
        copy_payload(*message, result);
        return result;
    } catch (...) {
        VXS_LOG_ERROR("converting message %s failed", message->name.c_str());
        return VXSSDKMessage(message->name);
    }
}

}  // namespace vxs
