// Feeds arbitrary bytes to the stream header reader and the frame decoders.
// The first byte picks the path: a whole stream (header, then frames), or bare
// frames of one codec and rate, so a truncated or corrupt frame of each kind
// is exercised.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream_decoder.h"
#include "stream_format.h"

namespace {

void decodeBareFrames(int compressionType, int sampleRate, const uint8_t* data, size_t size) {
    vxs::codec_io::StreamFormat format;
    format.compressionType = compressionType;
    format.sampleRate = sampleRate;
    vxs::codec_io::StreamDecoder decoder;
    std::string error;
    if (!decoder.open(format, &error)) return;
    std::vector<int16_t> pcm;
    decoder.decodeFrames(data, size, &pcm, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int path = data[0] % 7;
    ++data;
    --size;
    if (path == 0) {
        vxs::codec_io::StreamFormat format;
        std::vector<int16_t> pcm;
        long frames = 0;
        std::string error;
        vxs::codec_io::decodeStream(data, size, &format, &pcm, &frames, &error);
        return 0;
    }
    const int compressionType = (path + 1) / 2;  // 1 PCM, 2 BV32, 3 AMR
    decodeBareFrames(compressionType, path % 2 == 1 ? 8000 : 16000, data, size);
    return 0;
}
