#include "audio/codec/bv32/bv32_pitch.h"

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_state.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

constexpr int kNumLags = MAXPPD1 + 1;  // decimated lags 0..34
constexpr int kWinStart = LXD - PWSZD;  // first sample of the decimated window

// A squared correlation over an energy, each with its own exponent:
// c2 * 2^(-2 cE) / (eM * 2^(-eE)).
struct Ratio {
    int16_t c2;
    int16_t cE;
    int16_t eM;
    int16_t eE;
};

constexpr Ratio kRatioFloor = {-32768, 0, 1, 0};

// Is a greater than b, with a's energy mantissa replaced by eMa (threshold applied).
inline bool greaterWith(const Ratio& a, int16_t eMa, const Ratio& b) {
    int32_t u = L_mult(a.c2, b.eM);
    int32_t v = L_mult(b.c2, eMa);
    const int16_t z = sub(add(shl(sub(a.cE, b.cE), 1), b.eE), a.eE);
    if (z >= 0) {
        u = L_shr(u, z);
    } else {
        v = L_shl(v, z);
    }
    return u > v;
}

inline bool greater(const Ratio& a, const Ratio& b) { return greaterWith(a, a.eM, b); }

// a > tau * b.
inline bool greaterScaled(const Ratio& a, const Ratio& b, int16_t tau) {
    return greaterWith(a, extract_h(L_mult(a.eM, tau)), b);
}

inline Ratio energyRatio(int16_t c2, int16_t cE, int32_t energy) {
    Ratio r;
    r.c2 = c2;
    r.cE = cE;
    r.eE = norm_l(energy);
    r.eM = extract_h(L_shl(energy, r.eE));
    return r;
}

// Low-pass filters xw at 16 kHz and returns every 8th output in yd; returns the peak.
int32_t decimate(const int16_t* xw, int16_t* dfm, int32_t* yd) {
    int16_t yh[DFO + FRSZ], yl[DFO + FRSZ];
    for (int i = 0; i < DFO; ++i) {
        yh[i] = dfm[2 * i + 1];
        yl[i] = dfm[2 * i];
    }
    int32_t peak = 1;
    for (int m = 0; m < FRSZD; ++m) {
        for (int k = 0; k < DECF; ++k) {
            const int n = DFO + DECF * m + k;
            int32_t acc = L_shr(L_deposit_h(xw[n - DFO]), 11);
            for (int j = 1; j <= DFO; ++j) {
                acc = L_sub(acc, Mpy_32(yh[n - j], yl[n - j], tab::adf_h[j], tab::adf_l[j]));
            }
            acc = L_shl(acc, 3);
            L_Extract(acc, &yh[n], &yl[n]);
        }
        const int n = DFO + DECF * m + DECF - 1;
        int32_t acc = Mpy_32_16(yh[n], yl[n], tab::bdf[0]);
        for (int j = 1; j <= DFO; ++j) acc = L_add(acc, Mpy_32_16(yh[n - j], yl[n - j], tab::bdf[j]));
        yd[m] = acc;
        if (peak < L_abs(acc)) peak = L_abs(acc);
    }
    for (int i = 0; i < DFO; ++i) {
        dfm[2 * i + 1] = yh[FRSZ + i];
        dfm[2 * i] = yl[FRSZ + i];
    }
    return peak;
}

// Builds the block-scaled working signal w[0..63] and updates the decimated history.
void scaleDecimated(const int32_t* yd, int32_t peak, EncoderState* st, int16_t* w) {
    int16_t ne = sub(norm_l(peak), 3);
    int16_t sh = sub(st->xwd_exp, ne);
    if (sh < 0) {
        ne = st->xwd_exp;
        sh = 0;
    }
    for (int i = 0; i < XDOFF; ++i) w[i] = shr(st->xwd[i], sh);
    for (int m = 0; m < FRSZD; ++m) w[XDOFF + m] = ops::round(L_shl(yd[m], ne));

    int16_t mx = 1;
    for (int i = 0; i < XDOFF; ++i) {
        const int16_t a = abs_s(w[FRSZD + i]);
        if (a > mx) mx = a;
    }
    const int16_t e0 = sub(norm_s(mx), 3);
    int16_t sh2 = sub(e0, sh);
    const int keep = XDOFF - FRSZD;
    if (sh2 >= 0) {
        for (int i = 0; i < keep; ++i) st->xwd[i] = shl(st->xwd[i + FRSZD], sh2);
    } else {
        sh2 = negate(sh2);
        if (sh2 >= 15) sh2 = 15;
        for (int i = 0; i < keep; ++i) st->xwd[i] = shr(st->xwd[i + FRSZD], sh2);
    }
    for (int m = 0; m < FRSZD; ++m) st->xwd[keep + m] = shl(w[XDOFF + m], e0);
    st->xwd_exp = add(ne, e0);
}

