// Table-driven power, logarithm and square root of the BroadVoice32 codec.
//
// Threading: pure functions over constant tables.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_MATH_H
#define VXS_AUDIO_CODEC_BV32_BV32_MATH_H

#include <cstdint>

namespace vxs {
namespace bv32 {

// 2^(i + f/32768) as a 32-bit value scaled by 2^30 relative to i; f in 0..32767.
int32_t Pow2(int16_t i, int16_t f);
// Integer part and Q15 fraction of log2(a); both 0 for a <= 0.
void Log2(int32_t a, int16_t* i, int16_t* f);
// Square root of a Q15 value (0 for a <= 0).
int16_t sqrts(int16_t a);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_MATH_H
