// The value type that a parameter key names by its suffix (".int", ".string",
// ".vector<string>", ...), for code that converts between map representations.
//
// Threading: pure functions; call from any thread.
#ifndef VXS_INTERFACE_KEY_SUFFIX_H
#define VXS_INTERFACE_KEY_SUFFIX_H

#include <string>

namespace vxs {

enum class KeyType {
    String,            // ".string"
    Int,               // ".int"
    Int16,             // ".int16_t"
    Int32,             // ".int32_t"
    Bool,              // ".bool"
    Float,             // ".float"
    UnsignedLongLong,  // ".unsigned_long_long"
    ByteArray,         // ".byte_array"
    VectorString,      // ".vector<string>"
    OtherKnown,        // a library type no public map can hold (".vector<int>", ".map<string,string>", shared pointers)
    Unknown            // free text, no known type suffix
};

// The type named by the end of `key`.
KeyType key_type_of(const std::string& key);

}  // namespace vxs

#endif  // VXS_INTERFACE_KEY_SUFFIX_H
