#include "audio/codec/bv32/bv32_plc.h"

#include <cstring>

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_filters.h"
#include "audio/codec/bv32/bv32_gain.h"
#include "audio/codec/bv32/bv32_lsp_quantiser.h"
#include "audio/codec/bv32/bv32_math.h"
#include "audio/codec/bv32/bv32_state.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

constexpr int kHalf = FRSZ / 2;
constexpr int16_t kMaxCount = HoldPLCG + AttnPLCG - 1;
constexpr int32_t kLog2Of40 = 178574274;  // Q25

void unscaleMemories(DecoderState* st) {
    for (int i = 0; i < LPCO; ++i) st->stsym[i] = shr(st->stsym[i], st->prv_exp);
    st->depfm = shr(st->depfm, st->prv_exp);
    st->dezfm = shr(st->dezfm, st->prv_exp);
    st->prv_exp = 0;
}

// Linear-congruential noise; returns its energy (samples scaled down by 8).
int32_t makeNoise(uint32_t* idum, int16_t* r) {
    int32_t en = 0;
    for (int n = 0; n < kHalf; ++n) {
        *idum = 1664525u * *idum + 1013904223u;
        r[n] = static_cast<int16_t>(static_cast<uint16_t>((*idum >> 16) - 32767u));
        const int16_t t = shr(r[n], 3);
        en = L_mac0(en, t, t);
    }
    return en;
}

int16_t periodicityScale(int16_t per) {
    int16_t sc = add(ScPLCG_a, mult(ScPLCG_b, per));
    if (sc < ScPLCGmin) sc = ScPLCGmin;
    if (sc > ScPLCGmax) sc = ScPLCGmax;
    return shl(sc, 1);
}

// Gain (mantissa gn, exponent ge) that gives the noise the energy e of the last good subframe.
void noiseGain(int32_t e, int32_t en, int16_t sc, int16_t* gn, int16_t* ge) {
    const int16_t e1 = sub(norm_l(e), 1);
    const int16_t w1 = extract_h(L_shl(e, e1));
    int16_t e2 = norm_l(en);
    const int16_t w2 = extract_h(L_shl(en, e2));
    e2 = sub(e2, 6);
    int16_t g = div_s(w1, w2);
    int16_t x = add(sub(e1, e2), 15);
    if ((x & 1) == 0) {
        g = shr(g, 1);
        x = sub(x, 1);
    }
    g = sqrts(g);
    x = add(shr(sub(x, 15), 1), 15);
    *gn = mult(g, sc);
    *ge = sub(x, 16);
}

void deemphasise(DecoderState* st, const int16_t* y, int16_t* out) {
    for (int n = 0; n < kHalf; ++n) {
        int32_t acc = L_deposit_h(y[n]);
        acc = L_mac(acc, -16384, st->depfm);
        st->depfm = ops::round(acc);
        acc = L_mac(acc, 24576, st->dezfm);
        st->dezfm = st->depfm;
        out[n] = ops::round(acc);
    }
}

void updateGainPredictor(DecoderState* st) {
    int32_t lg = 0;
    if (st->E > TMinlgXsfsz) {
        int16_t ei, ef;
        Log2(st->E, &ei, &ef);
        lg = L_add(L_shl(L_deposit_h(ei), 9), L_shr(L_deposit_h(ef), 6));
        lg = L_sub(lg, kLog2Of40);
    }
    const int32_t m = L_sub(lg, L_shr(L_deposit_h(tab::lgmean[0]), 2));
    int32_t pe = 0;
    for (int k = 0; k < LGPORDER; ++k) pe = L_mac0(pe, tab::lgp[k], st->lgpm[k]);
    pe = L_shr(pe, 1);
    const int16_t v = ops::round(L_shl(L_sub(m, pe), 2));
    for (int k = LGPORDER - 1; k > 0; --k) st->lgpm[k] = st->lgpm[k - 1];
    st->lgpm[0] = v;
    st->prevlg[1] = st->prevlg[0];
    st->prevlg[0] = lg;
}

void updateLspPredictor(DecoderState* st) {
    int16_t elsp[LPCO], qe[LPCO];
    predictLsp(st->lsppm, elsp);
    for (int i = 0; i < LPCO; ++i) qe[i] = sub(sub(st->lsplast[i], tab::lspmean[i]), elsp[i]);
    bv32::updateLspPredictor(st->lsppm, qe);
}

void attenuate(DecoderState* st) {
    if (st->cfecount < HoldPLCG) return;
    int32_t acc = L_mult0(-AttnFacPLCG, sub(st->cfecount, HoldPLCG - 1));
    acc = L_add(1048576, acc);
    int16_t ga = ops::round(L_shl(acc, 11));
    for (int i = 0; i < 3; ++i) st->bq_last[i] = mult(ga, st->bq_last[i]);
    ga = mult(ga, ga);
    st->E = Mpy_32_16(st->E, ga);
}

}  // namespace

void concealLostFrame(DecoderState* st, int16_t* out) {
    unscaleMemories(st);
    int16_t d[LX];
    std::memcpy(d, st->ltsym, sizeof(st->ltsym));
    if (st->cfecount < kMaxCount) st->cfecount = add(st->cfecount, 1);

    // Before the first good frame the taps are zero and the lag is unset; any
    // valid lag then gives the same output and keeps the reads inside d.
    const int lag = st->pp_last < MINPP ? MINPP : st->pp_last;
    for (int h = 0; h < 2; ++h) {
        const int c0 = XOFF + kHalf * h;
        int16_t r[kHalf];
        const int32_t en = makeNoise(&st->idum, r);
        int16_t gn, ge;
        noiseGain(st->E, en, periodicityScale(st->per), &gn, &ge);

        for (int n = 0; n < kHalf; ++n) {
            const int c = c0 + n;
            int32_t acc = L_shr(L_mult(gn, r[n]), ge);
            acc = L_mac(acc, st->bq_last[0], d[c - lag + 1]);
            acc = L_mac(acc, st->bq_last[1], d[c - lag]);
            acc = L_mac(acc, st->bq_last[2], d[c - lag - 1]);
            d[c] = ops::round(acc);
        }

        int16_t y[kHalf];
        apFilterQ1(st->atplc, LPCO, d + c0, y, kHalf, st->stsym, true);
        deemphasise(st, y, out + kHalf * h);
        updateGainPredictor(st);
        estimateLevel(&st->est, st->prevlg[0]);
    }

    std::memcpy(st->ltsym, d + FRSZ, sizeof(st->ltsym));
    updateLspPredictor(st);
    attenuate(st);
}

}  // namespace bv32
}  // namespace vxs
