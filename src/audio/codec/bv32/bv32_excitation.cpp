#include "audio/codec/bv32/bv32_excitation.h"

#include <cstring>

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

constexpr int kSignBit = 32;

inline int32_t pitchPrediction(const int16_t* x, int16_t pp, const int16_t* bq) {
    int32_t p = L_mult0(x[-pp + 1], bq[0]);
    p = L_mac0(p, x[-pp], bq[1]);
    return L_mac0(p, x[-pp - 1], bq[2]);
}

// Zero-state response of the short-term feedback loop to every codevector.
void zeroStateResponses(const ScaledCodebook& cb, const int16_t* aw, int16_t z[CBSZ][VDIM]) {
    for (int j = 0; j < CBSZ; ++j) {
        z[j][0] = shr(cb.cb[j][0], 1);
        for (int n = 1; n < VDIM; ++n) {
            int32_t acc = 0;
            for (int i = 0; i < n; ++i) acc = L_msu0(acc, z[j][i], aw[n - i]);
            acc = L_shl(acc, 4);
            acc = L_add(L_shr(L_deposit_h(cb.cb[j][n]), 1), acc);
            z[j][n] = ops::round(acc);
        }
    }
}

// Target minus short-term noise feedback; f points at the feedback value of
// the current sample (f[-8..-1] are the previous ones).
inline int32_t shortTermTarget(int16_t d, const int16_t* f, const int16_t* aw) {
    int32_t acc = L_mult(d, 2048);
    for (int i = LPCO; i >= 1; --i) acc = L_msu(acc, f[-i], aw[i]);
    return L_shl(acc, 3);
}

// Zero-state responses with what the fast codebook search needs.
struct ZeroStateCodebook {
    int16_t z[CBSZ][VDIM];
    int64_t energy[CBSZ];  // sum of z^2 per codevector
    int32_t peak;          // largest |z| over the codebook
};

inline int32_t magnitude(int16_t v) { return v < 0 ? -int32_t(v) : int32_t(v); }

// Saturating error energy of one signed codevector.
inline int32_t vectorError(const int16_t* zir4, const int16_t* z, bool negative) {
    int32_t e = 0;
    for (int k = 0; k < VDIM; ++k) {
        const int16_t v = negative ? add(zir4[k], z[k]) : sub(zir4[k], z[k]);
        e = L_mac0(e, v, v);
    }
    return e;
}

// For equal errors the lower index and the positive sign win.
int16_t searchSaturating(const int16_t* zir4, const ZeroStateCodebook& zs) {
    int32_t emin = kMax32;
    int16_t best = 0;
    for (int j = 0; j < CBSZ; ++j) {
        const int32_t ep = vectorError(zir4, zs.z[j], false);
        if (L_sub(ep, emin) < 0) {
            emin = ep;
            best = static_cast<int16_t>(j);
        }
        const int32_t en = vectorError(zir4, zs.z[j], true);
        if (L_sub(en, emin) < 0) {
            emin = en;
            best = static_cast<int16_t>(j + kSignBit);
        }
    }
    return best;
}

// Same result as searchSaturating when no difference zir4 -/+ z can leave the
// 16-bit range: the errors are then |zir4|^2 + |z|^2 -/+ 2 zir4.z exactly, and
// an error the 32-bit accumulator would clip to MAX_32 can never be below the
// running minimum, so comparing the exact values picks the same codevector.
int16_t searchExact(const int16_t* zir4, const ZeroStateCodebook& zs) {
    int64_t ez = 0;
    for (int k = 0; k < VDIM; ++k) ez += int32_t(zir4[k]) * zir4[k];
    int64_t emin = kMax32;
    int16_t best = 0;
    for (int j = 0; j < CBSZ; ++j) {
        const int16_t* z = zs.z[j];
        int64_t dot = 0;
        for (int k = 0; k < VDIM; ++k) dot += int32_t(zir4[k]) * z[k];
        const int64_t common = ez + zs.energy[j];
        const int64_t ep = common - 2 * dot;
        if (ep < emin) {
            emin = ep;
            best = static_cast<int16_t>(j);
        }
        const int64_t en = common + 2 * dot;
        if (en < emin) {
            emin = en;
            best = static_cast<int16_t>(j + kSignBit);
        }
    }
    return best;
}

int16_t searchCodebook(const int16_t* zir, const ZeroStateCodebook& zs) {
    int16_t zir4[VDIM];
    int32_t peak = 0;
    for (int k = 0; k < VDIM; ++k) {
        zir4[k] = shl(zir[k], 2);
        if (magnitude(zir4[k]) > peak) peak = magnitude(zir4[k]);
    }
    if (peak + zs.peak <= kMax16) return searchExact(zir4, zs);
    return searchSaturating(zir4, zs);
}