struct LagAnalysis {
    int32_t cor[kNumLags];
    int32_t ener[kNumLags];
    Ratio ratio[kNumLags];
};

void analyseLags(const int16_t* w, LagAnalysis* la) {
    const int16_t* x = w + kWinStart;
    int32_t e = 0, c = 0;
    for (int i = 0; i < PWSZD; ++i) {
        e = L_mac0(e, x[i], x[i]);
        c = L_mac0(c, x[i], x[i]);
    }
    la->cor[0] = c;
    la->ener[0] = e;
    for (int lag = 1; lag < kNumLags; ++lag) {
        c = 0;
        for (int i = 0; i < PWSZD; ++i) c = L_mac0(c, x[i], x[i - lag]);
        la->cor[lag] = c;
        e = L_msu0(e, w[LXD - lag], w[LXD - lag]);
        e = L_mac0(e, w[kWinStart - lag], w[kWinStart - lag]);
        la->ener[lag] = e;
    }
    for (int lag = 0; lag < kNumLags; ++lag) {
        const int16_t cE = norm_l(la->cor[lag]);
        const int16_t t = extract_h(L_shl(la->cor[lag], cE));
        int16_t c2 = extract_h(L_mult(t, t));
        if (lag >= 1 && la->cor[lag] < 0) c2 = negate(c2);
        la->ratio[lag] = energyRatio(c2, cE, la->ener[lag]);
    }
}

int findPeaks(const LagAnalysis& la, int16_t* peaks) {
    int np = 0;
    for (int lag = 1; lag < kNumLags - 1 && np < MAX_NPEAKS; ++lag) {
        if (la.cor[lag] > 0 && greater(la.ratio[lag], la.ratio[lag - 1]) &&
            greater(la.ratio[lag], la.ratio[lag + 1])) {
            peaks[np++] = static_cast<int16_t>(lag);
        }
    }
    return np;
}

// Refines one decimated peak to 1/8 lag resolution; returns the 16 kHz lag.
int16_t refinePeak(const LagAnalysis& la, int lag, Ratio* best) {
    const int32_t cl = la.cor[lag - 1], c0 = la.cor[lag], cr = la.cor[lag + 1];
    int16_t ah, al, bh, bl;
    L_Extract(L_sub(L_shr(L_add(cr, cl), 1), c0), &ah, &al);
    L_Extract(L_shr(L_sub(cr, cl), 1), &bh, &bl);

    int im = 0;
    *best = la.ratio[lag];
    int32_t ei = la.ener[lag];
    const bool right = greater(la.ratio[lag + 1], la.ratio[lag - 1]);
    const int32_t de = L_shr(L_sub(right ? la.ener[lag + 1] : la.ener[lag - 1], ei), 3);
    for (int k = 0; k < 4; ++k) {
        const int32_t quad = Mpy_32_16(ah, al, tab::cpx2[k]);
        const int32_t lin = Mpy_32_16(bh, bl, tab::cpx[k]);
        const int32_t cv = L_add(right ? L_add(quad, lin) : L_sub(quad, lin), c0);
        ei = L_add(ei, de);
        const int16_t e = norm_l(cv);
        int16_t t = extract_h(L_shl(cv, e));
        t = extract_h(L_mult(t, t));
        const Ratio cand = energyRatio(t, e, ei);
        if (greater(cand, *best)) {
            im = right ? k + 1 : -(k + 1);
            *best = cand;
        }
    }
    return add(shl(static_cast<int16_t>(lag), 3), static_cast<int16_t>(im));
}

