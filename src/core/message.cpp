#include "core/message.h"

namespace vxs {

MessagePtr Message::make(const std::string& name, const ParamMapPtr& params) {
    MessagePtr message(new Message());
    message->name = name;
    message->params = params.getPTR() ? params : newParamMap();
    return message;
}

MessagePtr Message::make(const std::string& name) { return make(name, ParamMapPtr()); }

}  // namespace vxs
