// The storage behind VXSSDKMessage and the two conversions between the public
// bag and the internal Message.
//
// Threading: no locking, like the bag itself. A conversion reads its source
// and builds a new object; the caller must not change the source meanwhile.
// Neither conversion throws: a failure (memory exhaustion, a converter that
// throws) gives an empty result and an error line.
#ifndef VXS_INTERFACE_VXS_SDK_MESSAGE_IMPL_H
#define VXS_INTERFACE_VXS_SDK_MESSAGE_IMPL_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/message.h"
#include "core/param.h"
#include "vxs/vxs_sdk_message.h"

namespace vxs {

class VXSSDKMessageImpl {
public:
    typedef std::map<std::string, std::string> StringMap;
    typedef std::map<std::string, int> IntMap;
    typedef std::map<std::string, float> FloatMap;
    typedef std::map<std::string, ByteArray> CharArrayMap;
    typedef std::map<std::string, std::vector<std::string>> VectorMap;

    // A converter gets the entry being converted and the target; it returns
    // true when it has converted the entry itself, false for the default
    // conversion. Any converter may be empty.
    typedef std::function<bool(StringMap::const_iterator, ParamMap&)> StringValueConverter;
    typedef std::function<bool(IntMap::const_iterator, ParamMap&)> IntValueConverter;
    typedef std::function<bool(FloatMap::const_iterator, ParamMap&)> FloatValueConverter;
    typedef std::function<bool(CharArrayMap::const_iterator, ParamMap&)> BarrayValueConverter;
    typedef std::function<bool(ParamMap::const_iterator, VXSSDKMessage&)> InternalValueConverter;

    // The internal message for a posted bag: every entry boxed under its own
    // key as the type its suffix names (entries that cannot be converted to
    // that type are skipped with a warning), the "vxs.param.data_chunk" bytes
    // as the payload, string vectors left to the converters. Maps are walked
    // in the order string, integer, float, byte array, so a key set in several
    // maps ends with the last convertible value. Empty on failure.
    static MessagePtr toInternal(const VXSSDKMessage& message,
                                 const StringValueConverter& stringConverter,
                                 const IntValueConverter& intConverter,
                                 const FloatValueConverter& floatConverter,
                                 const BarrayValueConverter& barrayConverter);

    // The bag handed to the host for an internal message: entries chosen by
    // key suffix (".string", ".int", ".int16_t", ".bool" as 0/1, ".byte_array"
    // copied, ".int32_t", ".vector<string>"); any other suffix, ".float"
    // included, is dropped with the warning "unknown key type: %s". The payload
    // always arrives under "vxs.param.data_chunk" (length 0 when there is none).
    static VXSSDKMessage fromInternal(const Message* message, const InternalValueConverter& converter);

    // The storage of a bag; null only if it could not be allocated.
    static const VXSSDKMessageImpl* of(const VXSSDKMessage& message) { return message._impl; }

    StringMap _string_parameter_map;
    IntMap _int_parameter_map;
    FloatMap _float_parameter_map;
    CharArrayMap _char_array_parameter_map;
    VectorMap _vector_parameter_map;
};

}  // namespace vxs

#endif  // VXS_INTERFACE_VXS_SDK_MESSAGE_IMPL_H
