// The internal message: a name, a shared parameter map and an optional byte
// payload. Always handled through a vxs_shared_ptr and never copied on the way.
//
// Threading: a message is built by its sender and then only read by the
// module that handles it.
#ifndef VXS_CORE_MESSAGE_H
#define VXS_CORE_MESSAGE_H

#include <cstdint>
#include <string>

#include "core/param.h"
#include "core/shared_ptr.h"

namespace vxs {

class Message;
typedef Memory::vxs_shared_ptr<Message> MessagePtr;

class Message {
public:
    // A message whose map is the caller's map itself (shared, not copied);
    // an empty map pointer gets a fresh empty map.
    static MessagePtr make(const std::string& name, const ParamMapPtr& params);
    static MessagePtr make(const std::string& name);

    std::string name;
    ParamMapPtr params;
    Memory::vxs_shared_ptr<char> data;  // optional payload (audio bytes)
    uint64_t offset = 0;
    uint32_t length = 0;
};

}  // namespace vxs

#endif  // VXS_CORE_MESSAGE_H
