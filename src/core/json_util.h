// JSON parsing and lookups over cJSON.
//
// Threading: reentrant; a tree must not be changed by one thread while
// another reads it. The caller owns a parsed tree and frees it with
// cJSON_Delete; lookups return nodes that belong to their tree.
#ifndef VXS_CORE_JSON_UTIL_H
#define VXS_CORE_JSON_UTIL_H

#include <cjson/cJSON.h>

#include <cstddef>

namespace vxs {

// The parsed tree of a NUL-terminated text; null for a null, empty or
// malformed text.
cJSON* read_json(const char* text);
// The parsed tree of exactly `length` bytes (no terminator needed: use it for
// data that came off the network); null for null, empty or malformed input.
cJSON* read_json(const char* text, size_t length);

// The member `key` of an object (case-sensitive); null for a null tree or key,
// or a missing member.
cJSON* get_json_item(const cJSON* tree, const char* key);
// The element `index` of an array (or the index-th member of an object); null
// for a null tree or an index out of range.
cJSON* get_json_array_item(const cJSON* tree, int index);

}  // namespace vxs

#endif  // VXS_CORE_JSON_UTIL_H