// Does every multiple of plag[i] up to the largest lag have a strong enough peak?
bool multiplesConfirmed(const int16_t* plag, const Ratio* r, int np, int i, const Ratio& rmax) {
    const int16_t mplth = plag[np - 1];
    int j = i + 1;
    int k = 0;
    int16_t s = shl(plag[i], 1);
    while (s <= mplth) {
        bool mp = false;
        const int16_t t0 = mult_r(s, MPDTH);
        const int16_t lo = sub(s, t0);
        const int16_t hi = add(s, t0);
        while (j < np) {
            if (plag[j] > hi) break;
            if (plag[j] > lo) {
                const int16_t th = k < 4 ? tab::MPTH[k] : MPTH4;
                if (greaterScaled(r[j], rmax, th)) {
                    mp = true;
                    break;  // this peak may also serve the next multiple
                }
            }
            ++j;
        }
        if (!mp) return false;
        ++k;
        s = add(s, plag[i]);
    }
    return true;
}

int16_t choosePitch(const int16_t* plag, const Ratio* r, int np, int imax, int16_t cpplast) {
    const Ratio& rmax = r[imax];
    const int16_t mplth = plag[np - 1];

    const int16_t maxdev = shr(cpplast, 2);
    int im = -1;
    Ratio rm = kRatioFloor;
    for (int i = 0; i < np; ++i) {
        if (abs_s(sub(plag[i], cpplast)) <= maxdev && greater(r[i], rm)) {
            im = i;
            rm = r[i];
        }
    }

    for (int i = 0; 2 * plag[i] < mplth;) {
        const int16_t tau = (i == im) ? TH2 : TH1;
        if (greaterScaled(r[i], rmax, tau) && multiplesConfirmed(plag, r, np, i, rmax)) return plag[i];
        if (++i == np) break;
    }

    if (im == -1 || im == imax) return plag[imax];
    if (im < imax) {
        if (!greaterScaled(rm, rmax, LPTH2)) return plag[imax];
        if (plag[im] > HMAXPPD * DECF) return plag[im];
        for (int k = 2; k <= 5; ++k) {
            const int16_t s = mult(plag[imax], tab::invk[k - 2]);
            const int16_t t0 = mult_r(s, SMDTH);
            if (plag[im] > sub(s, t0) && plag[im] < add(s, t0)) return plag[im];
        }
        return plag[imax];
    }
    return greaterScaled(rm, rmax, LPTH1) ? plag[im] : plag[imax];
}

int16_t coarsePitchOf(const LagAnalysis& la, int16_t cpplast) {
    int16_t peaks[MAX_NPEAKS];
    const int np = findPeaks(la, peaks);
    if (np == 0) return MINPPD * DECF;
    if (np == 1) return static_cast<int16_t>(peaks[0] * DECF);

    int16_t plag[MAX_NPEAKS];
    Ratio r[MAX_NPEAKS];
    Ratio rmax = kRatioFloor;
    int imax = 0;
    for (int i = 0; i < np; ++i) {
        plag[i] = refinePeak(la, peaks[i], &r[i]);
        if (greater(r[i], rmax)) {
            imax = i;
            rmax = r[i];
        }
    }
    return choosePitch(plag, r, np, imax, cpplast);
}

}  // namespace

int16_t coarsePitch(const int16_t* xw, EncoderState* st) {
    int32_t yd[FRSZD];
    const int32_t peak = decimate(xw, st->dfm, yd);
    int16_t w[LXD];
    scaleDecimated(yd, peak, st, w);
    LagAnalysis la;
    analyseLags(w, &la);
    const int16_t cpp = coarsePitchOf(la, st->cpplast);
    st->cpplast = cpp;
    return cpp;
}

