#include "net/address_pinning.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace vxs {
namespace Networking {

namespace {

bool all_digits(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool is_ipv4_literal(const std::string& host) {
    in_addr v4;
    return inet_pton(AF_INET, host.c_str(), &v4) == 1;
}

bool is_ipv6_literal(const std::string& host) {
    in6_addr v6;
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

// Splits "host[:port]" or "[v6]:port" into its parts.
bool split_host_port(const std::string& authority, std::string& host, std::string& port) {
    size_t port_colon = std::string::npos;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return false;
            port_colon = close + 1;
        }
    } else {
        port_colon = authority.find(':');
        host = authority.substr(0, port_colon);
    }
    port = port_colon == std::string::npos ? std::string() : authority.substr(port_colon + 1);
    return !host.empty() && all_digits(port) && port.size() <= 5 && (port.empty() || std::stoi(port) <= 65535);
}

std::string bracketed_if_ipv6(const std::string& host) {
    return is_ipv6_literal(host) ? "[" + host + "]" : host;
}

}  // namespace

bool parse_url_authority(const std::string& url, UrlAuthority& out) {
    const size_t scheme_end = url.find("://");
    if (scheme_end == std::string::npos || scheme_end == 0) return false;
    const size_t authority_begin = scheme_end + 3;
    size_t authority_end = url.find_first_of("/?#", authority_begin);
    if (authority_end == std::string::npos) authority_end = url.size();
    const std::string authority = url.substr(authority_begin, authority_end - authority_begin);
    if (authority.find('@') != std::string::npos) return false;
    UrlAuthority parsed;
    if (!split_host_port(authority, parsed.host, parsed.port)) return false;
    parsed.scheme = url.substr(0, scheme_end);
    std::transform(parsed.scheme.begin(), parsed.scheme.end(), parsed.scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    parsed.rest = url.substr(authority_end);
    out = parsed;
    return true;
}

std::string effective_port(const UrlAuthority& url) {
    if (!url.port.empty()) return url.port;
    return url.scheme == "https" ? "443" : "80";
}

bool make_address_pin(const std::string& origin_url, const std::string& resolved_url, AddressPin& pin) {
    UrlAuthority origin;
    UrlAuthority resolved;
    if (!parse_url_authority(origin_url, origin) || !parse_url_authority(resolved_url, resolved)) return false;
    if (origin.host == resolved.host) return false;
    if (!is_ipv4_literal(resolved.host) && !is_ipv6_literal(resolved.host)) return false;

    // Resolving a name never changes the port: the origin's own port wins, the
    // resolved URL's is the fallback.
    UrlAuthority target = resolved;
    target.host = origin.host;
    if (!origin.port.empty()) target.port = origin.port;
    const std::string port = effective_port(target);

    pin.connect_url = resolved.scheme + "://" + bracketed_if_ipv6(target.host) +
                      (target.port.empty() ? "" : ":" + target.port) + resolved.rest;
    pin.resolve_entry = origin.host + ":" + port + ":" + bracketed_if_ipv6(resolved.host);
    return true;
}

}  // namespace Networking
}  // namespace vxs
