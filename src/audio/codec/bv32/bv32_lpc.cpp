#include "audio/codec/bv32/bv32_lpc.h"

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

void levinson(int32_t* r, int16_t* a, int16_t* old_a) {
    int16_t rh[LPCO + 1], rl[LPCO + 1];
    int16_t ah[LPCO + 1], al[LPCO + 1];
    int16_t nh[LPCO + 1], nl[LPCO + 1];
    int16_t h, l;

    const int16_t e0 = norm_l(r[0]);
    for (int i = 0; i <= LPCO; ++i) {
        r[i] = L_shl(r[i], e0);
        L_Extract(r[i], &rh[i], &rl[i]);
    }

    int32_t k = Div_32(L_abs(r[1]), rh[0], rl[0]);
    if (r[1] > 0) k = L_negate(k);
    L_Extract(L_shr(k, 4), &ah[1], &al[1]);

    L_Extract(k, &h, &l);
    int32_t t = L_abs(Mpy_32(h, l, h, l));
    t = L_sub(1073741824, L_shr(t, 1));
    L_Extract(t, &h, &l);
    t = Mpy_32(rh[0], rl[0], h, l);
    int16_t ae = norm_l(t);
    int32_t am = L_shl(t, ae);
    ae = sub(ae, 1);

    for (int i = 2; i <= LPCO; ++i) {
        int32_t s = 0;
        for (int j = 1; j < i; ++j) s = L_add(s, Mpy_32(rh[j], rl[j], ah[i - j], al[i - j]));
        s = L_shl(s, 4);
        s = L_add(s, r[i]);

        int16_t e = norm_l(s);
        s = L_shl(s, e);
        t = L_abs(s);
        if (L_sub(t, am) >= 0) {
            t = L_shr(t, 1);
            e = sub(e, 1);
        }
        int16_t amh, aml;
        L_Extract(am, &amh, &aml);
        t = Div_32(t, amh, aml);
        if (s > 0) t = L_negate(t);
        k = L_shr(t, sub(e, ae));
        int16_t kh, kl;
        L_Extract(k, &kh, &kl);

        if (sub(abs_s(ops::round(k)), 32750) > 0) {
            a[0] = 4096;
            for (int j = 1; j <= LPCO; ++j) a[j] = old_a[j];
            return;
        }

        for (int j = 1; j < i; ++j) {
            t = Mpy_32(ah[i - j], al[i - j], kh, kl);
            t = L_add(t, L_Comp(ah[j], al[j]));
            L_Extract(t, &nh[j], &nl[j]);
        }
        L_Extract(L_shr(k, 4), &nh[i], &nl[i]);

        t = L_abs(Mpy_32(kh, kl, kh, kl));
        t = L_sub(1073741824, L_shr(t, 1));
        L_Extract(t, &h, &l);
        t = Mpy_32(amh, aml, h, l);
        e = norm_l(t);
        am = L_shl(t, e);
        ae = sub(add(ae, e), 1);

        for (int j = 1; j <= i; ++j) {
            ah[j] = nh[j];
            al[j] = nl[j];
        }
    }

    a[0] = 4096;
    for (int j = 1; j <= LPCO; ++j) {
        a[j] = ops::round(L_shl(L_Comp(ah[j], al[j]), 1));
        old_a[j] = a[j];
    }
}

