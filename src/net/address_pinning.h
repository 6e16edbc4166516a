// Connecting to an address chosen in advance while keeping the real host name
// for TLS (SNI, certificate check) and the Host header.
//
// Threading: pure functions, reentrant.
#ifndef VXS_NET_ADDRESS_PINNING_H
#define VXS_NET_ADDRESS_PINNING_H

#include <string>

namespace vxs {
namespace Networking {

// The parts of an "scheme://host[:port]/rest" URL that pinning needs.
struct UrlAuthority {
    std::string scheme;  // lower case, without "://"
    std::string host;    // without the brackets of an IPv6 literal
    std::string port;    // digits, or "" when the URL names none
    std::string rest;    // path, query and fragment, from the first "/", "?" or "#"
};

// False for text that is not an absolute URL with a host (or carries user
// information, which pinning does not handle).
bool parse_url_authority(const std::string& url, UrlAuthority& out);

// The port a URL connects to: its own, else 443 for https and 80 for http.
std::string effective_port(const UrlAuthority& url);

// How to reach `origin_url`'s host at the numeric address in `resolved_url`.
struct AddressPin {
    std::string connect_url;    // resolved_url with the real host (and port) put back
    std::string resolve_entry;  // "host:port:address" for CURLOPT_RESOLVE, IPv6 in brackets
};

// True and `pin` filled when `resolved_url`'s host is a numeric address that
// stands for a different host in `origin_url`. False when no pinning applies
// (either URL unparsable, hosts equal, or the resolved host not an address);
// the caller then connects to `resolved_url` as it stands.
bool make_address_pin(const std::string& origin_url, const std::string& resolved_url, AddressPin& pin);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_ADDRESS_PINNING_H
