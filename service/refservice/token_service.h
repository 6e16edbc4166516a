// The token endpoint of the client-credentials grant: a form body
// "grant_type=client_credentials&client_id=..&client_secret=.." gets
// {"access_token", "expires_in"} for the configured client, or
// {"error", "error_description"}. Without a configured client every
// non-empty pair of credentials is accepted (a demonstration set-up).
//
// Threading: safe from any thread.
#ifndef VXS_SERVICE_REFSERVICE_TOKEN_SERVICE_H
#define VXS_SERVICE_REFSERVICE_TOKEN_SERVICE_H

#include <mutex>
#include <set>
#include <string>

namespace vxs {
namespace refservice {

constexpr const char* kTokenPath = "/oauth/2.0/token";
constexpr int kTokenLifetimeSeconds = 30 * 24 * 3600;

struct TokenAnswer {
    int status = 200;
    std::string body;
    std::string client_id;
};

class TokenService {
public:
    TokenService(std::string client_id, std::string client_secret);
    TokenAnswer answer(const std::string& form_body);
    bool is_valid(const std::string& token) const;

private:
    std::string issue();

    const std::string m_client_id;
    const std::string m_client_secret;
    mutable std::mutex m_mutex;
    std::set<std::string> m_issued;
};

// The value of `name` in an application/x-www-form-urlencoded body
// (percent-decoded); false when absent.
bool form_value(const std::string& body, const std::string& name, std::string* value);

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_TOKEN_SERVICE_H
