// Moving a request header aside before cpp-httplib acts on it, so that a test
// server sees the body bytes exactly as the client sent them.
#ifndef VXS_TESTS_SUPPORT_HEADER_STASH_H
#define VXS_TESTS_SUPPORT_HEADER_STASH_H

#include <strings.h>

#include <string>

#include <httplib.h>

namespace vxs_test {

// Renames header `name` to `stashed_name` when its value starts with
// `value_prefix` (case-insensitive; "" matches any value). Meant for a
// pre-routing handler: the request is the server's own, non-const object, and
// only its header table is touched, before the body is read.
inline void stash_header(const httplib::Request& request, const char* name, const char* value_prefix,
                         const char* stashed_name) {
    auto& headers = const_cast<httplib::Request&>(request).headers;
    auto found = headers.find(name);
    if (found == headers.end()) return;
    const std::string value = found->second;
    const size_t prefix_length = std::char_traits<char>::length(value_prefix);
    if (strncasecmp(value.c_str(), value_prefix, prefix_length) != 0) return;
    headers.erase(found);
    headers.emplace(stashed_name, value);
}

}  // namespace vxs_test

#endif  // VXS_TESTS_SUPPORT_HEADER_STASH_H
