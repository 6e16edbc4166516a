#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/address_selection.h"

namespace {

using vxs::Networking::select_addresses;
using vxs::Networking::SelectedAddresses;

// An answer list built by hand: each entry a numeric address ("unix" for an
// AF_UNIX entry, which must be skipped).
class AddressList {
public:
    explicit AddressList(const std::vector<std::string>& addresses) {
        for (const auto& text : addresses) add(text);
        for (size_t i = 0; i + 1 < m_entries.size(); ++i) m_entries[i].ai_next = &m_entries[i + 1];
    }
    const addrinfo* head() const { return m_entries.empty() ? nullptr : &m_entries.front(); }

private:
    void add(const std::string& text) {
        addrinfo entry{};
        m_storage.emplace_back();
        sockaddr_storage& storage = m_storage.back();
        entry.ai_addr = reinterpret_cast<sockaddr*>(&storage);
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        if (text == "unix") {
            entry.ai_family = AF_UNIX;
            storage.ss_family = AF_UNIX;
        } else if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
            entry.ai_family = v4->sin_family = AF_INET;
        } else {
            ASSERT_EQ(inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr), 1) << text;
            entry.ai_family = v6->sin6_family = AF_INET6;
        }
        m_entries.push_back(entry);
    }

    std::deque<sockaddr_storage> m_storage;  // stable addresses
    std::vector<addrinfo> m_entries;
};

bool routed(const sockaddr_in6&) { return true; }
bool unrouted(const sockaddr_in6&) { return false; }

TEST(AddressSelection, PrefersReachableIpv6AndKeepsTheOtherFamilyAsFallback) {
    struct Case {
        std::vector<std::string> answer;
        vxs::Networking::ipv6_route_probe probe;
        std::string preferred;
        std::string fallback;
    };
    const Case cases[] = {
        {{"192.0.2.7", "192.0.2.8"}, routed, "192.0.2.7", ""},
        {{"192.0.2.7", "2001:db8::1", "2001:db8::2"}, routed, "[2001:db8::1]", "192.0.2.7"},
        // No route to IPv6 (an IPv4-only network): IPv4 first, IPv6 kept.
        {{"2001:db8::1", "192.0.2.7"}, unrouted, "192.0.2.7", "[2001:db8::1]"},
        // Nothing else to try: IPv6 even without a known route.
        {{"2001:db8::1"}, unrouted, "[2001:db8::1]", ""},
        {{"unix", "unix", "192.0.2.9"}, routed, "192.0.2.9", ""},
        {{"unix"}, routed, "", ""},
        {{}, routed, "", ""},
    };
    for (const Case& c : cases) {
        const AddressList list(c.answer);
        const SelectedAddresses selected = select_addresses(list.head(), c.probe);
        EXPECT_EQ(selected.preferred, c.preferred) << testing::PrintToString(c.answer);
        EXPECT_EQ(selected.fallback, c.fallback) << testing::PrintToString(c.answer);
    }
}

TEST(AddressSelection, LoopbackIpv6HasARoute) {
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    EXPECT_TRUE(vxs::Networking::has_route_to_ipv6(loopback));
}

}  // namespace
