// Pitch analysis of the BroadVoice32 encoder: coarse search on the 8:1
// decimated weighted signal, fine search on the residual, 3-tap predictor VQ.
//
// Threading: pure functions over caller-owned state.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_PITCH_H
#define VXS_AUDIO_CODEC_BV32_BV32_PITCH_H

#include <cstdint>

namespace vxs {
namespace bv32 {

struct EncoderState;

// Coarse pitch (in 16 kHz samples) from the 80 weighted samples xw; updates
// the decimation memory, the decimated history and cpplast in the state.
int16_t coarsePitch(const int16_t* xw, EncoderState* st);

// Fine pitch around cpp on the residual buffer d[0..345] (current frame at 266);
// writes the single-tap prediction gain *ppt (Q9).
int16_t finePitch(const int16_t* d, int16_t cpp, int16_t* ppt);

// 3-tap predictor VQ at lag pp; returns the index and writes the taps bq[0..2] (Q15).
int16_t quantisePitchTaps(const int16_t* d, int16_t pp, int16_t* bq);

// Long-term noise-feedback factor (Q13) from the single-tap gain.
int16_t noiseFeedbackFactor(int16_t ppt);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_PITCH_H