namespace {

// Polynomial coefficient held as mantissa and exponent: value = (M << 16) >> E.
struct Coefs {
    int16_t m[5];
    int16_t e[5];
};

inline int32_t expand(int16_t m, int16_t e) { return L_shr(L_deposit_h(m), e); }

int16_t chebyshev(int16_t x, const Coefs& t) {
    int16_t bm[4], be[4];
    bm[0] = t.m[4];
    be[0] = t.e[4];

    int32_t s = L_shr(L_mult(x, bm[0]), sub(be[0], 1));
    s = L_add(s, expand(t.m[3], t.e[3]));
    be[1] = norm_l(s);
    bm[1] = ops::round(L_shl(s, be[1]));

    for (int i = 2; i <= 3; ++i) {
        s = L_shr(L_mult(x, bm[i - 1]), sub(be[i - 1], 1));
        s = L_add(s, expand(t.m[4 - i], t.e[4 - i]));
        s = L_sub(s, expand(bm[i - 2], be[i - 2]));
        be[i] = norm_l(s);
        bm[i] = ops::round(L_shl(s, be[i]));
    }

    s = L_shr(L_mult(x, bm[3]), be[3]);
    s = L_add(s, expand(t.m[0], t.e[0]));
    s = L_sub(s, expand(bm[2], be[2]));
    return ops::round(L_shl(s, 6));
}

void polynomials(const int16_t* a, Coefs* ta, Coefs* tb) {
    int16_t fam[5], fae[5], fbm[5], fbe[5];
    fam[0] = fbm[0] = 16384;
    fae[0] = fbe[0] = 6;
    for (int i = 1; i <= 4; ++i) {
        const int j = 9 - i;
        int32_t t = L_mac0(L_mult0(a[i], 4096), a[j], 4096);
        t = L_sub(t, expand(fam[i - 1], fae[i - 1]));
        fae[i] = norm_l(t);
        fam[i] = ops::round(L_shl(t, fae[i]));

        t = L_msu0(L_mult0(a[i], 4096), a[j], 4096);
        t = L_add(t, expand(fbm[i - 1], fbe[i - 1]));
        fbe[i] = norm_l(t);
        fbm[i] = ops::round(L_shl(t, fbe[i]));
    }
    ta->m[0] = fam[4];
    ta->e[0] = add(fae[4], 1);
    tb->m[0] = fbm[4];
    tb->e[0] = add(fbe[4], 1);
    for (int k = 1; k <= 4; ++k) {
        ta->m[k] = fam[4 - k];
        ta->e[k] = fae[4 - k];
        tb->m[k] = fbm[4 - k];
        tb->e[k] = fbe[4 - k];
    }
}

// Linear interpolation of the root between (xlow, ylow) and (xhigh, yhigh).
int16_t interpolateRoot(int16_t xlow, int16_t ylow, int16_t yhigh, int16_t dx) {
    int16_t dy = sub(ylow, yhigh);
    if (dy == 0) return add(xlow, shr(dx, 1));
    const int16_t sgn = dy;
    dy = abs_s(dy);
    const int16_t e = norm_s(dy);
    dy = shl(dy, e);
    const int16_t q = div_s(shl(dx, 6), dy);
    int32_t s = L_shr(L_mult(q, ylow), sub(6, e));
    int16_t v = ops::round(s);
    if (sgn < 0) v = negate(v);
    return add(xlow, v);
}

}  // namespace

void a2lsp(const int16_t* a, const int16_t* old_lsp, int16_t* lsp) {
    Coefs ta, tb;
    polynomials(a, &ta, &tb);
    const Coefs* t = &ta;

    int nf = 0;
    int16_t xroot = 32767;
    int g = 0;
    int16_t xlow = tab::grid[0];
    int16_t ylow = chebyshev(xlow, *t);
    int ind = 0;

    while (g < Ngrd - 1 && nf < LPCO) {
        ++g;
        int16_t xhigh = xlow;
        int16_t yhigh = ylow;
        xlow = tab::grid[g];
        ylow = chebyshev(xlow, *t);
        if (L_mult(ylow, yhigh) > 0) continue;

        int16_t dx = static_cast<int16_t>(xhigh - xlow);
        for (int b = 0; b < 4; ++b) {
            dx = shr(dx, 1);
            const int16_t xmid = add(xlow, dx);
            const int16_t ymid = chebyshev(xmid, *t);
            if (L_mult(ylow, ymid) <= 0) {
                yhigh = ymid;
                xhigh = xmid;
            } else {
                ylow = ymid;
                xlow = xmid;
            }
        }
        dx = sub(xhigh, xlow);
        int16_t xmid = interpolateRoot(xlow, ylow, yhigh, dx);

        while (tab::costable[ind] >= xmid && ind < 63) ++ind;
        ind = ind > 0 ? ind - 1 : 0;
        const int32_t s = L_mult(sub(xmid, tab::costable[ind]), tab::acosslope[ind]);
        lsp[nf] = add(ops::round(L_shl(s, 4)), shl(static_cast<int16_t>(ind), 9));
        ++nf;

        if (xmid >= xroot) xmid = static_cast<int16_t>(xlow - dx);
        xroot = xmid;
        t = (t == &ta) ? &tb : &ta;
        xlow = xmid;
        ylow = chebyshev(xlow, *t);
    }

    if (nf < LPCO) {
        for (int i = 0; i < LPCO; ++i) lsp[i] = old_lsp[i];
    }
}

