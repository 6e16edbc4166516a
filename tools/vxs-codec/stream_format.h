// The format of an encoded audio stream as the library sends it: the 4-byte
// header (format byte, three zero bytes) names the codec and the sample rate.
//
// Threading: pure functions.
#ifndef VXS_TOOLS_VXS_CODEC_STREAM_FORMAT_H
#define VXS_TOOLS_VXS_CODEC_STREAM_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxs {
namespace codec_io {

constexpr size_t kStreamHeaderBytes = 4;

struct StreamFormat {
    int compressionType = 0;  // TVXVoiceRecognitionAudioCompressionType: 1 PCM, 2 BV32, 3 AMR
    int sampleRate = 0;       // 8000 or 16000
};

// Reads the header at the start of `data`. False with a reason for a short
// buffer, an unknown format byte or non-zero reserved bytes.
bool readStreamHeader(const uint8_t* data, size_t size, StreamFormat* format, std::string* error);

// Parses a codec name ("pcm", "bv32", "amr") into a compression type; 0 if unknown.
int compressionTypeFromName(const std::string& name);
const char* compressionTypeName(int compressionType);

}  // namespace codec_io
}  // namespace vxs

#endif  // VXS_TOOLS_VXS_CODEC_STREAM_FORMAT_H
