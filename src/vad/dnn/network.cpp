#include "vad/dnn/network.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "vad/dnn/dnn_vad_print.h"
#include "vad/dnn/vector_math.h"

namespace vx_dnnvad {

namespace {

const size_t kAlignBytes = kWeightBlock * sizeof(float);

// Zeroed, SIMD-aligned storage for `count` floats (padded to whole blocks).
float* allocAligned(long count) {
    const size_t bytes = static_cast<size_t>(paddedWidth(static_cast<int>(count))) * sizeof(float);
    void* p = nullptr;
    if (posix_memalign(&p, kAlignBytes, bytes == 0 ? kAlignBytes : bytes) != 0) return nullptr;
    std::memset(p, 0, bytes);
    return static_cast<float*>(p);
}

}  // namespace

DNN::~DNN() { release(); }

void DNN::release() {
    const int matrices = layerNumber > 1 ? layerNumber - 1 : 0;
    for (int i = 0; i < matrices; ++i) {
        if (weight) delete[] weight[i];
        if (bias) delete[] bias[i];
        if (weightT) std::free(weightT[i]);
    }
    delete[] weight;
    delete[] bias;
    delete[] weightT;
    delete[] layerSize;
    std::free(workspace);
    std::free(workspace2);
    std::free(batchActivations);
    std::free(batchSums);
    weight = bias = weightT = nullptr;
    layerSize = nullptr;
    workspace = workspace2 = batchActivations = batchSums = nullptr;
    layerNumber = 0;
    maxlayerSize = 0;
    state = UNINIT;
}

bool DNN::allocateLayers() {
    const int matrices = layerNumber - 1;
    weight = new (std::nothrow) float*[matrices]();
    bias = new (std::nothrow) float*[matrices]();
    weightT = new (std::nothrow) float*[matrices]();
    if (!weight || !bias || !weightT) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]DNN init memory new failure layerNumber:%d!\n\n", layerNumber);
        return false;
    }
    maxlayerSize = 0;
    int maxPadded = 0;
    for (int i = 0; i < matrices; ++i) {
        const int rows = layerSize[i + 1];
        const int cols = layerSize[i];
        const long matrixSize = static_cast<long>(rows) * cols;
        weight[i] = new (std::nothrow) float[matrixSize];
        bias[i] = new (std::nothrow) float[rows];
        weightT[i] = allocAligned(static_cast<long>(paddedWidth(rows)) * cols);
        if (!weight[i] || !bias[i] || !weightT[i]) {
            VX_DNNVAD_PRINT("ERROR:[%s:%d]DNN init memory new failure curLayer:%d matrixSize:%d baseSize:%d!\n\n",
                            i, static_cast<int>(matrixSize), rows);
            return false;
        }
        if (rows > maxlayerSize) maxlayerSize = rows;
        if (paddedWidth(rows) > maxPadded) maxPadded = paddedWidth(rows);
    }
    workspace = allocAligned(maxPadded);
    workspace2 = allocAligned(maxPadded);
    batchActivations = allocAligned(static_cast<long>(kMaxBatch) * maxPadded);
    batchSums = allocAligned(static_cast<long>(kMaxBatch) * maxPadded);
    if (!workspace || !workspace2 || !batchActivations || !batchSums) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]DNN init memory new failure maxlayerSize:%d!\n\n", maxlayerSize);
        return false;
    }
    return true;
}

int DNN::set_network(const float* flat, int count) {
    long needed = 0;
    for (int i = 0; i + 1 < layerNumber; ++i) needed += static_cast<long>(layerSize[i + 1]) * (layerSize[i] + 1);
    if (needed > count) return -1;
    const float* cursor = flat;
    for (int i = 0; i + 1 < layerNumber; ++i) {
        const long matrixSize = static_cast<long>(layerSize[i + 1]) * layerSize[i];
        std::memcpy(weight[i], cursor, matrixSize * sizeof(float));
        cursor += matrixSize;
        std::memcpy(bias[i], cursor, layerSize[i + 1] * sizeof(float));
        cursor += layerSize[i + 1];
    }
    buildTransposedWeights();
    return static_cast<int>(cursor - flat);
}

