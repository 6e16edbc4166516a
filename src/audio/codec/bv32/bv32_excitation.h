// Excitation coding of the BroadVoice32 codec: two-stage noise-feedback vector
// quantisation (encoder) and long-term synthesis of the excitation (decoder).
//
// Threading: pure functions over caller-owned buffers.
// Buffers with history (d, ls, ln) point at the first sample of the subframe;
// at least 266 past samples must be readable before it.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_EXCITATION_H
#define VXS_AUDIO_CODEC_BV32_BV32_EXCITATION_H

#include <cstdint>

#include "audio/codec/bv32/bv32_constants.h"

namespace vxs {
namespace bv32 {

// Gain-scaled shape codebook of one subframe.
struct ScaledCodebook {
    int16_t cb[CBSZ][VDIM];
    int16_t gexp;  // block exponent of cb
};

// Normalises the linear gain G and scales the shape codebook with it.
void scaleCodebook(int32_t gain, ScaledCodebook* out);

// Energy of the 3-tap pitch prediction residual of one subframe of d.
int32_t pitchResidualEnergy(const int16_t* d, int16_t pp, const int16_t* bq);

struct ExcitationInput {
    const int16_t* aw;  // short-term noise-feedback filter, Q12
    const int16_t* bq;  // pitch taps, Q15
    int16_t beta;       // long-term noise-feedback factor, Q13
    int16_t pp;         // pitch lag
    const ScaledCodebook* cb;
};

// Quantises one subframe. d holds the residual on entry and the quantised
// excitation on return; stnfm is the short-term noise-feedback memory.
void quantiseExcitation(const ExcitationInput& in, int16_t* d, int16_t* stnfm, int16_t* ls,
                        int16_t* ln, int16_t* qvidx);

// Decodes one subframe of excitation into ls (Q1) and ex (Q16); returns its energy.
int32_t decodeExcitation(const int16_t* qvidx, const ScaledCodebook& cb, int16_t pp,
                         const int16_t* bq, int16_t* ls, int32_t* ex);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_EXCITATION_H