void prepareZeroState(const ScaledCodebook& cb, const int16_t* aw, ZeroStateCodebook* zs) {
    zeroStateResponses(cb, aw, zs->z);
    zs->peak = 0;
    for (int j = 0; j < CBSZ; ++j) {
        int64_t e = 0;
        for (int k = 0; k < VDIM; ++k) {
            e += int32_t(zs->z[j][k]) * zs->z[j][k];
            if (magnitude(zs->z[j][k]) > zs->peak) zs->peak = magnitude(zs->z[j][k]);
        }
        zs->energy[j] = e;
    }
}

}  // namespace

void scaleCodebook(int32_t gain, ScaledCodebook* out) {
    out->gexp = sub(norm_l(gain), 2);
    const int16_t g = ops::round(L_shl(gain, out->gexp));
    for (int j = 0; j < CBSZ; ++j) {
        for (int k = 0; k < VDIM; ++k) out->cb[j][k] = mult_r(g, tab::cccb[j][k]);
    }
}

int32_t pitchResidualEnergy(const int16_t* d, int16_t pp, const int16_t* bq) {
    int32_t ee = 0;
    for (int n = 0; n < SFSZ; ++n) {
        const int16_t* x = d + n;
        int32_t t = L_mult(x[0], 16384);
        t = L_msu0(t, bq[0], x[-pp + 1]);
        t = L_msu0(t, bq[1], x[-pp]);
        t = L_msu0(t, bq[2], x[-pp - 1]);
        const int16_t r = ops::round(t);
        ee = L_mac(ee, r, r);
    }
    return ee;
}

void quantiseExcitation(const ExcitationInput& in, int16_t* d, int16_t* stnfm, int16_t* ls,
                        int16_t* ln, int16_t* qvidx) {
    const ScaledCodebook& cb = *in.cb;
    const int16_t g3 = sub(cb.gexp, 3);
    int16_t fbuf[LPCO + SFSZ];
    std::memcpy(fbuf, stnfm, sizeof(int16_t) * LPCO);
    int16_t* f = fbuf + LPCO;

    ZeroStateCodebook zs;
    prepareZeroState(cb, in.aw, &zs);

    for (int v = 0; v < NVPSF; ++v) {
        const int n0 = VDIM * v;
        int32_t ppv[VDIM], ltfv[VDIM];
        for (int k = 0; k < VDIM; ++k) {
            const int n = n0 + k;
            ppv[k] = pitchPrediction(ls + n, in.pp, in.bq);
            const int32_t q = L_shl(L_mult0(ln[n - in.pp], in.beta), 2);
            ltfv[k] = L_add(ppv[k], q);
        }

        // Zero-input response: provisional feedback values feed the later samples.
        int16_t zir[VDIM];
        for (int k = 0; k < VDIM; ++k) {
            const int n = n0 + k;
            const int32_t acc = shortTermTarget(d[n], f + n, in.aw);
            zir[k] = ops::round(L_shl(L_sub(acc, ltfv[k]), g3));
            f[n] = ops::round(L_sub(acc, ppv[k]));
        }

        const int16_t idx = searchCodebook(zir, zs);
        qvidx[v] = idx;
        const int16_t* shape = cb.cb[idx & (kSignBit - 1)];
        const bool negative = (idx & kSignBit) != 0;

        for (int k = 0; k < VDIM; ++k) {
            const int n = n0 + k;
            const int32_t acc = shortTermTarget(d[n], f + n, in.aw);
            const int16_t c = negative ? static_cast<int16_t>(-shape[k]) : shape[k];
            const int32_t q = L_shr(L_deposit_h(c), cb.gexp);
            const int32_t u = L_sub(L_sub(acc, ltfv[k]), q);
            ln[n] = ops::round(L_shl(u, 1));
            const int32_t e = L_add(q, ppv[k]);
            ls[n] = ops::round(L_shl(e, 1));
            d[n] = ls[n];
            f[n] = ops::round(L_sub(acc, e));
        }
    }
    std::memcpy(stnfm, f + SFSZ - LPCO, sizeof(int16_t) * LPCO);
}

int32_t decodeExcitation(const int16_t* qvidx, const ScaledCodebook& cb, int16_t pp,
                         const int16_t* bq, int16_t* ls, int32_t* ex) {
    int32_t energy = 0;
    for (int v = 0; v < NVPSF; ++v) {
        const bool negative = (qvidx[v] & kSignBit) != 0;
        const int16_t* shape = cb.cb[qvidx[v] & (kSignBit - 1)];
        for (int k = 0; k < VDIM; ++k) {
            const int n = VDIM * v + k;
            const int32_t p = pitchPrediction(ls + n, pp, bq);
            int32_t q = L_shr(L_deposit_h(shape[k]), cb.gexp);
            if (negative) q = L_negate(q);
            const int32_t e = L_add(p, q);
            ex[n] = e;
            ls[n] = ops::round(L_shl(e, 1));
            const int16_t t = ops::round(q);
            energy = L_mac0(energy, t, t);
        }
    }
    return energy;
}

}  // namespace bv32
}  // namespace vxs