void DNN::buildTransposedWeights() {
    for (int i = 0; i + 1 < layerNumber; ++i) {
        const int rows = layerSize[i + 1];
        const int cols = layerSize[i];
        const int stride = paddedWidth(rows);
        for (int o = 0; o < rows; ++o) {
            for (int j = 0; j < cols; ++j) weightT[i][static_cast<long>(j) * stride + o] = weight[i][static_cast<long>(o) * cols + j];
        }
    }
}

int DNN::forward(const float* in, int inlen, float* out) {
    if (state != IDLE || inlen != layerSize[0]) return -1;
    const float* layerIn = in;
    const int last = layerNumber - 2;
    for (int i = 0; i <= last; ++i) {
        const int width = layerSize[i + 1];
        matVecTransposed(weightT[i], layerSize[i], paddedWidth(width), layerIn, workspace2);
        vectorAdd(workspace2, bias[i], workspace2, width);
        if (i == last) {
            softmax(workspace2, workspace, width);
        } else {
            sigmod(workspace2, workspace, width);
        }
        layerIn = workspace;
    }
    std::memcpy(out, workspace, layerSize[layerNumber - 1] * sizeof(float));
    return 0;
}

int DNN::forwardBatch(const float* in, int count, int inlen, float* out) {
    if (state != IDLE || inlen != layerSize[0] || count < 1 || count > kMaxBatch) return -1;
    const float* layerIn = in;
    int inStride = inlen;
    const int last = layerNumber - 2;
    for (int i = 0; i <= last; ++i) {
        const int width = layerSize[i + 1];
        const int stride = paddedWidth(width);
        matMatTransposed(weightT[i], layerSize[i], stride, layerIn, inStride, count, batchSums);
        for (int r = 0; r < count; ++r) {
            float* sums = batchSums + static_cast<long>(r) * stride;
            float* activations = batchActivations + static_cast<long>(r) * stride;
            vectorAdd(sums, bias[i], sums, width);
            if (i == last) {
                softmax(sums, activations, width);
            } else {
                sigmod(sums, activations, width);
            }
        }
        layerIn = batchActivations;
        inStride = stride;
    }
    const int outWidth = layerSize[layerNumber - 1];
    for (int r = 0; r < count; ++r) {
        std::memcpy(out + static_cast<long>(r) * outWidth,
                    batchActivations + static_cast<long>(r) * inStride, outWidth * sizeof(float));
    }
    return 0;
}

int DNN::matrixProduct(const float* in1, int row1, int col1, const float* in2, int row2, int col2, float* out) {
    if (col1 != row2) return -1;
    for (int r = 0; r < row1; ++r) {
        for (int c = 0; c < col2; ++c) {
            float sum = 0.0f;
            for (int k = 0; k < col1; ++k) sum += in1[static_cast<long>(r) * col1 + k] * in2[static_cast<long>(k) * col2 + c];
            out[static_cast<long>(r) * col2 + c] = sum;
        }
    }
    return 0;
}

void DNN::vectorAdd(const float* in1, const float* in2, float* out, int len) {
    for (int i = 0; i < len; ++i) out[i] = in1[i] + in2[i];
}

void DNN::sigmod(const float* in, float* out, int size) { qn_fe_sigmoid_vf_vf(size, in, out); }

void DNN::softmax(const float* in, float* out, int size) {
    if (qn_math & QN_MATH_FAST_SOFTMAX) {
        qn_fe_softmax_vf_vf(size, in, out);
    } else {
        qn_nv_softmax_vf_vf(size, in, out);
    }
}

}  // namespace vx_dnnvad
