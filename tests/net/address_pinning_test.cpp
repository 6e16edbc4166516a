#include <string>

#include <gtest/gtest.h>

#include "net/address_pinning.h"

namespace {

using vxs::Networking::AddressPin;
using vxs::Networking::make_address_pin;

struct PinCase {
    const char* origin;
    const char* resolved;
    const char* connect_url;    // nullptr: no pinning applies
    const char* resolve_entry;
};

TEST(AddressPinningTest, RealHostAndPortAreKeptForTheResolvedAddress) {
    const PinCase cases[] = {
        {"https://asr.example.com/v1/up?sn=1", "https://10.0.0.7/v1/up?sn=1", "https://asr.example.com/v1/up?sn=1",
         "asr.example.com:443:10.0.0.7"},
        {"https://asr.example.com:8443/v1", "https://10.0.0.7:8443/v1", "https://asr.example.com:8443/v1",
         "asr.example.com:8443:10.0.0.7"},
        // The resolver may drop the port; the origin's own port still counts.
        {"https://asr.example.com:8443/v1", "https://10.0.0.7/v1", "https://asr.example.com:8443/v1",
         "asr.example.com:8443:10.0.0.7"},
        {"https://localhost:9000/x", "https://[::1]:9000/x", "https://localhost:9000/x", "localhost:9000:[::1]"},
        {"http://asr.example.com/x", "http://192.168.1.2/x", "http://asr.example.com/x",
         "asr.example.com:80:192.168.1.2"},
        {"HTTPS://asr.example.com?q", "HTTPS://10.0.0.7?q", "https://asr.example.com?q",
         "asr.example.com:443:10.0.0.7"},
        // Nothing to pin.
        {"https://asr.example.com/x", "https://asr.example.com/x", nullptr, nullptr},
        {"https://asr.example.com/x", "https://other.example.com/x", nullptr, nullptr},
        {"asr.example.com/x", "https://10.0.0.7/x", nullptr, nullptr},
        {"https://user@asr.example.com/x", "https://10.0.0.7/x", nullptr, nullptr},
        {"https://asr.example.com:99999/x", "https://10.0.0.7/x", nullptr, nullptr},
        {"https://asr.example.com/x", "https://[::1/x", nullptr, nullptr},
        {"", "https://10.0.0.7/x", nullptr, nullptr},
    };
    for (const PinCase& c : cases) {
        SCOPED_TRACE(std::string(c.origin) + " -> " + c.resolved);
        AddressPin pin;
        const bool pinned = make_address_pin(c.origin, c.resolved, pin);
        ASSERT_EQ(pinned, c.connect_url != nullptr);
        if (!pinned) continue;
        EXPECT_EQ(pin.connect_url, c.connect_url);
        EXPECT_EQ(pin.resolve_entry, c.resolve_entry);
    }
}

}  // namespace
