#include "core/time_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatTimestamp, FormatsPositionsAsAudioTime) {
    struct Case {
        int pos, bytesPerSample, rate;
        const char* expected;
    };
    const Case cases[] = {
        {16050, 2, 8000, "00:01.003"},
        {57600000, 2, 8000, "01:00:00.000"},
        {0, 2, 16000, "00:00.000"},
        {32000 * 3599 + 31999, 2, 16000, "59:59.999"},
        {32000 * 3661 + 16000, 2, 16000, "01:01:01.500"},
        {2147483647, 2, 16000, "18:38:28.863"},
    };
    for (const Case& c : cases) {
        char buf[vxs::kTimestampBufferSize];
        const char* text = vxs::format_timestamp(c.pos, c.bytesPerSample, c.rate, buf);
        EXPECT_EQ(text, buf);
        EXPECT_STREQ(text, c.expected) << c.pos;
    }
}

TEST(FormatTimestamp, InvalidInputGivesEmptyTextNotTheBuffer) {
    struct Case {
        int pos, bytesPerSample, rate;
    };
    const Case cases[] = {{-1, 2, 8000}, {-16000, 2, 8000}, {100, 0, 8000}, {100, 2, 0}, {100, -2, 8000}};
    for (const Case& c : cases) {
        char buf[vxs::kTimestampBufferSize] = "untouched";
        const char* text = vxs::format_timestamp(c.pos, c.bytesPerSample, c.rate, buf);
        EXPECT_NE(text, buf);
        EXPECT_STREQ(text, "");
        EXPECT_STREQ(buf, "untouched");
    }
    EXPECT_STREQ(vxs::format_timestamp(100, 2, 8000, nullptr), "");
}

TEST(CurrentTime, IsWallClockMicroseconds) {
    const uint64_t first = vxs::get_current_time();
    const uint64_t second = vxs::get_current_time();
    EXPECT_GT(first, 1600000000ull * 1000000ull);  // after September 2020
    EXPECT_GE(second, first);
}

}  // namespace
