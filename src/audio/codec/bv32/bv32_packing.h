// Frame parameters of the BroadVoice32 bitstream and their 160-bit packing.
//
// Threading: pure functions.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_PACKING_H
#define VXS_AUDIO_CODEC_BV32_BV32_PACKING_H

#include <cstdint>

#include "audio/codec/bv32/bv32_constants.h"

namespace vxs {
namespace bv32 {

struct FrameParams {
    int16_t lspidx[3];
    int16_t ppidx;       // pitch period - 10
    int16_t bqidx;
    int16_t gidx[NSF];
    int16_t qvidx[NSF * NVPSF];  // bit 5 = sign, bits 4..0 = shape
};

// Writes the fields MSB first into 20 bytes.
void packFrame(const FrameParams& p, uint8_t* bytes);
// Reads 20 bytes; every bit pattern yields in-range fields.
void unpackFrame(const uint8_t* bytes, FrameParams* p);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_PACKING_H
