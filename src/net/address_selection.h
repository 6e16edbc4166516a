// Picks the address to connect to from a name lookup's answer: IPv6 is
// preferred, but only when this host has a route to it; otherwise IPv4 is
// used. The other family's address is kept as a fallback for a caller whose
// connection fails.
//
// Threading: pure functions, reentrant (the route probe opens and closes one
// socket of its own).
#ifndef VXS_NET_ADDRESS_SELECTION_H
#define VXS_NET_ADDRESS_SELECTION_H

#include <netdb.h>
#include <netinet/in.h>

#include <string>

namespace vxs {
namespace Networking {

// Whether the routing table has a way to `address`; no packet is sent.
typedef bool (*ipv6_route_probe)(const sockaddr_in6& address);
bool has_route_to_ipv6(const sockaddr_in6& address);

struct SelectedAddresses {
    // Host parts for a URL: "[v6]" or "v4"; empty when the list held neither.
    std::string preferred;
    std::string fallback;
};

// The first AF_INET and the first AF_INET6 entry of `list` decide; other
// families are skipped. IPv6 wins when `probe` finds a route to it (or when no
// IPv4 address exists).
SelectedAddresses select_addresses(const addrinfo* list, ipv6_route_probe probe);

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_ADDRESS_SELECTION_H
