// Saturation and rounding corners of the fixed-point operators; the vectors
// exercise the common paths, these pin down the limits.
#include <gtest/gtest.h>

#include "audio/codec/bv32/bv32_basic_ops.h"

using namespace vxs::bv32::ops;

TEST(BasicOps, SixteenBitSaturation) {
    EXPECT_EQ(add(32767, 1), 32767);
    EXPECT_EQ(sub(-32768, 1), -32768);
    EXPECT_EQ(abs_s(-32768), 32767);
    EXPECT_EQ(negate(-32768), 32767);
    EXPECT_EQ(mult(-32768, -32768), 32767);
    EXPECT_EQ(mult_r(16384, 1), 1);  // 0.5 rounds up
    EXPECT_EQ(mult(-1, 1), -1);      // floor, not truncation
    EXPECT_EQ(extract_l(0x12348765), static_cast<int16_t>(0x8765));
    EXPECT_EQ(extract_h(-1), -1);
}

TEST(BasicOps, ThirtyTwoBitSaturation) {
    EXPECT_EQ(L_mult(-32768, -32768), kMax32);
    EXPECT_EQ(L_mult0(-32768, -32768), 1073741824);
    EXPECT_EQ(L_add(kMax32, 1), kMax32);
    EXPECT_EQ(L_sub(kMin32, 1), kMin32);
    EXPECT_EQ(L_mac(kMax32 - 1, 1, 1), kMax32);
    EXPECT_EQ(L_msu0(kMin32, 1, 1), kMin32);
    EXPECT_EQ(L_negate(kMin32), kMax32);
    EXPECT_EQ(L_abs(kMin32), kMax32);
    EXPECT_EQ(round(0x7FFF8000), 32767);
    EXPECT_EQ(round(0x7FFF7FFF), 32767);
    EXPECT_EQ(round(-32769), -1);
}

TEST(BasicOps, Normalisation) {
    struct Case { int32_t v; int16_t s; int16_t l; };
    const Case cases[] = {{0, 0, 0}, {-1, 15, 31}, {1, 14, 30}, {-2, 14, 30},
                          {16384, 0, 16}, {-16385, 0, 16}, {-32768, 0, 16}};
    for (const Case& c : cases) {
        EXPECT_EQ(norm_s(static_cast<int16_t>(c.v)), c.s) << c.v;
        EXPECT_EQ(norm_l(c.v), c.l) << c.v;
    }
    EXPECT_EQ(norm_l(kMin32), 0);
    EXPECT_EQ(norm_l(kMax32), 0);
}

TEST(BasicOps, ShiftsByNegativeAndLargeAmounts) {
    EXPECT_EQ(shl(1, 15), 32767);
    EXPECT_EQ(shl(-1, 15), -32768);
    EXPECT_EQ(shl(0, 40), 0);
    EXPECT_EQ(shl(-5, -1), -3);
    EXPECT_EQ(shr(-5, 1), -3);
    EXPECT_EQ(shr(-5, 100), -1);
    EXPECT_EQ(shr(5, 15), 0);
    EXPECT_EQ(shr(3, -2), 12);
    EXPECT_EQ(shr(1, -100), 32767);
    EXPECT_EQ(L_shl(1, 31), kMax32);
    EXPECT_EQ(L_shl(-1, 31), kMin32);
    EXPECT_EQ(L_shl(-1, 40), kMin32);
    EXPECT_EQ(L_shl(-8, -100), -1);
    EXPECT_EQ(L_shr(kMin32, 31), -1);
    EXPECT_EQ(L_shr(1, -31), kMax32);
    EXPECT_EQ(L_shr_r(3, 1), 2);
    EXPECT_EQ(L_shr_r(-3, 1), -1);
    EXPECT_EQ(L_shr_r(kMax32, 32), 0);
    EXPECT_EQ(L_shr_r(5, 0), 5);
}

TEST(BasicOps, OverflowFlagIsSetOnlyBySaturatingShifts) {
    int overflow = 0;
    EXPECT_EQ(shr_ov(16384, -1, &overflow), 32767);
    EXPECT_EQ(overflow, 1);
    overflow = 0;
    EXPECT_EQ(shr_ov(8192, -1, &overflow), 16384);
    EXPECT_EQ(shr_ov(-16384, -1, &overflow), -32768);
    EXPECT_EQ(shl_ov(12345, -3, &overflow), 1543);
    EXPECT_EQ(overflow, 0);
}

TEST(BasicOps, FractionalDivision) {
    EXPECT_EQ(div_s(0, 5), 0);
    EXPECT_EQ(div_s(7, 7), 32767);
    EXPECT_EQ(div_s(1, 2), 16384);
    EXPECT_EQ(div_s(1, 3), 10922);
    // Outside the defined domain the result stays defined instead of aborting.
    EXPECT_EQ(div_s(5, 0), 0);
    EXPECT_EQ(div_s(-1, 3), 0);
    EXPECT_EQ(div_s(9, 3), 32767);
}

TEST(BasicOps, DoublePrecisionSplitAndProduct) {
    int16_t hi, lo;
    L_Extract(-3, &hi, &lo);
    EXPECT_EQ(hi, -1);
    EXPECT_EQ(lo, 32766);
    EXPECT_EQ(L_Comp(hi, lo), -4);  // the lowest bit is lost
    L_Extract(0x40000000, &hi, &lo);
    EXPECT_EQ(Mpy_32(hi, lo, hi, lo), 0x20000000);  // 0.5 * 0.5
    EXPECT_EQ(Mpy_32_16(0x40000000, 16384), 0x20000000);
}
