// FIR/IIR filters and autocorrelation shared by the BroadVoice32 encoder and decoder.
//
// Threading: pure functions; all memory is passed in by the caller.
// Coefficient arrays a[0..m] are Q12 with a[0] = 1.0. Buffers are W16.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_FILTERS_H
#define VXS_AUDIO_CODEC_BV32_BV32_FILTERS_H

#include <cstdint>

namespace vxs {
namespace bv32 {

// All-zero filter; x[-m..-1] must be readable history. shift 4: Q0 out, 5: Q1 out.
void azFilter(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int shift);

// All-pole filters. mem[0..m-1] holds the last m outputs (oldest first) and is
// updated when update is true. x and y may alias. n <= 80, m <= 8.
void apFilterQ0(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int16_t* mem,
                bool update);
void apFilterQ1(const int16_t* a, int m, const int16_t* x, int16_t* y, int n, int16_t* mem,
                bool update);

// Windowed autocorrelation r[0..8] of 160 samples.
void autocorrelation(const int16_t* x, const int16_t* win, int32_t* r);

// Lag window on r[1..8] (r[0] is left alone).
void lagWindow(int32_t* r);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_FILTERS_H
