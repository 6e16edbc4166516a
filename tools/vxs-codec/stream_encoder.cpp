#include "stream_encoder.h"

#include <algorithm>
#include <cstring>

namespace vxs {
namespace codec_io {

namespace {
constexpr double kPackageSeconds = 0.16;
}

int packageBytesFor(AudioEncoderBase& encoder) {
    const int frame = encoder.getEncoderFrameSize_bytes();
    const int bytes = static_cast<int>(encoder.sampleRate() * kPackageSeconds * 2);
    if (bytes == 0) return frame;
    return (bytes + frame - 1) / frame * frame;
}

bool encodeInPackages(AudioEncoderBase& encoder, const int16_t* pcm, size_t samples, std::vector<uint8_t>* out,
                      long* frames, std::string* error) {
    const size_t frameBytes = static_cast<size_t>(encoder.getEncoderFrameSize_bytes());
    const size_t packageBytes = static_cast<size_t>(packageBytesFor(encoder));
    const size_t totalBytes = samples * 2;
    std::vector<uint8_t> package(packageBytes);
    std::vector<uint8_t> encoded(packageBytes + 4);
    *frames = 0;

    for (size_t offset = 0; offset < totalBytes; offset += packageBytes) {
        const size_t chunk = std::min(packageBytes, totalBytes - offset);
        const size_t padded = (chunk + frameBytes - 1) / frameBytes * frameBytes;
        std::memcpy(package.data(), reinterpret_cast<const uint8_t*>(pcm) + offset, chunk);
        std::memset(package.data() + chunk, 0, padded - chunk);
        const int written = encoder.encodeSamples(package.data(), static_cast<int>(padded), encoded.data(),
                                                  static_cast<int>(encoded.size()));
        if (written < 0) {
            *error = "encoder failed with " + std::to_string(written) + " at byte " + std::to_string(offset);
            return false;
        }
        out->insert(out->end(), encoded.begin(), encoded.begin() + written);
        *frames += static_cast<long>(padded / frameBytes);
    }
    return true;
}

}  // namespace codec_io
}  // namespace vxs
