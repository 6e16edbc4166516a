#include "vad/dnn/dnn_vad_types.h"

#include <cstring>

#include "vad/dnn/dnn_vad_print.h"

namespace vx_dnnvad {

const char g_AudioState[6][16] = {"SPEECH2SPEECH", "SPEECH2SIL", "SIL2SIL",
                                  "SIL2SPEECH",    "NOTBEGIN",   "INVALID"};

const char* sourceBaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace vx_dnnvad
