// Boxed, dynamically typed parameter values and the maps that carry them.
//
// Every key ends in "." and the type name of its value (".int", ".string",
// ".bool", ".float", ".byte_array", ".vector<string>", ...). The readers check
// the box's type: numbers and booleans convert into each other, anything else
// read as the wrong type gives the type's empty value and a warning.
//
// Threading: none; a map belongs to one message and is read by the module
// that handles it.
#ifndef VXS_CORE_PARAM_H
#define VXS_CORE_PARAM_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/shared_ptr.h"

namespace vxs {

template <class T>
class param;

class paramBase {
public:
    // A handle that holds no value.
    paramBase();
    paramBase(int8_t value);                 // NOLINT: implicit boxing by design
    paramBase(int16_t value);                // NOLINT
    paramBase(int32_t value);                // NOLINT
    paramBase(int64_t value);                // NOLINT
    paramBase(bool value);                   // NOLINT
    paramBase(const std::string& value);     // NOLINT
    paramBase(const char* value);            // NOLINT: a string, never a bool
    paramBase(float value);                  // NOLINT
    paramBase(const paramBase& other);
    paramBase& operator=(const paramBase& other);

    // Boxes any value type (vectors, maps, byte arrays, shared pointers).
    template <class T>
    static paramBase box(const T& value);

    // A new heap box holding a copy of this handle's value (null when none).
    virtual paramBase* copyInstance() const;
    virtual paramBase& operator=(float value);
    virtual paramBase& operator=(int8_t value);
    virtual paramBase& operator=(int16_t value);
    virtual paramBase& operator=(int32_t value);
    virtual paramBase& operator=(int64_t value);
    virtual paramBase& operator=(bool value);
    virtual paramBase& operator=(std::string value);
    paramBase& operator=(const char* value) { return *this = std::string(value ? value : ""); }
    virtual ~paramBase();

    // Drops the current box (when it is a separate heap box).
    void clearOldInstance();

    bool hasValue() const { return instance != this || isBox(); }
    // The value as T when the box holds exactly a T, else null.
    template <class T>
    const T* get() const;
    template <class T>
    T* get();
    // True when the box holds exactly a T.
    template <class T>
    bool holds() const {
        return get<T>() != nullptr;
    }

    int valueInt() const { return static_cast<int>(valueInt64()); }
    int8_t valueInt8() const { return static_cast<int8_t>(valueInt64()); }
    int16_t valueInt16() const { return static_cast<int16_t>(valueInt64()); }
    int32_t valueInt32() const { return static_cast<int32_t>(valueInt64()); }
    int64_t valueInt64() const;
    float valueFloat() const;
    bool valueBool() const;
    std::string valueString() const;

protected:
    // Boxes are param<T>; a plain handle only points at one.
    virtual bool isBox() const { return false; }
    // A number held by the box, for the converting readers.
    virtual bool numeric(double* out) const;

    template <class T>
    void replaceWith(const T& value);

    paramBase* instance;

    template <class T>
    friend class param;
};

template <class T>
class param : public paramBase {
public:
    explicit param(const T& v) : value(v) {}
    param(const param& other) : paramBase(), value(other.value) {}
    param& operator=(const param& other) {
        value = other.value;
        return *this;
    }

    paramBase* copyInstance() const override { return new param<T>(value); }

    T value;

protected:
    bool isBox() const override { return true; }
    bool numeric(double* out) const override;
};

template <class T>
bool param<T>::numeric(double* out) const {
    if constexpr (std::is_arithmetic_v<T>) {
        *out = static_cast<double>(value);
        return true;
    } else {
        (void)out;
        return false;
    }
}

template <class T>
paramBase paramBase::box(const T& value) {
    paramBase handle;
    handle.instance = new param<T>(value);
    return handle;
}

template <class T>
const T* paramBase::get() const {
    const auto* typed = dynamic_cast<const param<T>*>(instance);
    return typed ? &typed->value : nullptr;
}

template <class T>
T* paramBase::get() {
    auto* typed = dynamic_cast<param<T>*>(instance);
    return typed ? &typed->value : nullptr;
}

template <class T>
void paramBase::replaceWith(const T& value) {
    if (auto* same = get<T>()) {
        *same = value;
        return;
    }
    clearOldInstance();
    instance = new param<T>(value);
}

// A byte buffer and its length in bytes, as carried under ".byte_array" keys.
typedef std::pair<Memory::vxs_shared_ptr<char>, int> ByteArray;

// Parameter map: key (with its type suffix) to boxed value.
typedef std::map<std::string, paramBase> ParamMap;
typedef Memory::vxs_shared_ptr<ParamMap> ParamMapPtr;

// A new, empty, shared parameter map.
ParamMapPtr newParamMap();

// The value stored under `key`, or null when the key is absent or holds an
// empty box.
const paramBase* findParam(const ParamMap& params, const char* key);

}  // namespace vxs

#endif  // VXS_CORE_PARAM_H
