// Encoding speed of the AMR encoders, fed 160 ms packages as the online
// decoders feed them. x_realtime is seconds of audio coded per CPU second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/audio_encoder_amr.h"

namespace {

const char kSpeechFile[] = "/usr/share/pocketsphinx/test/data/goforward.raw";  // 16 kHz mono

// Speech when the sample file is installed, else a harmonic stand-in; at 8000 Hz
// every second sample (the coder's cost does not depend on the spectrum much).
std::vector<int16_t> loadAudio(int sampleRate) {
    std::ifstream in(kSpeechFile, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> speech(bytes.size() / 2);
    std::memcpy(speech.data(), bytes.data(), speech.size() * 2);
    if (speech.empty()) {
        speech.resize(16000 * 3);
        for (size_t i = 0; i < speech.size(); ++i)
            speech[i] = static_cast<int16_t>(4000 * std::sin(i * 0.07) + 1500 * std::sin(i * 0.53) + (i * 7919 % 401));
    }
    if (sampleRate == 16000) return speech;
    std::vector<int16_t> halved;
    for (size_t i = 0; i < speech.size(); i += 2) halved.push_back(speech[i]);
    return halved;
}

void BM_AmrEncode(benchmark::State& state) {
    const int sampleRate = static_cast<int>(state.range(0));
    std::vector<int16_t> audio = loadAudio(sampleRate);
    auto encoder = vxs::AudioEncoderAMR::createEncoder(sampleRate);
    const size_t packageBytes = static_cast<size_t>(sampleRate) * 16 / 100 * 2;  // 160 ms
    const size_t packages = audio.size() * 2 / packageBytes;
    const auto* pcm = reinterpret_cast<const uint8_t*>(audio.data());
    std::vector<uint8_t> out(packageBytes + 4);

    for (auto _ : state) {
        encoder->encoderExit();
        for (size_t p = 0; p < packages; ++p) {
            const int written = encoder->encodeSamples(pcm + p * packageBytes, static_cast<int>(packageBytes),
                                                       out.data(), static_cast<int>(out.size()));
            if (written <= 0) {
                state.SkipWithError("encoder failed");
                return;
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
    const double audioSeconds = static_cast<double>(packages * packageBytes) / 2.0 / sampleRate;
    state.counters["x_realtime"] =
        benchmark::Counter(audioSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(sampleRate == 8000 ? "AMR-NB 12.2 kbit/s" : "AMR-WB 15.85 kbit/s");
}

BENCHMARK(BM_AmrEncode)->Arg(8000)->Arg(16000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
