#include "net/tls_settings.h"

#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

namespace {

// Function-local so that the first use, not static initialisation order,
// creates them.
AppMutex& settings_mutex() {
    static AppMutex mutex(false);
    return mutex;
}

std::string& ca_bundle_path() {
    static std::string path;
    return path;
}

}  // namespace

void set_ca_bundle_path(const std::string& path) {
    AppLock lock(&settings_mutex());
    ca_bundle_path() = path;
}

std::string get_ca_bundle_path() {
    AppLock lock(&settings_mutex());
    return ca_bundle_path();
}

CURLcode configure_tls_verification(CURL* handle) {
    CURLcode code = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    if (code == CURLE_OK) code = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string bundle = get_ca_bundle_path();
    if (code == CURLE_OK && !bundle.empty()) code = curl_easy_setopt(handle, CURLOPT_CAINFO, bundle.c_str());
    return code;
}

}  // namespace Networking
}  // namespace vxs
