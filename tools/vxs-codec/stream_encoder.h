// Encodes PCM the way the online decoders feed an encoder: packages of 160 ms
// (raised to whole codec frames), the last one padded with zeros to whole
// frames, each encoded into a buffer of package + 4 bytes.
//
// Threading: uses the given encoder only; one thread at a time per encoder.
#ifndef VXS_TOOLS_VXS_CODEC_STREAM_ENCODER_H
#define VXS_TOOLS_VXS_CODEC_STREAM_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_encoder_base.h"

namespace vxs {
namespace codec_io {

// Bytes of PCM per package for the encoder's rate and frame size.
int packageBytesFor(AudioEncoderBase& encoder);

// Appends the encoder's output (header included) to `out`; `frames` receives
// the number of codec frames fed. False with a reason if the encoder fails.
bool encodeInPackages(AudioEncoderBase& encoder, const int16_t* pcm, size_t samples, std::vector<uint8_t>* out,
                      long* frames, std::string* error);

}  // namespace codec_io
}  // namespace vxs

#endif  // VXS_TOOLS_VXS_CODEC_STREAM_ENCODER_H
