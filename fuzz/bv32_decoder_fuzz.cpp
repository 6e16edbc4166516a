// Decodes arbitrary bytes as BroadVoice32 frames. The first input byte picks,
// bit by bit, which frames are treated as lost, so concealment and its return
// to normal decoding are exercised too; a trailing partial frame is decoded
// from a zero-padded copy, as a caller with truncated input would do.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/codec/bv32/bv32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vxs::bv32;
    if (size == 0) return 0;
    const uint8_t lossPattern = data[0];
    ++data;
    --size;

    static Decoder decoder;
    decoder.reset();
    int16_t pcm[kFrameSamples];
    size_t frame = 0;
    for (; (frame + 1) * kFrameBytes <= size; ++frame) {
        if ((lossPattern >> (frame % 8)) & 1) {
            decoder.concealFrame(pcm);
        } else {
            decoder.decodeFrame(data + frame * kFrameBytes, pcm);
        }
    }
    const size_t rest = size - frame * kFrameBytes;
    if (rest > 0) {
        uint8_t padded[kFrameBytes] = {};
        std::memcpy(padded, data + frame * kFrameBytes, rest);
        decoder.decodeFrame(padded, pcm);
    }
    return 0;
}
