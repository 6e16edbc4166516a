#include "audio/codec/bv32/bv32_gain.h"

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_math.h"
#include "audio/codec/bv32/bv32_state.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

inline int32_t codebookLogGain(int16_t value, int32_t elg) {
    return L_add(L_shr(L_deposit_h(value), 2), elg);
}

inline int16_t clampBin(int16_t v, int16_t bins) {
    if (v < 0) return 0;
    if (v >= bins) return static_cast<int16_t>(bins - 1);
    return v;
}

// Row (signal level) and column (last gain change) of the gain-change limit table.
int16_t gainChangeLimit(const int32_t* prevlg, int32_t level) {
    const int16_t row =
        clampBin(shr(sub(shr(extract_h(L_sub(prevlg[0], level)), 9), LGLB), 1), NGB);
    const int16_t col =
        clampBin(shr(sub(shr(extract_h(L_sub(prevlg[0], prevlg[1])), 9), LGCLB), 1), NGCB);
    return tab::lgclimit[row][col];
}

void shiftGainMemory(int16_t* lgpm) {
    for (int i = LGPORDER - 1; i > 0; --i) lgpm[i] = lgpm[i - 1];
}

int32_t logGainOfEnergy(int32_t ee) {
    if (ee < TMinE) return MinE;
    int16_t ei, ef;
    Log2(Mpy_32_16(ee, 6554), &ei, &ef);
    ei = sub(ei, 4);
    return L_add(L_shl(L_deposit_h(ei), 9), L_shr(L_deposit_h(ef), 6));
}

// mul(A, c) of the level estimator: A split into DPF, times a Q15 constant.
inline int32_t mul(int32_t a, int16_t c) { return Mpy_32_16(a, c); }

}  // namespace

int32_t predictLogGain(const int16_t* lgpm) {
    int32_t elg = L_shr(L_deposit_h(tab::lgmean[0]), 1);
    for (int i = 0; i < LGPORDER; ++i) elg = L_mac0(elg, tab::lgp[i], lgpm[i]);
    return L_shr(elg, 1);
}

int16_t quantiseLogGain(int32_t ee, int32_t level, int32_t* prevlg, int16_t* lgpm,
                        int32_t* lgq) {
    const int32_t lg = logGainOfEnergy(ee);
    const int32_t elg = predictLogGain(lgpm);
    const int16_t pe = ops::round(L_shl(L_sub(lg, elg), 2));

    int16_t dmin = 32767;
    int r = 0;
    for (int k = 0; k < LGPECBSZ; ++k) {
        const int16_t dd = abs_s(sub(pe, tab::lgpecb[tab::idxord[k]]));
        if (dd < dmin) {
            dmin = dd;
            r = k;
        }
    }
    int32_t q = codebookLogGain(tab::lgpecb[tab::idxord[r]], elg);
    const int32_t limit = L_add(prevlg[0], L_deposit_h(gainChangeLimit(prevlg, level)));
    while (q > limit && r > 0) {
        --r;
        q = codebookLogGain(tab::lgpecb[tab::idxord[r]], elg);
    }
    const int16_t gidx = tab::idxord[r];

    prevlg[1] = prevlg[0];
    prevlg[0] = q;
    shiftGainMemory(lgpm);
    lgpm[0] = tab::lgpecb[gidx];
    *lgq = q;
    return gidx;
}

int32_t decodeLogGain(int16_t gidx, int32_t level, int32_t* prevlg, int16_t* lgpm,
                      int16_t* nclglim, int16_t* lctimer) {
    const int32_t elg = predictLogGain(lgpm);
    int32_t lgq = codebookLogGain(tab::lgpecb[gidx], elg);

    // A decoded gain just below the minimum snaps to it when the next larger
    // codebook level is closer to the minimum.
    if (gidx < LGPECBSZ - 1) {
        const int32_t lnh = codebookLogGain(tab::lgpecb_nh[gidx], elg);
        constexpr int32_t kSnapPoint = MinE - 8192;
        if (lgq < kSnapPoint && L_abs(L_sub(lnh, kSnapPoint)) < L_abs(L_sub(lgq, kSnapPoint))) {
            lgq = MinE;
        }
    }

    const int16_t limit = gainChangeLimit(prevlg, level);
    shiftGainMemory(lgpm);
    const int16_t lgc = extract_h(L_sub(lgq, prevlg[0]));
    if (lgc > limit && gidx > 0 && *lctimer == 0) {
        lgq = prevlg[0];
        lgpm[0] = extract_h(L_shl(L_sub(lgq, elg), 2));
        *nclglim = static_cast<int16_t>(*nclglim + 1);
        if (*nclglim > NCLGLIM_TRAPPED) *nclglim = NCLGLIM_TRAPPED;
    } else {
        lgpm[0] = tab::lgpecb[gidx];
        *nclglim = 0;
    }
    prevlg[1] = prevlg[0];
    prevlg[0] = lgq;

    if (*lctimer > 0) *lctimer = static_cast<int16_t>(*lctimer - 1);
    if (*nclglim == NCLGLIM_TRAPPED) *lctimer = LEVEL_CONVERGENCE_TIME;
    return lgq;
}

int32_t linearGain(int32_t lgq) {
    int16_t gi, gf;
    L_Extract(L_shr(lgq, 10), &gi, &gf);
    return Pow2(add(gi, 18), gf);
}

void estimateLevel(LevelEstimator* est, int32_t lg) {
    if (lg > est->lmax) {
        est->lmax = lg;
    } else {
        est->lmax = L_add(mul(L_sub(est->lmax, est->lmean), estl_alpha), est->lmean);
    }
    if (lg < est->lmin) {
        est->lmin = lg;
    } else {
        est->lmin = L_add(mul(L_sub(est->lmin, est->lmean), estl_alpha), est->lmean);
    }
    est->lmean = L_add(mul(L_shr(L_add(est->lmax, est->lmin), 1), estl_beta1),
                       mul(est->lmean, estl_beta));
    const int32_t lth = L_add(est->lmean, mul(L_sub(est->lmax, est->lmean), estl_TH));
    if (lg > lth) {
        est->x1 = L_add(mul(est->x1, estl_a), mul(lg, estl_a1));
        est->level = L_add(mul(est->level, estl_a), mul(est->x1, estl_a1));
    }
}

}  // namespace bv32
}  // namespace vxs
