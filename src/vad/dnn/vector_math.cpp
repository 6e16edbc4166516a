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

namespace {

float sigmoidOne(float in) {
    return static_cast<float>(1.0 / (1.0 + guardedFexp(-static_cast<double>(in))));
}

}  // namespace

// Four at a time, the fast exponential's bit construction done on all four
// lanes at once; a group with a value outside the fast range (or a NaN) is
// done one by one, so every output equals sigmoidOne's.
__attribute__((target_clones("arch=x86-64-v3", "default"))) void qn_fe_sigmoid_vf_vf(
    int n, const float* in, float* out) {
    typedef double Double4 __attribute__((vector_size(32)));
    typedef int32_t Int4 __attribute__((vector_size(16)));
    typedef int64_t Long4 __attribute__((vector_size(32)));
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const Double4 y = -Double4{in[i], in[i + 1], in[i + 2], in[i + 3]};
        const Long4 inRange = (y > -kFexpLimit) & (y < kFexpLimit);
        if (!(inRange[0] && inRange[1] && inRange[2] && inRange[3])) {
            for (int k = i; k < i + 4; ++k) out[k] = sigmoidOne(in[k]);
            continue;
        }
        const Int4 upper = __builtin_convertvector(kFexpScale * y, Int4) + kFexpOffset;
        const Long4 bits = (__builtin_convertvector(upper, Long4) & 0xffffffffLL) << 32;
        Double4 e;
        std::memcpy(&e, &bits, sizeof e);
        const Double4 s = 1.0 / (1.0 + e);
        for (int k = 0; k < 4; ++k) out[i + k] = static_cast<float>(s[k]);
    }
    for (; i < n; ++i) out[i] = sigmoidOne(in[i]);
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
// Multiply-adds fuse where the CPU has FMA: half the arithmetic instructions,
// and each sum is rounded once per term instead of twice.
#define VXS_MATRIX_KERNEL \
    __attribute__((target_clones("arch=x86-64-v3", "default"), optimize("fp-contract=fast")))

VXS_MATRIX_KERNEL
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

// `Rows` inputs times `Blocks` output blocks: the weight blocks of one input
// index are loaded once and used for every row.
template <int Rows, int Blocks>
__attribute__((always_inline)) inline void matMatTile(const FloatBlock* w, int inDim, int stride,
                                                      const float* in, int inStride,
                                                      FloatBlock* out, int outBlocksPerRow) {
    FloatBlock acc[Rows][Blocks];
#pragma GCC unroll 4
    for (int r = 0; r < Rows; ++r) {
#pragma GCC unroll 4
        for (int b = 0; b < Blocks; ++b) acc[r][b] = FloatBlock{};
    }
    const FloatBlock* row = w;
    for (int j = 0; j < inDim; ++j, row += stride) {
        FloatBlock weights[Blocks];
#pragma GCC unroll 4
        for (int b = 0; b < Blocks; ++b) weights[b] = row[b];
#pragma GCC unroll 4
        for (int r = 0; r < Rows; ++r) {
            const float x = in[r * inStride + j];
#pragma GCC unroll 4
            for (int b = 0; b < Blocks; ++b) acc[r][b] += x * weights[b];
        }
    }
#pragma GCC unroll 4
    for (int r = 0; r < Rows; ++r) {
#pragma GCC unroll 4
        for (int b = 0; b < Blocks; ++b) out[r * outBlocksPerRow + b] = acc[r][b];
    }
}

// Rows of one group (1 to 4) across every output block, two blocks at a time.
template <int Rows>
__attribute__((always_inline)) inline void matMatRows(const FloatBlock* w, int inDim, int blocks,
                                                      const float* in, int inStride,
                                                      FloatBlock* out) {
    int b = 0;
    for (; b + 2 <= blocks; b += 2)
        matMatTile<Rows, 2>(w + b, inDim, blocks, in, inStride, out + b, blocks);
    for (; b < blocks; ++b)
        matMatTile<Rows, 1>(w + b, inDim, blocks, in, inStride, out + b, blocks);
}

VXS_MATRIX_KERNEL
void matMatTransposed(const float* wt, int inDim, int outStride, const float* in, int inStride,
                      int rows, float* out) {
    const int blocks = outStride / kWeightBlock;
    const FloatBlock* w = reinterpret_cast<const FloatBlock*>(wt);
    FloatBlock* acc = reinterpret_cast<FloatBlock*>(out);
    int r = 0;
    for (; r + 4 <= rows; r += 4)
        matMatRows<4>(w, inDim, blocks, in + r * inStride, inStride, acc + r * blocks);
    switch (rows - r) {
        case 3:
            matMatRows<3>(w, inDim, blocks, in + r * inStride, inStride, acc + r * blocks);
            break;
        case 2:
            matMatRows<2>(w, inDim, blocks, in + r * inStride, inStride, acc + r * blocks);
            break;
        case 1:
            matMatRows<1>(w, inDim, blocks, in + r * inStride, inStride, acc + r * blocks);
            break;
        default:
            break;
    }
}

}  // namespace vx_dnnvad
