// The detector's fully connected network: sigmoid hidden layers and a softmax
// output layer, loaded from the binary network file (see network_file.h).
//
// Threading: one thread at a time per instance; `forward` uses the instance's
// scratch vectors and is not reentrant. Instances share nothing but `qn_math`.
#ifndef VXS_VAD_DNN_NETWORK_H
#define VXS_VAD_DNN_NETWORK_H

#include "vad/dnn/dnn_vad_types.h"

namespace vx_dnnvad {

class VadConfiger;

class DNN {
public:
    // Loads the network file at `path` (the configuration is not used);
    // getState() tells whether it worked. Diagnostics go to standard output.
    DNN(VadConfiger* config, const char* path);
    ~DNN();
    DNN(const DNN&) = delete;
    DNN& operator=(const DNN&) = delete;

    State getState() const { return state; }
    // One pass: `in` holds layerSize[0] values (inlen must match), `out`
    // receives layerSize[L-1]. Allocates nothing. 0, or -1 when not loaded or
    // inlen is wrong.
    int forward(const float* in, int inlen, float* out);
    // Largest number of passes forwardBatch runs at once.
    static constexpr int kMaxBatch = 16;
    // `count` (1..kMaxBatch) independent passes: `in` holds count rows of
    // inlen values, `out` receives count rows of outputSize() values. Each row
    // gives exactly what forward() gives; the weights are read once per few
    // rows instead of once per row. Allocates nothing. 0, or -1 when not
    // loaded, inlen is wrong or count is out of range.
    int forwardBatch(const float* in, int count, int inlen, float* out);
    // The network keeps no state between frames. 0.
    int reset() { return 0; }

    int getLayerNumber() const { return layerNumber; }
    int getLayerSize(int i) const { return (i >= 0 && i < layerNumber) ? layerSize[i] : 0; }
    int inputSize() const { return getLayerSize(0); }
    int outputSize() const { return getLayerSize(layerNumber - 1); }
    // Matrix i (row-major, one row per output unit) and bias i.
    const float* getWeight(int i) const { return weight[i]; }
    const float* getBias(int i) const { return bias[i]; }

    // out = in1 (row1 x col1) * in2 (row2 x col2), row-major, accumulating in
    // index order. 0, or -1 when col1 != row2.
    static int matrixProduct(const float* in1, int row1, int col1, const float* in2, int row2, int col2,
                             float* out);
    static void vectorAdd(const float* in1, const float* in2, float* out, int len);
    static void sigmod(const float* in, float* out, int size);
    // Exact or fast softmax as the process-wide `qn_math` word selects.
    static void softmax(const float* in, float* out, int size);

private:
    // Copies weights and biases from a flat buffer in file order. Returns the
    // number of floats consumed, or -1 when `count` is too small (nothing is
    // read beyond it).
    int set_network(const float* flat, int count);
    bool loadFile(const char* path);
    bool allocateLayers();
    void buildTransposedWeights();
    void release();

    int layerNumber;
    int* layerSize;
    float** weight;
    float** bias;
    int maxlayerSize;
    float* workspace;
    float* workspace2;
    // forwardBatch's rows, kMaxBatch of the widest padded layer each.
    float* batchActivations;
    float* batchSums;
    State state;
    // Per matrix: the weights transposed and padded to whole SIMD blocks, the
    // layout `forward` runs on (see matVecTransposed).
    float** weightT;
};

}  // namespace vx_dnnvad

#endif
