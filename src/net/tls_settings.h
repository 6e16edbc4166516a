// Process-wide TLS settings applied to every HTTPS transfer of the library.
//
// Threading: set_ca_bundle_path and the readers may be called from any thread;
// the path is guarded by one process-wide mutex. A transfer reads the path
// once, when its handle is configured.
#ifndef VXS_NET_TLS_SETTINGS_H
#define VXS_NET_TLS_SETTINGS_H

#include <string>

#include <curl/curl.h>

namespace vxs {
namespace Networking {

// Names a PEM file of CA certificates that replaces the system's trust store
// for every later transfer, for hosts that talk to a private service; an empty
// path restores the system store. The file is read by each transfer, so it must
// stay in place. (Wired to the global parameter "STR_PARAM_TYPE_CA_BUNDLE_PATH".)
void set_ca_bundle_path(const std::string& path);
std::string get_ca_bundle_path();

// Turns certificate and host-name checks on for `handle` and points it at the
// configured CA bundle, if any. Returns libcurl's status of the first option
// that failed, else CURLE_OK.
CURLcode configure_tls_verification(CURL* handle);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_TLS_SETTINGS_H
