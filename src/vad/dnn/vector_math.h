// Vector kernels of the detector's network: the fast exponential, the sigmoid
// and softmax activations, and a matrix-vector product over a transposed,
// padded weight layout that vectorises well.
//
// Threading: every function is reentrant. `qn_math` is a process-wide flag word
// that the library reads but never writes; a host that changes it must do so
// before any detector runs.
#ifndef VXS_VAD_DNN_VECTOR_MATH_H
#define VXS_VAD_DNN_VECTOR_MATH_H

namespace vx_dnnvad {

// Bit 4 selects the fast-exponential softmax; 0 (the default) the exact one.
extern unsigned int qn_math;
const unsigned int QN_MATH_FAST_SOFTMAX = 4;

// Schraudolph's exponential: the double whose upper 32 bits are
// trunc(2^20 / ln 2 * y) + 1072632447 and whose lower 32 bits are zero.
// Valid for -700 < y < 700 only; callers fall back to exp() outside.
double fexp(double y);

// out[i] = 1 / (1 + e^-in[i]) with the fast exponential inside (-700, 700).
void qn_fe_sigmoid_vf_vf(int n, const float* in, float* out);
// Exact softmax: exponentials in double, normalising sum in float.
void qn_nv_softmax_vf_vf(int n, const float* in, float* out);
// Softmax with the fast exponential inside (-700, 700).
void qn_fe_softmax_vf_vf(int n, const float* in, float* out);

// Width of one SIMD block of the transposed weight layout.
const int kWeightBlock = 8;
// `n` rounded up to a whole number of weight blocks.
int paddedWidth(int n);

// out[o] = sum over j, in index order, of in[j] * wt[j * outStride + o] for
// o < outStride. `wt` holds the matrix transposed (one row of outStride
// outputs per input), outStride a multiple of kWeightBlock, and `wt` and `out`
// aligned to kWeightBlock floats. Each output accumulates in the same order as
// a plain row-by-row product; on a CPU with FMA each term is a fused
// multiply-add, so results may differ from the plain product in the last bits.
void matVecTransposed(const float* wt, int inDim, int outStride, const float* in, float* out);

// matVecTransposed for `rows` input vectors at once: row r of `in` starts at
// in + r * inStride, row r of the result at out + r * outStride (`out`
// aligned to kWeightBlock floats, outStride as above). Each weight block is
// loaded once per group of rows instead of once per row, which is what limits
// a single product once the matrix outgrows the first-level cache. Every
// output accumulates exactly as in matVecTransposed: the results are
// identical.
void matMatTransposed(const float* wt, int inDim, int outStride, const float* in, int inStride,
                      int rows, float* out);

}  // namespace vx_dnnvad

#endif
