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

int16_t toSample(double v) {
    if (!(v > -32768.0)) return v != v ? 0 : -32768;  // NaN -> 0
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(static_cast<int>(v));  // truncates toward zero
}

}  // namespace

void DownSampler::reset() {
    std::memset(xs, 0, sizeof xs);
    std::memset(ys, 0, sizeof ys);
    firstBlock = true;
}

void DownSampler::processBlock(const int16_t* in, int16_t* out) {
    double filtered[kBlock];
    int n = 0;
    if (firstBlock) {
        // The stream's first samples pass as they are and never enter the history.
        for (; n < kOrder; ++n) {
            filtered[n] = in[n];
            xs[kOrder + n] = 0.0;
            ys[kOrder + n] = 0.0;
        }
        firstBlock = false;
    }
    for (; n < kBlock; ++n) {
        const int now = kOrder + n;
        xs[now] = in[n];
        double feedForward = 0.0;
        for (int k = 0; k <= kOrder; ++k) feedForward += kB[k] * xs[now - k];
        // Oldest output first, so that the newest one (the previous sample's,
        // which the recursion waits for) joins the sum last.
        double feedBack = 0.0;
        for (int k = kOrder; k >= 1; --k) feedBack += kA[k] * ys[now - k];
        ys[now] = feedForward - feedBack;
        filtered[n] = ys[now];
    }
    for (int i = 0; i < kBlockOut; ++i) out[i] = toSample(filtered[2 * i]);
    std::memmove(xs, xs + kBlock, kOrder * sizeof(double));
    std::memmove(ys, ys + kBlock, kOrder * sizeof(double));
}

}  // namespace vx_dnnvad
