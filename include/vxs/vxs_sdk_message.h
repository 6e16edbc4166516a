// VXSSDKMessage: the parameter bag that crosses the library's public boundary.
//
// The host fills one with a command name and typed parameters and posts it;
// the library hands one back to the host's listener for every event. A bag
// holds five independent maps (string, integer, float, byte array, string
// vector); the same key may live in several of them at once.
//
// Threading: no locking. One message is used by one thread at a time; copies
// are independent, except that byte buffers are shared between copies (they
// are never written after being stored). No call throws.
#ifndef VXS_VXS_SDK_MESSAGE_H
#define VXS_VXS_SDK_MESSAGE_H

#include <string>
#include <vector>

#include "vxs/export.h"

namespace vxs {

class VXSSDKMessageImpl;

class VXS_EXPORT VXSSDKMessage {
public:
    // An empty bag with an empty name.
    VXSSDKMessage();
    // An empty bag named `messageName` (a command such as "asr.start").
    explicit VXSSDKMessage(const std::string& messageName);
    // Copies the name and every map; byte buffers are shared, not duplicated.
    VXSSDKMessage(const VXSSDKMessage& other);
    virtual VXSSDKMessage& operator=(const VXSSDKMessage& other);
    virtual ~VXSSDKMessage();

    // Insert or overwrite `key` in the map of the value's type.
    void set_parameter(const std::string& key, const std::string& value);
    void set_parameter(const std::string& key, int value);
    void set_parameter(const std::string& key, float value);
    void set_parameter(const std::string& key, const std::vector<std::string>& value);
    // Stores a private copy of `length` bytes from `data` under `key`; the caller
    // may free `data` afterwards. A negative length, or a null `data` with a
    // positive length, is rejected: false, and the bag is unchanged.
    bool set_parameter(const std::string& key, const char* data, int length);

    // True and the value copied out when `key` is in the map of that type;
    // false and the output untouched otherwise.
    bool get_parameter(const std::string& key, std::string& value) const;
    bool get_parameter(const std::string& key, int& value) const;
    bool get_parameter(const std::string& key, float& value) const;
    bool get_parameter(const std::string& key, std::vector<std::string>& value) const;
    // True with `data` pointing at the stored bytes (no copy; valid while this
    // bag or a copy of it lives) and their `length`.
    bool get_parameter(const std::string& key, const char*& data, int& length) const;

    // The keys of one map, in byte-wise order.
    std::vector<std::string> string_param_keys() const;
    std::vector<std::string> int_param_keys() const;
    std::vector<std::string> float_param_keys() const;
    std::vector<std::string> char_param_keys() const;
    std::vector<std::string> vector_param_keys() const;

    // Command name (host to library) or callback name (library to host).
    std::string name;

private:
    friend class VXSSDKMessageImpl;
    VXSSDKMessageImpl* _impl;  // owned; null only if it could not be allocated
};

}  // namespace vxs

#endif  // VXS_VXS_SDK_MESSAGE_H
