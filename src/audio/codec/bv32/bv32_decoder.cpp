// BroadVoice32 decoder: parameter decoding, excitation and synthesis with
// adaptive block scaling of the synthesis memories.
#include <cstring>
#include <new>

#include "audio/codec/bv32/bv32.h"
#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_excitation.h"
#include "audio/codec/bv32/bv32_filters.h"
#include "audio/codec/bv32/bv32_gain.h"
#include "audio/codec/bv32/bv32_lpc.h"
#include "audio/codec/bv32/bv32_lsp_quantiser.h"
#include "audio/codec/bv32/bv32_packing.h"
#include "audio/codec/bv32/bv32_plc.h"
#include "audio/codec/bv32/bv32_state.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

// Exponent that gives the trial synthesis one bit of headroom.
int16_t headroomExponent(const int16_t* a, const int16_t* ls, const DecoderState& st) {
    int16_t mem[LPCO], y[FRSZ];
    for (int i = 0; i < LPCO; ++i) mem[i] = shr(st.stsym[i], st.prv_exp);
    apFilterQ1(a, LPCO, ls, y, FRSZ, mem, false);
    int16_t mx = abs_s(y[0]);
    for (int i = 1; i < FRSZ; ++i) {
        if (abs_s(y[i]) > mx) mx = abs_s(y[i]);
    }
    if (mx == 0) return 15;
    const int16_t ne = sub(norm_s(mx), 1);
    return ne < 0 ? 0 : ne;
}

// Rescales the memories from prv_exp to ne, lowering ne while a memory would overflow.
int16_t rescaleMemories(DecoderState* st, int16_t ne) {
    int16_t de = sub(st->prv_exp, ne);
    for (;;) {
        st->overflow = 0;
        for (int i = 0; i < LPCO; ++i) shr_ov(st->stsym[i], de, &st->overflow);
        shr_ov(st->depfm, de, &st->overflow);
        shr_ov(st->dezfm, de, &st->overflow);
        if (!st->overflow) break;
        de = add(de, 1);
        ne = sub(ne, 1);
    }
    for (int i = 0; i < LPCO; ++i) st->stsym[i] = shr(st->stsym[i], de);
    st->depfm = shr(st->depfm, de);
    st->dezfm = shr(st->dezfm, de);
    return ne;
}

void synthesise(DecoderState* st, const int16_t* a, const int16_t* ls, const int32_t* ex,
                int16_t* out) {
    const int16_t ne = rescaleMemories(st, headroomExponent(a, ls, *st));

    int16_t u[FRSZ], s[FRSZ], t[FRSZ + 1];
    for (int i = 0; i < FRSZ; ++i) u[i] = ops::round(L_shl(ex[i], ne));
    apFilterQ0(a, LPCO, u, s, FRSZ, st->stsym, true);

    apFilterQ0(tab::b_pre, 1, s, t + 1, FRSZ, &st->depfm, true);
    t[0] = st->dezfm;
    for (int n = 0; n < FRSZ; ++n) {
        const int32_t acc = L_mac0(L_mult0(tab::a_pre[0], t[n + 1]), tab::a_pre[1], t[n]);
        const int16_t z = ops::round(L_shl(acc, 4));
        out[n] = ops::round(L_shr(L_deposit_h(z), ne));
    }
    st->dezfm = t[FRSZ];
    st->prv_exp = ne;
}

void updatePeriodicity(DecoderState* st, const int16_t* bq) {
    int32_t s = L_add(L_add(L_deposit_l(bq[0]), L_deposit_l(bq[1])), L_deposit_l(bq[2]));
    if (s < 0) s = 0;
    if (s > 32768) s = 32768;
    st->per = add(shr(st->per, 1), static_cast<int16_t>(L_shr(s, 1)));
}

void decode(DecoderState* st, const FrameParams& p, int16_t* out) {
    st->cfecount = 0;

    int16_t lspq[LPCO], a[LPCO + 1];
    decodeLsp(p.lspidx, st->lsplast, st->lsppm, lspq);
    lsp2a(lspq, a);

    const int16_t pp = static_cast<int16_t>(p.ppidx + MINPP);
    const int16_t* bq = tab::pp9cb[p.bqidx];

    int16_t ls[LX];
    int32_t ex[FRSZ];
    std::memcpy(ls, st->ltsym, sizeof(st->ltsym));

    int32_t lgqs[NSF];
    ScaledCodebook cb;
    for (int ssf = 0; ssf < NSF; ++ssf) {
        lgqs[ssf] = decodeLogGain(p.gidx[ssf], st->est.level, st->prevlg, st->lgpm, &st->nclglim,
                                  &st->lctimer);
        scaleCodebook(linearGain(lgqs[ssf]), &cb);
        estimateLevel(&st->est, st->prevlg[0]);
        st->E = decodeExcitation(p.qvidx + NVPSF * ssf, cb, pp, bq, ls + XOFF + SFSZ * ssf,
                                 ex + SFSZ * ssf);
    }

    synthesise(st, a, ls + XOFF, ex, out);

    std::memcpy(st->ltsym, ls + FRSZ, sizeof(st->ltsym));
    st->pp_last = pp;
    std::memcpy(st->bq_last, bq, sizeof(st->bq_last));
    st->lgq_last = L_shr(L_add(lgqs[0], lgqs[1]), 1);
    std::memcpy(st->atplc, a, sizeof(st->atplc));
    updatePeriodicity(st, bq);
}

}  // namespace

Decoder::Decoder() : state_(new (std::nothrow) DecoderState) { reset(); }

Decoder::~Decoder() { delete state_; }

void Decoder::reset() {
    if (state_) resetDecoderState(state_);
}

void Decoder::decodeFrame(const uint8_t* packed, int16_t* pcm) {
    if (!state_ || !packed || !pcm) return;
    FrameParams p;
    unpackFrame(packed, &p);
    decode(state_, p, pcm);
}

void Decoder::concealFrame(int16_t* pcm) {
    if (!state_ || !pcm) return;
    concealLostFrame(state_, pcm);
}

}  // namespace bv32
}  // namespace vxs
