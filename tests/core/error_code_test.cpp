#include "core/error_code.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorCode, EncodesAndDecodesBothHalves) {
    struct Case {
        int16_t errorClass, code;
        int encoded;
    };
    const Case cases[] = {
        {33, -3001, 2225223},
        {30, 2, 30 * 65536 + 2},
        {31, -1, 31 * 65536 + 0xFFFF},
        {0, 0, 0},
        {-1, -1, -1},
        {-32768, 0, static_cast<int>(0x80000000u)},
        {32767, 32767, 0x7FFF7FFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vxs::encode_error(c.errorClass, c.code), c.encoded) << c.errorClass << "/" << c.code;
        int16_t errorClass = 0, code = 0;
        vxs::decode_error(c.encoded, errorClass, code);
        EXPECT_EQ(errorClass, c.errorClass);
        EXPECT_EQ(code, c.code);
        int16_t viaPointer = 0;
        vxs::decode_error(c.encoded, &viaPointer, nullptr);
        EXPECT_EQ(viaPointer, c.errorClass);
    }
}

}  // namespace
