// Test audio for the shipped voice-activity model: recordings read from disk,
// 16 kHz -> 8 kHz conversion with the detector's own down-sampler, and
// deterministic noise of several kinds at a given level.
#ifndef VXS_TESTS_VAD_MODEL_TEST_AUDIO_H
#define VXS_TESTS_VAD_MODEL_TEST_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

namespace vadmodel_test {

// 16-bit mono PCM from a raw file or the data chunk of a WAV file; empty when unreadable.
std::vector<int16_t> readPcm(const std::string& path);

// 16 kHz -> 8 kHz (whole 80-sample blocks; a partial last block is dropped).
std::vector<int16_t> to8k(const std::vector<int16_t>& pcm16k);

enum class Noise { White, Pink, Brown, Hum, Tone, Clicks, Impulses, Knocks };
const char* noiseName(Noise kind);

// `samples` of noise with an RMS level of `dbfs` (0 dBFS = 32768), clipped to 16 bits.
std::vector<int16_t> makeNoise(Noise kind, double dbfs, size_t samples, int sampleRate, uint32_t seed);

}  // namespace vadmodel_test

#endif
