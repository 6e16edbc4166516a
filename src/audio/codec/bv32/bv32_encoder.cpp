// BroadVoice32 encoder: pre-processing, LPC analysis and the per-frame order
// of the coding blocks.
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
#include "audio/codec/bv32/bv32_pitch.h"
#include "audio/codec/bv32/bv32_state.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

// Combined DC-removal high-pass and pre-emphasis filter; the recursion keeps
// its output before the final doubling, in DPF.
void preprocess(const int16_t* s, EncoderState* st, int16_t* out) {
    int16_t* pm = st->hpfpm;
    int16_t* zm = st->hpfzm;
    for (int n = 0; n < FRSZ; ++n) {
        int32_t acc = Mpy_32_16(pm[0], pm[1], tab::hpfa[1]);
        acc = L_add(acc, Mpy_32_16(pm[2], pm[3], tab::hpfa[2]));
        acc = L_mac(acc, s[n], tab::hpfb[0]);
        acc = L_mac(acc, zm[0], tab::hpfb[1]);
        acc = L_mac(acc, zm[1], tab::hpfb[2]);
        pm[2] = pm[0];
        pm[3] = pm[1];
        L_Extract(acc, &pm[0], &pm[1]);
        out[n] = ops::round(L_shl(acc, 1));
        zm[1] = zm[0];
        zm[0] = s[n];
    }
}

// Unquantised LSPs of the current frame from the last 160 pre-processed samples.
void analyseLpc(const int16_t* x, EncoderState* st, int16_t* lsp) {
    int32_t r[LPCO + 1];
    int16_t a[LPCO + 1];
    autocorrelation(x + LX - WINSZ, tab::winl, r);
    lagWindow(r);
    levinson(r, a, st->old_a);
    for (int i = 1; i <= LPCO; ++i) a[i] = mult_r(tab::bwel[i], a[i]);
    a2lsp(a, st->lsplast, lsp);
    std::memcpy(st->lsplast, lsp, sizeof(st->lsplast));
}

void weightedSignal(const int16_t* d, const int16_t* aw, EncoderState* st, int16_t* xw) {
    int16_t v[FRSZ];
    for (int n = 0; n < FRSZ; ++n) v[n] = shr(d[n], 2);
    apFilterQ0(aw, LPCO, v, xw, FRSZ, st->stwpm, true);
}

void encode(EncoderState* st, const int16_t* pcm, FrameParams* p) {
    int16_t x[LX];
    std::memcpy(x, st->x, sizeof(st->x));
    preprocess(pcm, st, x + XOFF);
    std::memcpy(st->x, x + FRSZ, sizeof(st->x));

    int16_t lsp[LPCO], lspq[LPCO], a[LPCO + 1], aw[LPCO + 1];
    analyseLpc(x, st, lsp);
    quantiseLsp(lsp, st->lsppm, lspq, p->lspidx);
    lsp2a(lspq, a);

    int16_t d[LX];
    std::memcpy(d, st->dq, sizeof(st->dq));
    azFilter(a, LPCO, x + XOFF, d + XOFF, FRSZ, 5);
    aw[0] = a[0];
    for (int i = 1; i <= LPCO; ++i) aw[i] = mult_r(tab::STWAL[i], a[i]);

    int16_t xw[FRSZ];
    weightedSignal(d + XOFF, aw, st, xw);
    const int16_t cpp = coarsePitch(xw, st);
    int16_t ppt;
    const int16_t pp = finePitch(d, cpp, &ppt);
    p->ppidx = static_cast<int16_t>(pp - MINPP);
    int16_t bq[3];
    p->bqidx = quantisePitchTaps(d, pp, bq);

    int16_t ls[LX], ln[LX];
    std::memcpy(ls, st->ltsym, sizeof(st->ltsym));
    std::memcpy(ln, st->ltnfm, sizeof(st->ltnfm));

    ScaledCodebook cb;
    ExcitationInput in{aw, bq, noiseFeedbackFactor(ppt), pp, &cb};
    for (int ssf = 0; ssf < NSF; ++ssf) {
        const int o = XOFF + SFSZ * ssf;
        const int32_t ee = pitchResidualEnergy(d + o, pp, bq);
        int32_t lgq;
        p->gidx[ssf] = quantiseLogGain(ee, st->est.level, st->prevlg, st->lgpm, &lgq);
        scaleCodebook(linearGain(lgq), &cb);
        estimateLevel(&st->est, st->prevlg[0]);
        quantiseExcitation(in, d + o, st->stnfm, ls + o, ln + o, p->qvidx + NVPSF * ssf);
    }

    std::memcpy(st->dq, d + FRSZ, sizeof(st->dq));
    std::memcpy(st->ltsym, ls + FRSZ, sizeof(st->ltsym));
    std::memcpy(st->ltnfm, ln + FRSZ, sizeof(st->ltnfm));
}

}  // namespace

Encoder::Encoder() : state_(new (std::nothrow) EncoderState) { reset(); }

Encoder::~Encoder() { delete state_; }

void Encoder::reset() {
    if (state_) resetEncoderState(state_);
}

void Encoder::encodeFrame(const int16_t* pcm, uint8_t* packed) {
    if (!state_ || !pcm || !packed) return;
    FrameParams p;
    encode(state_, pcm, &p);
    packFrame(p, packed);
}

}  // namespace bv32
}  // namespace vxs