namespace {

void productPolynomial(int16_t l0, int16_t l2, int16_t l4, int16_t l6, int32_t* f) {
    const int16_t lsps[4] = {l0, l2, l4, l6};
    f[0] = L_mult(2048, 2048);
    for (int i = 1; i <= LPCO; ++i) f[i] = 0;
    for (int n = 1; n <= 4; ++n) {
        const int16_t l = lsps[n - 1];
        const int16_t k = shr(l, 9);
        const int16_t o = static_cast<int16_t>(l & 511);
        const int32_t s = L_mult(sub(tab::costable[k + 1], tab::costable[k]), o);
        const int16_t c = add(tab::costable[k], ops::round(L_shl(s, 6)));
        for (int i = 2 * n; i >= 2; --i) {
            int16_t h, lo;
            L_Extract(f[i - 1], &h, &lo);
            f[i] = L_add(f[i], f[i - 2]);
            f[i] = L_sub(f[i], L_shl(Mpy_32_16(h, lo, c), 1));
        }
        f[1] = L_msu(f[1], c, 256);
    }
}

}  // namespace

void lsp2a(const int16_t* lsp, int16_t* a) {
    int32_t p[LPCO + 1], q[LPCO + 1];
    productPolynomial(lsp[0], lsp[2], lsp[4], lsp[6], p);
    productPolynomial(lsp[1], lsp[3], lsp[5], lsp[7], q);
    a[0] = 4096;
    a[1] = ops::round(L_shl(L_add(p[1], q[1]), 4));
    for (int n = 2; n <= LPCO; ++n) {
        const int i = n - 1;
        int32_t s = L_add(p[i], p[n]);
        s = L_add(s, q[n]);
        s = L_sub(s, q[i]);
        a[n] = ops::round(L_shl(s, 4));
    }
}

void stabiliseLsp(int16_t* lsp) {
    bool swapped;
    do {
        swapped = false;
        for (int i = 0; i < LPCO - 1; ++i) {
            if (lsp[i] > lsp[i + 1]) {
                const int16_t t = lsp[i];
                lsp[i] = lsp[i + 1];
                lsp[i + 1] = t;
                swapped = true;
            }
        }
    } while (swapped);

    int16_t hi = sub(LSPMAX, 7 * DLSPMIN);
    if (lsp[0] < LSPMIN) {
        lsp[0] = LSPMIN;
    } else if (lsp[0] > hi) {
        lsp[0] = hi;
    }
    for (int i = 0; i < LPCO - 1; ++i) {
        const int16_t lo = add(lsp[i], DLSPMIN);
        hi = add(hi, DLSPMIN);
        if (lsp[i + 1] < lo) {
            lsp[i + 1] = lo;
        } else if (lsp[i + 1] > hi) {
            lsp[i + 1] = hi;
        }
    }
}

}  // namespace bv32
}  // namespace vxs
