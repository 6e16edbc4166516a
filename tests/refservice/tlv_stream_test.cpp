// The upload packet reader on its own: packets split at every byte, and
// lengths that cannot be right.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refservice_client.h"
#include "tlv_stream.h"

namespace {

using vxs::refservice::TlvStreamReader;

struct Seen {
    uint8_t type;
    std::string payload;
};

TEST(TlvStreamReader, PacketsSplitAtAnyByteComeOutWholeAndInOrder) {
    const std::string stream = refclient::packet(0, "params") + refclient::packet(1, std::string(3000, 'a')) +
                               refclient::packet(5, "") + refclient::packet(3, "");
    for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, stream.size()}) {
        std::vector<Seen> seen;
        TlvStreamReader reader([&](uint8_t type, const uint8_t* payload, size_t size) {
            seen.push_back({type, std::string(reinterpret_cast<const char*>(payload), size)});
            return true;
        });
        for (size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(reader.feed(reinterpret_cast<const uint8_t*>(stream.data()) + at,
                                    std::min(piece, stream.size() - at)));
        }
        ASSERT_EQ(seen.size(), 4u) << piece;
        EXPECT_EQ(seen[0].payload, "params");
        EXPECT_EQ(seen[1].payload, std::string(3000, 'a'));
        EXPECT_EQ(seen[2].type, 5);
        EXPECT_EQ(seen[3].type, 3);
        EXPECT_EQ(reader.pending(), 0u);
    }
}

TEST(TlvStreamReader, ImpossibleLengthsStopTheStream) {
    for (const std::string& bad : {std::string("\0\0\0\0\1", 5), std::string("\x01\x00\x10\x00\x01", 5)}) {
        int packets = 0;
        TlvStreamReader reader([&](uint8_t, const uint8_t*, size_t) { return ++packets, true; });
        EXPECT_FALSE(reader.feed(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()));
        EXPECT_FALSE(reader.error().empty());
        const std::string good = refclient::packet(3, "");
        EXPECT_FALSE(reader.feed(reinterpret_cast<const uint8_t*>(good.data()), good.size()));
        EXPECT_EQ(packets, 0);
    }
}

}  // namespace
