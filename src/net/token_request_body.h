// The form body of a client-credentials token request, and the forms of keys
// and tokens that may appear in the log.
//
// Threading: pure functions, reentrant.
#ifndef VXS_NET_TOKEN_REQUEST_BODY_H
#define VXS_NET_TOKEN_REQUEST_BODY_H

#include <string>

namespace vxs {
namespace Networking {

// "grant_type=client_credentials&client_id=" + API key + "&client_secret=" +
// secret key, both keys URL-encoded. False when encoding fails (no memory).
bool build_token_request_body(const std::string& apiKey, const std::string& secretKey, std::string* body);

// The same body with the API key masked and the secret left out.
std::string token_request_body_for_log(const std::string& apiKey);

// A loggable stand-in for a credential: "(none)" when empty; otherwise its
// first `keep` characters (none for values shorter than three times that)
// followed by "***".
std::string mask_credential(const std::string& value, size_t keep);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_TOKEN_REQUEST_BODY_H
