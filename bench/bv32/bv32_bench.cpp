// Encodes and decodes the 557-frame (2.785 s) speech vector per iteration;
// x_realtime = seconds of audio coded per second of CPU time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/codec/bv32/bv32.h"

namespace {

using namespace vxs::bv32;

std::vector<int16_t> loadSpeech() {
    std::ifstream in(BV32_VECTOR_DIR "/goforward.pcm", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return pcm;
}

const std::vector<int16_t>& speech() {
    static const std::vector<int16_t> pcm = loadSpeech();
    return pcm;
}

std::vector<uint8_t> encodeAll(const std::vector<int16_t>& pcm) {
    Encoder enc;
    const size_t frames = pcm.size() / kFrameSamples;
    std::vector<uint8_t> bits(frames * kFrameBytes);
    for (size_t f = 0; f < frames; ++f) enc.encodeFrame(&pcm[f * kFrameSamples], &bits[f * kFrameBytes]);
    return bits;
}

void setRealTimeCounter(benchmark::State& state, size_t frames) {
    const double seconds = static_cast<double>(frames) * kFrameSamples / kSampleRate;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Bv32Encode(benchmark::State& state) {
    const std::vector<int16_t>& pcm = speech();
    if (pcm.empty()) {
        state.SkipWithError("speech vector missing");
        return;
    }
    const size_t frames = pcm.size() / kFrameSamples;
    Encoder enc;
    uint8_t out[kFrameBytes];
    for (auto _ : state) {
        enc.reset();
        for (size_t f = 0; f < frames; ++f) {
            enc.encodeFrame(&pcm[f * kFrameSamples], out);
            benchmark::DoNotOptimize(out);
        }
    }
    setRealTimeCounter(state, frames);
}
BENCHMARK(BM_Bv32Encode)->Unit(benchmark::kMillisecond);

void BM_Bv32Decode(benchmark::State& state) {
    const std::vector<int16_t>& pcm = speech();
    if (pcm.empty()) {
        state.SkipWithError("speech vector missing");
        return;
    }
    const std::vector<uint8_t> bits = encodeAll(pcm);
    const size_t frames = bits.size() / kFrameBytes;
    Decoder dec;
    int16_t out[kFrameSamples];
    for (auto _ : state) {
        dec.reset();
        for (size_t f = 0; f < frames; ++f) {
            dec.decodeFrame(&bits[f * kFrameBytes], out);
            benchmark::DoNotOptimize(out);
        }
    }
    setRealTimeCounter(state, frames);
}
BENCHMARK(BM_Bv32Decode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
