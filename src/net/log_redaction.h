// Makes text from the network safe to write to the log: tokens, keys and
// secrets are masked and the text is cut to a bounded length.
//
// Threading: pure function, reentrant.
#ifndef VXS_NET_LOG_REDACTION_H
#define VXS_NET_LOG_REDACTION_H

#include <cstddef>
#include <string>

namespace vxs {
namespace Networking {

// The longest text redact_for_log returns, before its truncation marker.
constexpr size_t kMaxLoggedBodyBytes = 512;

// A loggable form of `length` bytes of `text`: the values of fields whose name
// mentions a token, key, secret or password (JSON "name":"value" and form
// name=value) and every run of 17 or more token-like characters are replaced
// by "***" (runs of 12 or more keep their first 4 characters before it);
// control bytes become '.'; the result is cut after kMaxLoggedBodyBytes with
// "...(N bytes)".
std::string redact_for_log(const char* text, size_t length);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_LOG_REDACTION_H
