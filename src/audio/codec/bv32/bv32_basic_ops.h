// Saturating 16/32-bit fixed-point operators of the BroadVoice32 codec.
//
// Threading: pure functions without shared state. The only operators that
// report an overflow (shl_ov/shr_ov) write it into a flag the caller owns (the
// decoder state), so codecs on different threads never share it.
//
// Every operator computes in a wider type and then saturates, so signed
// overflow never happens in C++ terms. Right shifts of negative values are
// arithmetic (floor), as the codec requires.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_BASIC_OPS_H
#define VXS_AUDIO_CODEC_BV32_BV32_BASIC_OPS_H

#include <cstdint>

namespace vxs {
namespace bv32 {
namespace ops {

constexpr int32_t kMax32 = 2147483647;
constexpr int32_t kMin32 = -2147483647 - 1;
constexpr int16_t kMax16 = 32767;
constexpr int16_t kMin16 = -32768;

inline int16_t sat16(int32_t v) {
    return static_cast<int16_t>(v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : v));
}

inline int32_t sat32(int64_t v) {
    return static_cast<int32_t>(v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : v));
}

inline int16_t add(int16_t a, int16_t b) { return sat16(int32_t(a) + b); }
inline int16_t sub(int16_t a, int16_t b) { return sat16(int32_t(a) - b); }
inline int16_t abs_s(int16_t a) { return a == kMin16 ? kMax16 : static_cast<int16_t>(a < 0 ? -a : a); }
inline int16_t negate(int16_t a) { return a == kMin16 ? kMax16 : static_cast<int16_t>(-a); }

inline int16_t extract_h(int32_t a) { return static_cast<int16_t>(a >> 16); }
inline int16_t extract_l(int32_t a) { return static_cast<int16_t>(static_cast<uint16_t>(a & 0xFFFF)); }
inline int32_t L_deposit_h(int16_t a) { return int32_t(a) * 65536; }
inline int32_t L_deposit_l(int16_t a) { return a; }

inline int16_t mult(int16_t a, int16_t b) { return sat16((int32_t(a) * b) >> 15); }
inline int16_t mult_r(int16_t a, int16_t b) { return sat16((int32_t(a) * b + 16384) >> 15); }

inline int32_t L_mult(int16_t a, int16_t b) {
    const int32_t p = int32_t(a) * b;
    return p == 0x40000000 ? kMax32 : p * 2;
}
inline int32_t L_mult0(int16_t a, int16_t b) { return int32_t(a) * b; }

// The overflow builtins keep the common no-saturation path to one add and a branch.
inline int32_t L_add(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_add_overflow(a, b, &r)) return a < 0 ? kMin32 : kMax32;
    return r;
}
inline int32_t L_sub(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_sub_overflow(a, b, &r)) return a < 0 ? kMin32 : kMax32;
    return r;
}
inline int32_t L_mac(int32_t acc, int16_t a, int16_t b) { return L_add(acc, L_mult(a, b)); }
inline int32_t L_msu(int32_t acc, int16_t a, int16_t b) { return L_sub(acc, L_mult(a, b)); }
// a*b always fits in 32 bits; only the accumulation saturates.
inline int32_t L_mac0(int32_t acc, int16_t a, int16_t b) { return L_add(acc, int32_t(a) * b); }
inline int32_t L_msu0(int32_t acc, int16_t a, int16_t b) { return L_sub(acc, int32_t(a) * b); }
inline int32_t L_negate(int32_t a) { return a == kMin32 ? kMax32 : -a; }
inline int32_t L_abs(int32_t a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }

inline int16_t round(int32_t a) { return extract_h(L_add(a, 32768)); }

inline int16_t norm_s(int16_t a) {
    if (a == 0) return 0;
    const uint32_t m = a < 0 ? static_cast<uint32_t>(~int32_t(a)) : static_cast<uint32_t>(a);
    if (m == 0) return 15;
    return static_cast<int16_t>(__builtin_clz(m) - 17);
}

inline int16_t norm_l(int32_t a) {
    if (a == 0) return 0;
    const uint32_t m = a < 0 ? ~static_cast<uint32_t>(a) : static_cast<uint32_t>(a);
    if (m == 0) return 31;
    return static_cast<int16_t>(__builtin_clz(m) - 1);
}

