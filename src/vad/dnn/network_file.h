// The detector's binary network file: writing it, and the parameter count a
// layer list needs. Reading is DNN's constructor (network.h).
//
// Layout (all binary values little-endian, no padding):
//   line 1   text, ignored (at most 1023 bytes, ends in '\n')
//   line 2   text, ignored (same)
//   line 3   decimal F, the number of float32 parameters that follow, > 0
//   int32    L, the number of layers including the input layer (>= 2)
//   int32*L  the layer widths, input first
//   float*F  for each matrix i = 0..L-2: its weights, one row of layerSize[i]
//            inputs per output unit (element (o, j) at o*layerSize[i] + j),
//            then its layerSize[i+1] biases
// Bytes after the F floats are ignored. From Python, for example:
//   f.write(b"hdr\nhdr\n%d\n" % F); f.write(struct.pack("<%di" % (L+1), L, *sizes))
//   then for each layer W.astype("<f4").tobytes() (shape out x in), b.astype("<f4").tobytes()
//
// Threading: the functions are reentrant.
#ifndef VXS_VAD_DNN_NETWORK_FILE_H
#define VXS_VAD_DNN_NETWORK_FILE_H

#include <vector>

namespace vx_dnnvad {

// Sum over i of layerSizes[i+1] * (layerSizes[i] + 1); -1 for fewer than two
// layers or a width below 1.
long networkParameterCount(const std::vector<int>& layerSizes);

// Writes a network file; `params` in the file order above. `declaredCount`
// below 0 writes params.size() as F (other values make malformed files for
// tests). False when the file cannot be written or the sizes are invalid.
bool writeNetworkFile(const char* path, const std::vector<int>& layerSizes, const std::vector<float>& params,
                      long declaredCount = -1);

}  // namespace vx_dnnvad

#endif