int16_t finePitch(const int16_t* d, int16_t cpp, int16_t* ppt) {
    int16_t y[LX];
    for (int i = 0; i < LX; ++i) y[i] = shr(d[i], 3);

    int16_t c = cpp;
    if (c >= MAXPP) c = MAXPP - 1;
    if (c < MINPP) c = MINPP;
    int16_t lb = sub(c, 6);
    if (lb < MINPP) lb = MINPP;
    int16_t ub = add(c, 6);
    if (ub >= MAXPP) ub = MAXPP - 1;

    int32_t cor = 0, en = 0;
    for (int n = XOFF; n < LX; ++n) {
        en = L_mac0(en, y[n - lb], y[n - lb]);
        cor = L_mac0(cor, y[n - lb], y[n]);
    }
    int16_t pp = lb;
    int32_t cbest = cor, ebest = en;
    int16_t eEb = norm_l(en);
    int16_t eMb = extract_h(L_shl(en, eEb));
    int16_t cEb = norm_l(cor);
    int16_t t = extract_h(L_shl(cor, cEb));
    cEb = shl(cEb, 1);
    int16_t c2b = extract_h(L_mult(t, t));

    for (int i = lb + 1; i <= ub; ++i) {
        cor = 0;
        for (int n = XOFF; n < LX; ++n) cor = L_mac0(cor, y[n], y[n - i]);
        int16_t cE = norm_l(cor);
        t = extract_h(L_shl(cor, cE));
        cE = shl(cE, 1);
        const int16_t c2 = extract_h(L_mult(t, t));

        en = L_msu0(en, y[LX - i], y[LX - i]);
        en = L_mac0(en, y[XOFF - i], y[XOFF - i]);
        const int16_t eE = norm_l(en);
        const int16_t eM = extract_h(L_shl(en, eE));

        int32_t u = L_mult(c2, eMb);
        int32_t v = L_mult(c2b, eM);
        if (u != 0 && v != 0) {
            const int16_t su = add(cE, eEb);
            const int16_t sv = add(cEb, eE);
            if (su >= sv) {
                u = L_shr(u, sub(su, sv));
            } else {
                v = L_shr(v, sub(sv, su));
            }
        }
        if (u > v && eM > 0) {
            pp = static_cast<int16_t>(i);
            cbest = cor;
            ebest = en;
            c2b = c2;
            cEb = cE;
            eMb = eM;
            eEb = eE;
        }
    }

    if (ebest == 0 || cbest <= 0) {
        *ppt = 0;
    } else {
        const int16_t a = sub(norm_l(cbest), 1);
        const int16_t b = norm_l(ebest);
        const int16_t sa = extract_h(L_shl(cbest, a));
        const int16_t sb = extract_h(L_shl(ebest, b));
        *ppt = shl(div_s(sa, sb), sub(sub(b, a), 6));
    }
    return pp;
}

int16_t quantisePitchTaps(const int16_t* d, int16_t pp, int16_t* bq) {
    const int16_t* target = d + XOFF;
    int32_t p[9];
    for (int i = 0; i < 3; ++i) {
        int32_t acc = 1;
        const int16_t* past = target - pp + 1 - i;
        for (int n = 0; n < FRSZ; ++n) acc = L_mac0(acc, target[n], past[n]);
        p[i] = acc;
    }

    const int16_t* z = d + XOFF - pp - 1;
    p[8] = L_mult0(z[0], z[0]);
    const int32_t t0 = p[8];
    p[4] = L_mult0(z[0], z[1]);
    const int32_t t1 = p[4];
    p[5] = L_mult0(z[0], z[2]);
    const int32_t t2 = L_mult0(z[1], z[1]);
    p[8] = L_add(p[8], t2);
    p[4] = L_mac0(p[4], z[1], z[2]);
    p[5] = L_mac0(p[5], z[1], z[3]);
    for (int m = 2; m < FRSZ; ++m) {
        p[8] = L_mac0(p[8], z[m], z[m]);
        p[4] = L_mac0(p[4], z[m], z[m + 1]);
        p[5] = L_mac0(p[5], z[m], z[m + 2]);
    }
    p[7] = L_mac0(L_sub(p[8], t0), z[80], z[80]);
    p[3] = L_mac0(L_sub(p[4], t1), z[80], z[81]);
    p[6] = L_mac0(L_sub(p[7], t2), z[81], z[81]);

    int16_t ns = 32;
    for (int i = 0; i < 9; ++i) {
        if (p[i] != 0 && norm_l(p[i]) < ns) ns = norm_l(p[i]);
    }
    ns = sub(ns, 2);
    int16_t ps[9];
    for (int i = 0; i < 9; ++i) ps[i] = extract_h(L_shl(p[i], ns));

    int32_t best = kMin32;
    int16_t idx = 0;
    for (int j = 0; j < 32; ++j) {
        int32_t acc = 0;
        for (int k = 0; k < 9; ++k) acc = L_mac(acc, tab::pp9cb[j][k], ps[k]);
        if (acc > best) {
            best = acc;
            idx = static_cast<int16_t>(j);
        }
    }
    for (int i = 0; i < 3; ++i) bq[i] = tab::pp9cb[idx][i];
    return idx;
}

int16_t noiseFeedbackFactor(int16_t ppt) {
    if (ppt > 512) return LTWFL;
    if (ppt <= 0) return 0;
    return extract_h(L_shl(L_mult(LTWFL, ppt), 6));
}

}  // namespace bv32
}  // namespace vxs
