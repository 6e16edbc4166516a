// The URL of the token service that access tokens are fetched from, one
// setting for the whole process. It starts at the build's default
// (VXS_DEFAULT_TOKEN_URL) and may be changed by the configuration.
//
// Threading: both calls may come from any thread; the URL is guarded by one
// process-wide mutex. A fetch reads it once, when it starts.
#ifndef VXS_NET_TOKEN_ENDPOINT_H
#define VXS_NET_TOKEN_ENDPOINT_H

#include <string>

namespace vxs {
namespace Networking {

// An empty URL restores the build's default.
void set_access_token_url(const std::string& url);
std::string get_access_token_url();
// The URL the build was configured with.
const char* default_access_token_url();

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_TOKEN_ENDPOINT_H
