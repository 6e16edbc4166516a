// The detector's own diagnostic lines: printed to standard output (not the
// library log) as "ERROR:[file:line]..." or "DEBUG:[file:line]...".
//
// Threading: printf is thread-safe; lines of concurrent detectors may interleave.
#ifndef VXS_VAD_DNN_DNN_VAD_PRINT_H
#define VXS_VAD_DNN_DNN_VAD_PRINT_H

#include <cstdio>

namespace vx_dnnvad {

// The part of a source path after its last '/'.
const char* sourceBaseName(const char* path);

}  // namespace vx_dnnvad

// `fmt` begins with "ERROR:[%s:%d]" or "DEBUG:[%s:%d]"; file and line are filled in.
#define VX_DNNVAD_PRINT(fmt, ...) \
    std::printf(fmt, ::vx_dnnvad::sourceBaseName(__FILE__), __LINE__, ##__VA_ARGS__)

#endif
