// Reading the tool's input: a RIFF/WAVE file of 16-bit mono PCM, or raw
// 16-bit little-endian mono PCM whose rate the caller supplies.
//
// Threading: reentrant.
#ifndef VXS_TOOLS_VXS_VAD_AUDIO_FILE_H
#define VXS_TOOLS_VXS_VAD_AUDIO_FILE_H

#include <string>
#include <vector>

namespace vxs_vad_tool {

struct Audio {
    int sampleRate = 0;
    std::vector<short> samples;
};

// Reads `path`. A WAV file supplies its own rate (which must equal
// `requestedRate` when that is non-zero); raw input needs `requestedRate`.
// False with `error` set on failure.
bool readAudioFile(const std::string& path, int requestedRate, Audio* audio, std::string* error);

}  // namespace vxs_vad_tool

#endif
