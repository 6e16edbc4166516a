#include "audio/codec/bv32/bv32_math.h"

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

int32_t Pow2(int16_t i, int16_t f) {
    const int16_t k = shr(f, 9);
    const int16_t d = shl(static_cast<int16_t>(f & 511), 6);
    const int16_t t = tab::tabpow[k];
    int32_t a = L_deposit_h(t);
    a = L_mac(a, d, sub(tab::tabpow[k + 1], t));
    return L_shr_r(a, sub(30, i));
}

void Log2(int32_t a, int16_t* i, int16_t* f) {
    if (a <= 0) {
        *i = 0;
        *f = 0;
        return;
    }
    const int16_t e = norm_l(a);
    int32_t m = L_shl(a, e);
    m = L_shr(L_sub(m, 1073741824), 8);
    const int16_t k = extract_h(m);
    const int16_t d = extract_l(L_shr(m & 65535, 1));
    int32_t r = L_deposit_h(tab::tablog[k]);
    r = L_mac(r, d, sub(tab::tablog[k + 1], tab::tablog[k]));
    *f = ops::round(r);
    *i = sub(30, e);
}

int16_t sqrts(int16_t a) {
    if (a <= 0) return 0;
    int16_t e = norm_s(a);
    const int16_t b = shl(a, e);
    const int16_t k = shr(b, 9);
    int32_t r = L_deposit_h(tab::tabsqrt[k]);
    const int16_t d = shl(static_cast<int16_t>(b & 511), 6);
    r = L_mac(r, d, sub(tab::tabsqrt[k + 1], tab::tabsqrt[k]));
    if (e & 1) {
        e = shr(add(e, 1), 1);
        r = L_shr(r, e);
        const int16_t y = ops::round(r);
        r = L_mac(r, 13573, y);
    } else {
        e = shr(e, 1);
        r = L_shr(r, e);
    }
    return ops::round(r);
}

}  // namespace bv32
}  // namespace vxs
