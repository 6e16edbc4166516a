// 16 kHz -> 8 kHz down-sampler of the detector: a 19th-order Chebyshev type I
// low-pass (direct form I, double precision) followed by keeping every second
// sample, in blocks of 80 input samples. The filter writes into its own
// scratch block: the caller's input is never modified.
//
// Threading: one thread at a time per instance (the filter history is state).
#ifndef VXS_VAD_DNN_DOWNSAMPLER_H
#define VXS_VAD_DNN_DOWNSAMPLER_H

#include <cstdint>

namespace vx_dnnvad {

class DownSampler {
public:
    static constexpr int kOrder = 19;
    static constexpr int kBlock = 80;  // input samples per block
    static constexpr int kBlockOut = kBlock / 2;
    static const double kA[kOrder + 1];  // feedback coefficients, a[0] = 1
    static const double kB[kOrder + 1];  // feed-forward coefficients

    DownSampler() { reset(); }
    // Clears the history; the next block is treated as the stream's first,
    // whose first 19 samples pass unfiltered and stay out of the history.
    void reset();
    // Filters one block of kBlock samples and writes its kBlockOut even-indexed
    // outputs, each truncated toward zero and saturated to 16 bits.
    void processBlock(const int16_t* in, int16_t* out);

private:
    // Oldest first: [0, kOrder) the previous inputs/outputs, then the block.
    double xs[kOrder + kBlock];
    double ys[kOrder + kBlock];
    bool firstBlock;
};

}  // namespace vx_dnnvad

#endif
