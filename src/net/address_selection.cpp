#include "net/address_selection.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vxs {
namespace Networking {

namespace {

std::string ipv4_text(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {0};
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return std::string();
    return text;
}

std::string ipv6_text(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {0};
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return std::string();
    return text;
}

}  // namespace

bool has_route_to_ipv6(const sockaddr_in6& address) {
    const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 target = address;
    // A datagram socket's connect only consults the routing table.
    target.sin6_port = htons(443);
    const bool routed = connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    close(fd);
    return routed;
}

SelectedAddresses select_addresses(const addrinfo* list, ipv6_route_probe probe) {
    std::string v4;
    std::string v6;
    const sockaddr_in6* v6_address = nullptr;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (!entry->ai_addr) continue;
        if (entry->ai_family == AF_INET && v4.empty()) {
            v4 = ipv4_text(entry->ai_addr);
        } else if (entry->ai_family == AF_INET6 && v6.empty()) {
            v6 = ipv6_text(entry->ai_addr);
            if (!v6.empty()) v6_address = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
        }
    }
    SelectedAddresses selected;
    const std::string v6_host = v6.empty() ? std::string() : "[" + v6 + "]";
    const bool use_v6 = !v6.empty() && (v4.empty() || (probe && probe(*v6_address)));
    selected.preferred = use_v6 ? v6_host : v4;
    selected.fallback = use_v6 ? v4 : v6_host;
    return selected;
}

}  // namespace Networking
}  // namespace vxs
