// LPC analysis and LSP conversions of the BroadVoice32 codec.
//
// Threading: pure functions; the caller owns every array passed in.
// LPC coefficients are Q12 (a[0] = 4096), LSPs Q15 (32768 = pi).
#ifndef VXS_AUDIO_CODEC_BV32_BV32_LPC_H
#define VXS_AUDIO_CODEC_BV32_BV32_LPC_H

#include <cstdint>

namespace vxs {
namespace bv32 {

// Levinson-Durbin on r[0..8] (modified in place). old_a keeps the last stable
// result; an unstable recursion returns old_a unchanged.
void levinson(int32_t* r, int16_t* a, int16_t* old_a);

// LPC -> LSP; falls back to old_lsp when fewer than 8 roots are found.
void a2lsp(const int16_t* a, const int16_t* old_lsp, int16_t* lsp);

// LSP -> LPC a[0..8].
void lsp2a(const int16_t* lsp, int16_t* a);

// Sorts the LSPs and enforces the minimum spacing and range, in place.
void stabiliseLsp(int16_t* lsp);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_LPC_H
