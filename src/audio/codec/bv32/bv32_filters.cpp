#include "audio/codec/bv32/bv32_filters.h"

#include <cstring>

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

void azFilter(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int shift) {
    for (int k = 0; k < n; ++k) {
        int32_t acc = L_mult0(a[0], x[k]);
        for (int i = 1; i <= m; ++i) acc = L_mac0(acc, a[i], x[k - i]);
        y[k] = ops::round(L_shl(acc, shift));
    }
}

namespace {

constexpr int kMaxWork = LPCO + FRSZ;

template <bool kDoubled>
void apFilter(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int16_t* mem,
              bool update) {
    int16_t w[kMaxWork];
    std::memcpy(w, mem, sizeof(int16_t) * m);
    for (int k = 0; k < n; ++k) {
        int32_t acc = L_mult0(4096, x[k]);
        const int16_t* past = w + k;
        for (int i = m; i >= 1; --i) {
            acc = kDoubled ? L_msu(acc, a[i], past[m - i]) : L_msu0(acc, a[i], past[m - i]);
        }
        w[k + m] = ops::round(L_shl(acc, kDoubled ? 3 : 4));
    }
    std::memcpy(y, w + m, sizeof(int16_t) * n);
    if (update) std::memcpy(mem, w + n, sizeof(int16_t) * m);
}

}  // namespace

void apFilterQ0(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int16_t* mem,
                bool update) {
    apFilter<false>(a, m, x, y, n, mem, update);
}

void apFilterQ1(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int16_t* mem,
                bool update) {
    apFilter<true>(a, m, x, y, n, mem, update);
}

void autocorrelation(const int16_t* x, const int16_t* win, int32_t* r) {
    int16_t b[WINSZ];
    for (int n = 0; n < WINSZ; ++n) b[n] = mult_r(x[n], win[n]);

    int32_t s = 1;
    for (int n = 0; n < WINSZ; ++n) {
        const int16_t t = shr(b[n], 4);
        s = L_mac0(s, t, t);
    }
    int16_t sh = sub(4, shr(norm_l(s), 1));
    if (sh < 0) sh = 0;
    for (int n = 0; n < WINSZ; ++n) b[n] = shr(b[n], sh);

    s = 1;
    for (int n = 0; n < WINSZ; ++n) s = L_mac0(s, b[n], b[n]);
    const int16_t e = norm_l(s);
    r[0] = L_shl(s, e);
    for (int j = 1; j <= LPCO; ++j) {
        s = 0;
        for (int n = 0; n < WINSZ - j; ++n) s = L_mac0(s, b[n], b[n + j]);
        r[j] = L_shl(s, e);
    }
}

void lagWindow(int32_t* r) {
    for (int i = 1; i <= LPCO; ++i) {
        int16_t hi, lo;
        L_Extract(r[i], &hi, &lo);
        r[i] = Mpy_32(hi, lo, tab::sstwinl_h[i - 1], tab::sstwinl_l[i - 1]);
    }
}

}  // namespace bv32
}  // namespace vxs
