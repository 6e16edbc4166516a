// The benchmark's utterance: a 16 kHz recording, resampled when another rate
// is wanted, cut into the packages the session would hand a decoder (whole
// encoder frames, the last one padded with silence), and the codec settings
// the benchmark runs.
//
// Threading: plain values and functions; no shared state.
#ifndef VXS_BENCH_DECODER_BENCH_AUDIO_H
#define VXS_BENCH_DECODER_BENCH_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

namespace decbench {

// One compression type at one rate, as "audio_encoding.int" and
// "audio_sample_rate.int" carry them.
struct CodecSetting {
    const char* name;
    int compression;  // 1 PCM, 2 BV32, 3 AMR
    int rate;
};

// Raw PCM packages of one utterance and the seconds of audio they hold.
struct Utterance {
    std::vector<std::string> packages;
    double audio_seconds = 0;
};

// 16-bit mono samples of a headerless file; empty when it cannot be read.
std::vector<int16_t> load_raw_pcm(const std::string& path);

// `pcm` at 16 kHz resampled to `rate` (a copy when the rate is 16 kHz); empty
// on a resampler failure.
std::vector<int16_t> resample_from_16k(const std::vector<int16_t>& pcm, int rate);

// `pcm` at `setting.rate` in packages of `package_ms`, each a whole number of
// the setting's encoder frames as the decoders size them; empty when no
// encoder exists for the setting.
Utterance cut_packages(const std::vector<int16_t>& pcm, const CodecSetting& setting, int package_ms);

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_BENCH_AUDIO_H
