// Persistent encoder and decoder state of the BroadVoice32 codec.
//
// Threading: a state belongs to one Encoder/Decoder and is touched only by the
// thread that currently uses that object.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_STATE_H
#define VXS_AUDIO_CODEC_BV32_BV32_STATE_H

#include <cstdint>

#include "audio/codec/bv32/bv32_constants.h"

namespace vxs {
namespace bv32 {

// Log-gain level estimator (all Q25).
struct LevelEstimator {
    int32_t lmax;
    int32_t lmin;
    int32_t lmean;
    int32_t x1;
    int32_t level;
};

struct EncoderState {
    int16_t hpfzm[2];     // pre-filter input memory
    int16_t hpfpm[4];     // pre-filter output memory, (hi, lo) pairs
    int16_t x[XOFF];      // past pre-processed input
    int16_t old_a[LPCO + 1];
    int16_t lsplast[LPCO];  // previous unquantised LSPs
    int16_t lsppm[LPCO * LSPPORDER];
    int16_t dq[XOFF];     // past quantised excitation (Q1)
    int16_t stwpm[LPCO];  // perceptual weighting filter memory
    int16_t dfm[2 * DFO];  // decimation filter memory, (lo, hi) pairs
    int16_t xwd[XDOFF];   // past decimated weighted signal, block-scaled
    int16_t xwd_exp;
    int16_t cpplast;
    int32_t prevlg[2];
    int16_t lgpm[LGPORDER];
    LevelEstimator est;
    int16_t stnfm[LPCO];  // short-term noise-feedback memory
    int16_t ltsym[XOFF];
    int16_t ltnfm[XOFF];
};

struct DecoderState {
    int16_t lsplast[LPCO];  // previous quantised LSPs
    int16_t lsppm[LPCO * LSPPORDER];
    int16_t ltsym[XOFF];
    int16_t lgpm[LGPORDER];
    int32_t prevlg[2];
    LevelEstimator est;
    int16_t nclglim;
    int16_t lctimer;
    int16_t stsym[LPCO];
    int16_t depfm;
    int16_t dezfm;
    int16_t prv_exp;
    int32_t lgq_last;
    int32_t E;            // excitation energy of the last subframe
    int16_t bq_last[3];
    int16_t pp_last;
    int16_t atplc[LPCO + 1];
    int16_t per;
    int16_t cfecount;
    uint32_t idum;
    int overflow;         // the basic operators' overflow flag
};

void resetEncoderState(EncoderState* s);
void resetDecoderState(DecoderState* s);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_STATE_H
