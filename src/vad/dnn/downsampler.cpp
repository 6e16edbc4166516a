#include "vad/dnn/downsampler.h"

#include <cmath>
#include <cstring>

namespace vx_dnnvad {

const double DownSampler::kA[kOrder + 1] = {
    1,
    -6.96098641403643,
    28.1608075533243,
    -82.042713709554,
    188.662921650366,
    -358.490643063379,
    578.435393248619,
    -805.987456408528,
    980.086293043145,
    -1046.40552374877,
    983.479452860358,
    -813.296955376464,
    589.635634656494,
    -372.082028417052,
    201.954922009851,
    -92.5384711988758,
    34.7469587930287,
    -10.1656759175515,
    2.1012124178304,
    -0.239341787588154,
};

const double DownSampler::kB[kOrder + 1] = {
    1.0261572115898e-07,
    1.94969870202062e-06,
    1.75472883181856e-05,
    9.94346338030517e-05,
    0.000397738535212207,
    0.00119321560563662,
    0.00278416974648545,
    0.00517060095775869,
    0.00775590143663804,
    0.00947943508922427,
    0.00947943508922426,
    0.00775590143663803,
    0.00517060095775869,
    0.00278416974648545,
    0.00119321560563662,
    0.000397738535212207,
    9.94346338030517e-05,
    1.75472883181856e-05,
    1.94969870202062e-06,
    1.0261572115898e-07,
};

namespace {

const int kOrder = DownSampler::kOrder;
const int kBlock = DownSampler::kBlock;

int16_t toSample(double v) {
    if (!(v > -32768.0)) return v != v ? 0 : -32768;  // NaN -> 0
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(static_cast<int>(v));  // truncates toward zero
}

// Four doubles at any 8-byte boundary (unaligned loads and stores).
typedef double Double4 __attribute__((vector_size(32), aligned(8), may_alias));
const int kLanes = 4;

// Feed-forward part for the whole block at once: ff[n] = sum over k of
// b[k] * x[n - k], with xs holding kOrder samples of history before the block.
// Four output vectors at a time keep four independent sums in flight.
const int kVectorsPerPass = 4;
static_assert(kBlock % (kLanes * kVectorsPerPass) == 0, "whole passes per block");

__attribute__((target_clones("avx2", "default")))
void feedForwardBlock(const double* xs, const double* b, double* ff) {
    for (int n = 0; n < kBlock; n += kLanes * kVectorsPerPass) {
        Double4 acc[kVectorsPerPass];
#pragma GCC unroll 4
        for (int v = 0; v < kVectorsPerPass; ++v) acc[v] = Double4{0.0, 0.0, 0.0, 0.0};
        for (int k = 0; k <= kOrder; ++k) {
            const double coefficient = b[k];
            const double* x = xs + kOrder + n - k;
#pragma GCC unroll 4
            for (int v = 0; v < kVectorsPerPass; ++v) acc[v] += coefficient * *reinterpret_cast<const Double4*>(x + kLanes * v);
        }
#pragma GCC unroll 4
        for (int v = 0; v < kVectorsPerPass; ++v) *reinterpret_cast<Double4*>(ff + n + kLanes * v) = acc[v];
    }
}

// Feedback terms k = 19..4 as a four-lane dot product over outputs that are
// at least four samples old; the three newest terms follow as scalars, the
// newest (which the recursion waits for) last.
const int kVectorTerms = 16;

struct ReversedFeedback {
    double a[kVectorTerms];  // a[19 - i] for i = 0..15
    ReversedFeedback() {
        for (int i = 0; i < kVectorTerms; ++i) a[i] = DownSampler::kA[kOrder - i];
    }
};
const ReversedFeedback kReversed;

// y[n] = ff[n] - sum over k = 1..19 of a[k] * y[n - k], for n from `first` on.
// The three newest outputs stay in registers so that the recursion only waits
// for one multiply and one subtraction per sample.
__attribute__((target_clones("avx2", "default")))
void feedBackBlock(double* ys, const double* ff, double* filtered, int first) {
    const double a1 = DownSampler::kA[1], a2 = DownSampler::kA[2], a3 = DownSampler::kA[3];
    const Double4* ar = reinterpret_cast<const Double4*>(kReversed.a);
    double y1 = ys[kOrder + first - 1], y2 = ys[kOrder + first - 2], y3 = ys[kOrder + first - 3];
    for (int n = first; n < kBlock; ++n) {
        const int now = kOrder + n;
        const Double4* y = reinterpret_cast<const Double4*>(ys + now - kOrder);
        const Double4 sum4 = (ar[0] * y[0] + ar[1] * y[1]) + (ar[2] * y[2] + ar[3] * y[3]);
        const double older = (sum4[0] + sum4[1]) + (sum4[2] + sum4[3]);
        const double partial = ff[n] - (older + a3 * y3 + a2 * y2);
        const double out = partial - a1 * y1;
        ys[now] = out;
        filtered[n] = out;
        y3 = y2;
        y2 = y1;
        y1 = out;
    }
}

}  // namespace

void DownSampler::reset() {
    std::memset(xs, 0, sizeof xs);
    std::memset(ys, 0, sizeof ys);
    firstBlock = true;
}

void DownSampler::processBlock(const int16_t* in, int16_t* out) {
    double filtered[kBlock];
    double ff[kBlock];
    int n = 0;
    for (int i = 0; i < kBlock; ++i) xs[kOrder + i] = in[i];
    if (firstBlock) {
        // The stream's first samples pass as they are and never enter the history.
        for (; n < kOrder; ++n) {
            filtered[n] = in[n];
            xs[kOrder + n] = 0.0;
            ys[kOrder + n] = 0.0;
        }
        firstBlock = false;
    }
    feedForwardBlock(xs, kB, ff);
    feedBackBlock(ys, ff, filtered, n);
    for (int i = 0; i < kBlockOut; ++i) out[i] = toSample(filtered[2 * i]);
    std::memmove(xs, xs + kBlock, kOrder * sizeof(double));
    std::memmove(ys, ys + kBlock, kOrder * sizeof(double));
}

}  // namespace vx_dnnvad
