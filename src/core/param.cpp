#include "core/param.h"

#include "core/log.h"

namespace vxs {

paramBase::paramBase() : instance(this) {}
paramBase::paramBase(int8_t value) : instance(new param<int8_t>(value)) {}
paramBase::paramBase(int16_t value) : instance(new param<int16_t>(value)) {}
paramBase::paramBase(int32_t value) : instance(new param<int32_t>(value)) {}
paramBase::paramBase(int64_t value) : instance(new param<int64_t>(value)) {}
paramBase::paramBase(bool value) : instance(new param<bool>(value)) {}
paramBase::paramBase(const std::string& value) : instance(new param<std::string>(value)) {}
paramBase::paramBase(const char* value)
    : instance(new param<std::string>(std::string(value ? value : ""))) {}
paramBase::paramBase(float value) : instance(new param<float>(value)) {}

paramBase::paramBase(const paramBase& other) : instance(this) {
    paramBase* copy = other.copyInstance();
    if (copy) instance = copy;
}

paramBase& paramBase::operator=(const paramBase& other) {
    if (&other == this) return *this;
    paramBase* copy = other.copyInstance();  // before dropping ours: other may share nothing with us
    clearOldInstance();
    instance = copy ? copy : this;
    return *this;
}

paramBase::~paramBase() { clearOldInstance(); }

paramBase* paramBase::copyInstance() const {
    return instance == this ? nullptr : instance->copyInstance();
}

paramBase& paramBase::operator=(float value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(int8_t value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(int16_t value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(int32_t value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(int64_t value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(bool value) { replaceWith(value); return *this; }
paramBase& paramBase::operator=(std::string value) { replaceWith(value); return *this; }

void paramBase::clearOldInstance() {
    if (instance != this) delete instance;
    instance = this;
}

bool paramBase::numeric(double* out) const {
    return instance != this && instance->numeric(out);
}

int64_t paramBase::valueInt64() const {
    double number = 0;
    if (numeric(&number)) return static_cast<int64_t>(number);
    if (hasValue()) VXS_LOG_WARN("parameter read as a number holds another type");
    return 0;
}

float paramBase::valueFloat() const {
    double number = 0;
    if (numeric(&number)) return static_cast<float>(number);
    if (hasValue()) VXS_LOG_WARN("parameter read as a float holds another type");
    return 0.0f;
}

bool paramBase::valueBool() const {
    double number = 0;
    if (numeric(&number)) return number != 0;
    if (hasValue()) VXS_LOG_WARN("parameter read as a bool holds another type");
    return false;
}

std::string paramBase::valueString() const {
    if (const std::string* text = get<std::string>()) return *text;
    if (hasValue()) VXS_LOG_WARN("parameter read as a string holds another type");
    return std::string();
}

ParamMapPtr newParamMap() { return ParamMapPtr(new ParamMap()); }

const paramBase* findParam(const ParamMap& params, const char* key) {
    auto found = params.find(key);
    if (found == params.end() || !found->second.hasValue()) return nullptr;
    return &found->second;
}

}  // namespace vxs
