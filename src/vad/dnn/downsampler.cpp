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

__attribute__((target_clones("arch=x86-64-v3", "default"), optimize("fp-contract=fast")))
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

// The feedback in groups of four outputs. With p_k = y[n - k] the outputs
// before the group, each output of the group is
//   y[n + i] = f_i + sum over k = 1..19 of c[i][k] * p_k,   i = 0..3,
// where f_i = ff[n + i] - sum over j = 1..i of a[j] * f_(i-j) needs no
// output at all and c[i][k] = -a[k + i] - sum over j = 1..i of a[j] * c[i-j][k]
// (a[k] = 0 beyond the order). The recursion then waits once per four
// outputs instead of once per output; the four lanes are the four outputs.
const int kGroup = 4;

struct GroupFeedback {
    Double4 c[kOrder + 1];  // c[k] = (c[0][k], c[1][k], c[2][k], c[3][k]); c[0] unused
    GroupFeedback() {
        double coefficient[kGroup][kOrder + 1] = {};
        for (int i = 0; i < kGroup; ++i) {
            for (int k = 1; k <= kOrder; ++k) {
                double v = (k + i <= kOrder) ? -DownSampler::kA[k + i] : 0.0;
                for (int j = 1; j <= i; ++j) v -= DownSampler::kA[j] * coefficient[i - j][k];
                coefficient[i][k] = v;
            }
        }
        for (int k = 0; k <= kOrder; ++k) {
            for (int i = 0; i < kGroup; ++i) c[k][i] = k == 0 ? 0.0 : coefficient[i][k];
        }
    }
};
const GroupFeedback kGroupFeedback;

// One output by the plain recursion (the samples after the last whole group).
inline double feedBackOne(const double* ys, double ff, int now) {
    double sum = 0.0;
    for (int k = kOrder; k >= 1; --k) sum += DownSampler::kA[k] * ys[now - k];
    return ff - sum;
}

// y[n] = ff[n] - sum over k = 1..19 of a[k] * y[n - k], for n from `first` on.
__attribute__((target_clones("arch=x86-64-v3", "default"), optimize("fp-contract=fast"))) void
feedBackBlock(double* ys, const double* ff, double* filtered, int first) {
    const Double4* c = kGroupFeedback.c;
    const double a1 = DownSampler::kA[1], a2 = DownSampler::kA[2], a3 = DownSampler::kA[3];
    int n = first;
    // The two latest groups stay in registers: reading an output back from
    // memory right after storing it as part of a vector stalls.
    Double4 last = *reinterpret_cast<const Double4*>(ys + kOrder + n - 4);    // y[n-4] .. y[n-1]
    Double4 before = *reinterpret_cast<const Double4*>(ys + kOrder + n - 8);  // y[n-8] .. y[n-5]
    for (; n + kGroup <= kBlock; n += kGroup) {
        const double* p = ys + kOrder + n;  // p[-k] = y[n - k]
        const double f0 = ff[n];
        const double f1 = ff[n + 1] - a1 * f0;
        const double f2 = ff[n + 2] - a1 * f1 - a2 * f0;
        const double f3 = ff[n + 3] - a1 * f2 - a2 * f1 - a3 * f0;
        // The older outputs in three independent sums, the newest four last.
        const Double4 older = Double4{f0, f1, f2, f3} + c[5] * before[3] + c[6] * before[2] +
                              c[7] * before[1] + c[8] * before[0];
        const Double4 oldest =
            c[9] * p[-9] + c[10] * p[-10] + c[11] * p[-11] + c[12] * p[-12] + c[13] * p[-13];
        const Double4 oldest2 = c[14] * p[-14] + c[15] * p[-15] + c[16] * p[-16] + c[17] * p[-17] +
                                c[18] * p[-18] + c[19] * p[-19];
        const Double4 base = older + (oldest + oldest2);
        const Double4 y =
            (base + c[4] * last[0] + c[3] * last[1]) + (c[2] * last[2] + c[1] * last[3]);
        *reinterpret_cast<Double4*>(ys + kOrder + n) = y;
        *reinterpret_cast<Double4*>(filtered + n) = y;
        before = last;
        last = y;
    }
    for (; n < kBlock; ++n) {
        const double out = feedBackOne(ys, ff[n], kOrder + n);
        ys[kOrder + n] = out;
        filtered[n] = out;
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
