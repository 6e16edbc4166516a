#include "net/token_endpoint.h"

#include "threads/app_mutex.h"

#ifndef VXS_DEFAULT_TOKEN_URL
#define VXS_DEFAULT_TOKEN_URL "https://127.0.0.1:8443/oauth/2.0/token"
#endif

namespace vxs {
namespace Networking {

namespace {

// Never destroyed, so that fetches still running at process exit can read it.
Threads::Synchronization::AppMutex& url_mutex() {
    static auto* mutex = new Threads::Synchronization::AppMutex(false);
    return *mutex;
}

std::string& configured_url() {
    static auto* url = new std::string(VXS_DEFAULT_TOKEN_URL);
    return *url;
}

}  // namespace

void set_access_token_url(const std::string& url) {
    Threads::Synchronization::AppLock lock(&url_mutex());
    configured_url() = url.empty() ? std::string(VXS_DEFAULT_TOKEN_URL) : url;
}

std::string get_access_token_url() {
    Threads::Synchronization::AppLock lock(&url_mutex());
    return configured_url();
}

const char* default_access_token_url() { return VXS_DEFAULT_TOKEN_URL; }

}  // namespace Networking
}  // namespace vxs
