#include "vad/dnn/vector_math.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vx_dnnvad {

unsigned int qn_math = 0;

namespace {

const double kFexpScale = 1512775.3951951857;  // 2^20 / ln 2
const int32_t kFexpOffset = 1072632447;
const double kFexpLimit = 700.0;

bool inFexpRange(double y) { return y > -kFexpLimit && y < kFexpLimit; }

double guardedFexp(double y) { return inFexpRange(y) ? fexp(y) : std::exp(y); }

float maxOf(int n, const float* in) {
    float m = in[0];
    for (int i = 1; i < n; ++i) {
        if (in[i] > m) m = in[i];
    }
    return m;
}

template <double (*Exp)(double)>
void softmaxWith(int n, const float* in, float* out) {
    if (n <= 0) return;
    const float m = maxOf(n, in);
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<float>(Exp(static_cast<double>(in[i] - m)));
        sum += out[i];
    }
    const float scale = 1.0f / sum;
    for (int i = 0; i < n; ++i) out[i] *= scale;
}

double exactExp(double y) { return std::exp(y); }

// may_alias: the blocks are views of plain float arrays.
typedef float FloatBlock __attribute__((vector_size(kWeightBlock * sizeof(float)), may_alias));
const int kBlocksPerPass = 8;  // accumulators kept in registers at once

}  // namespace

double fexp(double y) {
    const int32_t upper = static_cast<int32_t>(kFexpScale * y) + kFexpOffset;
    const uint64_t bits = static_cast<uint64_t>(static_cast<uint32_t>(upper)) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void qn_fe_sigmoid_vf_vf(int n, const float* in, float* out) {
    for (int i = 0; i < n; ++i) {
        const double x = in[i];
        out[i] = static_cast<float>(1.0 / (1.0 + guardedFexp(-x)));
    }
}

void qn_nv_softmax_vf_vf(int n, const float* in, float* out) { softmaxWith<exactExp>(n, in, out); }

void qn_fe_softmax_vf_vf(int n, const float* in, float* out) { softmaxWith<guardedFexp>(n, in, out); }

int paddedWidth(int n) { return (n + kWeightBlock - 1) / kWeightBlock * kWeightBlock; }

// `Blocks` output blocks at once, their accumulators held in registers while
// the inputs stream past.
template <int Blocks>
inline void matVecPass(const FloatBlock* w, int inDim, int stride, const float* in, FloatBlock* out) {
    FloatBlock acc[Blocks];
#pragma GCC unroll 8
    for (int b = 0; b < Blocks; ++b) acc[b] = FloatBlock{};
    const FloatBlock* row = w;
    for (int j = 0; j < inDim; ++j, row += stride) {
        const float x = in[j];
#pragma GCC unroll 8
        for (int b = 0; b < Blocks; ++b) acc[b] += x * row[b];
    }
#pragma GCC unroll 8
    for (int b = 0; b < Blocks; ++b) out[b] = acc[b];
}

// One clone per instruction set; the loader picks the widest the CPU has.
__attribute__((target_clones("avx2", "default")))
void matVecTransposed(const float* wt, int inDim, int outStride, const float* in, float* out) {
    const int blocks = outStride / kWeightBlock;
    const FloatBlock* w = reinterpret_cast<const FloatBlock*>(wt);
    FloatBlock* acc = reinterpret_cast<FloatBlock*>(out);
    int b = 0;
    for (; b + kBlocksPerPass <= blocks; b += kBlocksPerPass) matVecPass<kBlocksPerPass>(w + b, inDim, blocks, in, acc + b);
    for (; b + 4 <= blocks; b += 4) matVecPass<4>(w + b, inDim, blocks, in, acc + b);
    for (; b + 2 <= blocks; b += 2) matVecPass<2>(w + b, inDim, blocks, in, acc + b);
    for (; b < blocks; ++b) matVecPass<1>(w + b, inDim, blocks, in, acc + b);
}

}  // namespace vx_dnnvad