// Fractional a/b for 0 <= a <= b, b > 0. The original fixed-point code stops
// the program on other operands; here they give the nearest defined result
// instead: 0 for a <= 0 or b <= 0, 32767 for a >= b.
inline int16_t div_s(int16_t a, int16_t b) {
    if (a <= 0 || b <= 0) return 0;
    if (a >= b) return kMax16;
    return static_cast<int16_t>((int32_t(a) << 15) / b);
}

// Left shift with saturation for 0 <= s; sets *overflow when it saturates.
inline int16_t shl_pos(int16_t a, int s, int* overflow) {
    if (a == 0) return 0;
    if (s > 15) {
        *overflow = 1;
        return a > 0 ? kMax16 : kMin16;
    }
    const int32_t v = int32_t(a) * (int32_t(1) << s);
    if (v > kMax16 || v < kMin16) {
        *overflow = 1;
        return a > 0 ? kMax16 : kMin16;
    }
    return static_cast<int16_t>(v);
}

inline int16_t shr_pos(int16_t a, int s) {
    if (s >= 15) return a < 0 ? -1 : 0;
    return static_cast<int16_t>(a >> s);
}

inline int16_t shl_ov(int16_t a, int s, int* overflow) {
    if (s < 0) return shr_pos(a, -s > 16 ? 16 : -s);
    return shl_pos(a, s, overflow);
}

inline int16_t shr_ov(int16_t a, int s, int* overflow) {
    if (s < 0) return shl_pos(a, -s > 16 ? 16 : -s, overflow);
    return shr_pos(a, s);
}

inline int16_t shl(int16_t a, int s) {
    int ignored = 0;
    return shl_ov(a, s, &ignored);
}

inline int16_t shr(int16_t a, int s) {
    int ignored = 0;
    return shr_ov(a, s, &ignored);
}

inline int32_t L_shr_pos(int32_t a, int s) {
    if (s >= 31) return a < 0 ? -1 : 0;
    return a >> s;
}

inline int32_t L_shl_pos(int32_t a, int s) {
    if (a == 0) return 0;
    if (s >= 32) return a > 0 ? kMax32 : kMin32;
    return sat32(int64_t(a) * (int64_t(1) << s));
}

inline int32_t L_shl(int32_t a, int s) {
    if (s <= 0) return L_shr_pos(a, -s > 32 ? 32 : -s);
    return L_shl_pos(a, s);
}

inline int32_t L_shr(int32_t a, int s) {
    if (s < 0) return L_shl_pos(a, -s > 32 ? 32 : -s);
    return L_shr_pos(a, s);
}

inline int32_t L_shr_r(int32_t a, int s) {
    if (s > 31) return 0;
    int32_t r = L_shr(a, s);
    if (s > 0 && ((a >> (s - 1)) & 1)) r += 1;
    return r;
}

// Double-precision ("DPF") helpers: a 32-bit value kept as hi*2^16 + lo*2.
inline void L_Extract(int32_t a, int16_t* hi, int16_t* lo) {
    *hi = extract_h(a);
    *lo = extract_l(L_msu(L_shr(a, 1), *hi, 16384));
}

inline int32_t L_Comp(int16_t hi, int16_t lo) { return L_mac(L_deposit_h(hi), lo, 1); }

inline int32_t Mpy_32(int16_t h1, int16_t l1, int16_t h2, int16_t l2) {
    return L_mac(L_mac(L_mult(h1, h2), mult(h1, l2), 1), mult(l1, h2), 1);
}

inline int32_t Mpy_32_16(int16_t h, int16_t l, int16_t n) {
    return L_mac(L_mult(h, n), mult(l, n), 1);
}

// Mpy_32_16 of a plain 32-bit value (split first).
inline int32_t Mpy_32_16(int32_t a, int16_t n) {
    int16_t h, l;
    L_Extract(a, &h, &l);
    return Mpy_32_16(h, l, n);
}

inline int32_t Div_32(int32_t num, int16_t dh, int16_t dl) {
    const int16_t approx = div_s(16383, dh);
    int32_t t = L_sub(kMax32, Mpy_32_16(dh, dl, approx));
    int16_t h, l;
    L_Extract(t, &h, &l);
    t = Mpy_32_16(h, l, approx);
    L_Extract(t, &h, &l);
    int16_t nh, nl;
    L_Extract(num, &nh, &nl);
    t = Mpy_32(nh, nl, h, l);
    return L_shl(t, 2);
}

}  // namespace ops
}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_BASIC_OPS_H
