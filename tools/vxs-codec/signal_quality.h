// Objective distance between a reference signal and a coded copy of it: the
// plain SNR and the segmental SNR (20 ms segments, each clamped to -10..35 dB,
// pauses more than 30 dB below the loudest segment skipped), measured at the
// codec delay that best aligns the two. Also the level of the coded copy
// against the reference, so that a silent output cannot pass for 0 dB SNR.
//
// Threading: pure functions.
#ifndef VXS_TOOLS_VXS_CODEC_SIGNAL_QUALITY_H
#define VXS_TOOLS_VXS_CODEC_SIGNAL_QUALITY_H

#include <cstddef>
#include <cstdint>

namespace vxs {
namespace codec_io {

struct SignalQuality {
    double snrDb = 0.0;
    double segmentalSnrDb = 0.0;
    double levelDb = 0.0;     // energy of the coded copy relative to the reference
    int delaySamples = 0;     // how far the coded copy lags the reference
    size_t comparedSamples = 0;
    bool valid = false;       // false when there is nothing to compare
};

// Searches delays 0..maxDelaySamples for the best alignment.
SignalQuality compareSignals(const int16_t* reference, size_t referenceSamples, const int16_t* coded,
                             size_t codedSamples, int sampleRate, int maxDelaySamples);

}  // namespace codec_io
}  // namespace vxs

#endif  // VXS_TOOLS_VXS_CODEC_SIGNAL_QUALITY_H
