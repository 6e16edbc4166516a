#include "net/token_request_body.h"

#include <climits>

#include <curl/curl.h>

namespace vxs {
namespace Networking {

namespace {

const char kBodyStart[] = "grant_type=client_credentials&client_id=";
const char kSecretField[] = "&client_secret=";

// RFC 3986 percent-encoding of a form value ('&', '=', '+' and the like must
// not end or split the field).
bool url_encode(const std::string& value, std::string* encoded) {
    if (value.size() > static_cast<size_t>(INT_MAX)) return false;
    char* escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
    if (!escaped) return false;
    *encoded = escaped;
    curl_free(escaped);
    return true;
}

}  // namespace

bool build_token_request_body(const std::string& apiKey, const std::string& secretKey, std::string* body) {
    std::string api;
    std::string secret;
    if (!url_encode(apiKey, &api) || !url_encode(secretKey, &secret)) return false;
    *body = kBodyStart + api + kSecretField + secret;
    return true;
}

std::string token_request_body_for_log(const std::string& apiKey) {
    return kBodyStart + mask_credential(apiKey, 4) + kSecretField + "***";
}

std::string mask_credential(const std::string& value, size_t keep) {
    if (value.empty()) return "(none)";
    if (value.size() < keep * 3) return "***";
    return value.substr(0, keep) + "***";
}

}  // namespace Networking
}  // namespace vxs
