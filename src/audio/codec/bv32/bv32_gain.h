// Log-gain prediction, quantisation and decoding, and the signal-level
// estimator of the BroadVoice32 codec.
//
// Threading: pure functions over caller-owned state.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_GAIN_H
#define VXS_AUDIO_CODEC_BV32_BV32_GAIN_H

#include <cstdint>

namespace vxs {
namespace bv32 {

struct LevelEstimator;

// Predicted log-gain (Q25) from the 16 past quantised prediction errors (Q11).
int32_t predictLogGain(const int16_t* lgpm);

// Quantises the log-gain of a subframe with residual energy ee. Updates prevlg
// and lgpm; returns the transmitted index and writes the quantised log-gain.
int16_t quantiseLogGain(int32_t ee, int32_t level, int32_t* prevlg, int16_t* lgpm,
                        int32_t* lgq);

// Decoder side of the above, including the decoder's minimum snap, gain-change
// limiter and its trap timer. Returns the quantised log-gain (Q25).
int32_t decodeLogGain(int16_t gidx, int32_t level, int32_t* prevlg, int16_t* lgpm,
                      int16_t* nclglim, int16_t* lctimer);

// Linear gain 2^(lgq/2 + 18) of a quantised log-gain.
int32_t linearGain(int32_t lgq);

// Updates the level estimate with the new log-gain lg.
void estimateLevel(LevelEstimator* est, int32_t lg);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_GAIN_H
