#include "stream_format.h"

#include "audio/audio_compression_type.h"

namespace vxs {
namespace codec_io {

namespace {

struct HeaderEntry {
    uint8_t formatByte;
    int compressionType;
    int sampleRate;
};

// What each encoder writes: PCM 1/5, BroadVoice32 0/4, AMR 3/7 (8000/16000 Hz).
const HeaderEntry kHeaderEntries[] = {
    {1, EVR_AUDIO_COMPRESSION_PCM, 8000},  {5, EVR_AUDIO_COMPRESSION_PCM, 16000},
    {0, EVR_AUDIO_COMPRESSION_BV32, 8000}, {4, EVR_AUDIO_COMPRESSION_BV32, 16000},
    {3, EVR_AUDIO_COMPRESSION_AMR, 8000},  {7, EVR_AUDIO_COMPRESSION_AMR, 16000},
};

}  // namespace

bool readStreamHeader(const uint8_t* data, size_t size, StreamFormat* format, std::string* error) {
    if (data == nullptr || size < kStreamHeaderBytes) {
        *error = "stream shorter than its 4-byte header";
        return false;
    }
    if (data[1] != 0 || data[2] != 0 || data[3] != 0) {
        *error = "header bytes 1-3 are not zero";
        return false;
    }
    for (const HeaderEntry& entry : kHeaderEntries) {
        if (entry.formatByte == data[0]) {
            format->compressionType = entry.compressionType;
            format->sampleRate = entry.sampleRate;
            return true;
        }
    }
    *error = "unknown format byte " + std::to_string(data[0]);
    return false;
}

int compressionTypeFromName(const std::string& name) {
    if (name == "pcm") return EVR_AUDIO_COMPRESSION_PCM;
    if (name == "bv32") return EVR_AUDIO_COMPRESSION_BV32;
    if (name == "amr") return EVR_AUDIO_COMPRESSION_AMR;
    return 0;
}

const char* compressionTypeName(int compressionType) {
    switch (compressionType) {
        case EVR_AUDIO_COMPRESSION_PCM:
            return "pcm";
        case EVR_AUDIO_COMPRESSION_BV32:
            return "bv32";
        case EVR_AUDIO_COMPRESSION_AMR:
            return "amr";
        default:
            return "unknown";
    }
}

}  // namespace codec_io
}  // namespace vxs
