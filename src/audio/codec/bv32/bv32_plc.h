// Frame-erasure concealment of the BroadVoice32 decoder.
//
// Threading: works on one decoder state, owned by the calling thread.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_PLC_H
#define VXS_AUDIO_CODEC_BV32_BV32_PLC_H

#include <cstdint>

namespace vxs {
namespace bv32 {

struct DecoderState;

// Synthesises 80 samples for a lost frame from the decoder's history and
// keeps the predictors in step so that the next good frame decodes normally.
void concealLostFrame(DecoderState* st, int16_t* out);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_PLC_H
