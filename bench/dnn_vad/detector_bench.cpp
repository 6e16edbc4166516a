// Speed of the neural detector on 16 kHz audio: the whole path (down-sampling,
// features, network, decision, hand-back) and its parts. The figure to read is
// x_realtime: seconds of audio processed per second of CPU (goal: 2000 or more
// on one core). The network is random, in the shipped shape (416 -> 64 -> 32
// -> 9, about 29,000 multiply-adds per frame) and a one-hidden-layer variant.
// Where libwebrtc-audio-processing-dev is installed, WebRTC's voice detection
// runs over the same audio for comparison. Run pinned to one core, e.g.
// `taskset -c 1 dnn_vad_bench --benchmark_repetitions=5`: on a shared machine
// the best of several repetitions is the figure least disturbed by others.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vad/dnn/cmvn_file.h"
#include "vad/dnn/detector.h"
#include "vad/dnn/downsampler.h"
#include "vad/dnn/feature_translator.h"
#include "vad/dnn/network.h"
#include "vad/dnn/network_file.h"
#ifdef VXS_HAVE_WEBRTC_APM
#include "webrtc_run.h"
#endif

namespace {

using namespace vx_dnnvad;

std::vector<short> speechLikeAudio(size_t samples) {
    std::vector<short> out(samples);
    uint32_t seed = 1;
    for (size_t i = 0; i < samples; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const bool loud = (i / 16000) % 3 != 2;  // two seconds of noise, one of near silence
        const int amplitude = loud ? 3000 : 3;
        out[i] = static_cast<short>(static_cast<int>(seed >> 16) % (2 * amplitude + 1) - amplitude);
    }
    return out;
}

struct ModelFiles {
    std::string dnn, cmvn;
};

ModelFiles writeModels(const std::vector<int>& sizes) {
    static int counter = 0;
    const std::string base = "/tmp/dnn_vad_bench_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    ModelFiles files{base + "_dnn.dat", base + "_cmvn.dat"};
    const long count = networkParameterCount(sizes);
    std::vector<float> params(count);
    uint32_t seed = 7;
    for (float& p : params) {
        seed = seed * 1103515245u + 12345u;
        p = (static_cast<float>((seed >> 8) % 2001) / 1000.0f - 1.0f) * 0.1f;
    }
    writeNetworkFile(files.dnn.c_str(), sizes, params);
    std::vector<float> mean(26, 10.0f), revVar(26, 0.2f);
    writeCmvnFile(files.cmvn.c_str(), mean.data(), revVar.data(), 26);
    return files;
}

void removeModels(const ModelFiles& files) {
    std::remove(files.dnn.c_str());
    std::remove(files.cmvn.c_str());
}

void configure(CMFE* mfe) {
    mfe->mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
    mfe->mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
    mfe->mfeSetParam(MFE_PARAM_SAMPLE_RATE, 16000);
    mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 49);
    mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, 1073741824.0f);
    mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, 1073741824.0f);
}

// Whole detector: 160 ms pushes, a pass and a fetch after each, 10 s per iteration.
void BM_Detector16k(benchmark::State& state, std::vector<int> sizes) {
    const ModelFiles files = writeModels(sizes);
    CMFE mfe;
    configure(&mfe);
    if (mfe.mfeInit(files.dnn.c_str(), files.cmvn.c_str()) != 0) {
        state.SkipWithError("mfeInit failed");
        return;
    }
    const std::vector<short> audio = speechLikeAudio(16000 * 10);
    const int push = 2560;
    std::vector<char> out(163840);
    for (auto _ : state) {
        mfe.mfeReset();
        for (size_t pos = 0; pos + push <= audio.size(); pos += push) {
            mfe.mfeSendData(audio.data() + pos, push);
            benchmark::DoNotOptimize(mfe.mfeDNNDetect());
            int got = 0;
            mfe.mfeGetCallbackData(out.data(), &got, static_cast<int>(out.size()));
        }
    }
    state.counters["x_realtime"] = benchmark::Counter(10.0 * state.iterations(), benchmark::Counter::kIsRate);
    removeModels(files);
}
BENCHMARK_CAPTURE(BM_Detector16k, net_416_64_32_9, std::vector<int>{416, 64, 32, 9})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Detector16k, net_416_64_9, std::vector<int>{416, 64, 9})
    ->Unit(benchmark::kMillisecond);

#ifdef VXS_HAVE_WEBRTC_APM
// WebRTC's voice detection (default setting) over the same 10 s per iteration.
void BM_WebRtcVad16k(benchmark::State& state) {
    const std::vector<short> audio = speechLikeAudio(16000 * 10);
    const std::vector<int16_t> pcm(audio.begin(), audio.end());
    std::vector<uint8_t> frames;
    for (auto _ : state) {
        if (!vad_eval::runWebRtcVad(pcm, 16000, vad_eval::WebRtcSetting::Default, &frames)) {
            state.SkipWithError("WebRTC voice detection failed");
            return;
        }
        benchmark::DoNotOptimize(frames.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(10.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WebRtcVad16k)->Unit(benchmark::kMillisecond);
#endif

// Network passes of the shipped shape: one frame at a time, and the 16 frames
// of a 160 ms push at once as the detector runs them (x_realtime per frame).
void BM_Forward(benchmark::State& state) {
    const ModelFiles files = writeModels({416, 64, 32, 9});
    DNN net(nullptr, files.dnn.c_str());
    const int batch = static_cast<int>(state.range(0));
    std::vector<float> in(416 * batch, 0.3f), out(9 * batch);
    for (auto _ : state) {
        if (batch == 1) {
            net.forward(in.data(), 416, out.data());
        } else {
            net.forwardBatch(in.data(), batch, 416, out.data());
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(0.01 * batch * state.iterations(), benchmark::Counter::kIsRate);
    removeModels(files);
}
BENCHMARK(BM_Forward)->Arg(1)->Arg(DNN::kMaxBatch);

// One frame of log mel energies.
void BM_LogMelFrame(benchmark::State& state) {
    PCM2FeatureTranslator pcm(200, 26);
    const std::vector<short> audio = speechLikeAudio(200);
    std::vector<float> frame(audio.begin(), audio.end());
    for (auto _ : state) benchmark::DoNotOptimize(pcm.translate(frame.data(), 200, 0));
    state.counters["x_realtime"] = benchmark::Counter(0.01 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LogMelFrame);

// Down-sampling 10 ms of 16 kHz audio (two blocks).
void BM_DownSample10ms(benchmark::State& state) {
    DownSampler ds;
    const std::vector<short> audio = speechLikeAudio(160);
    int16_t out[80];
    ds.processBlock(audio.data(), out);
    for (auto _ : state) {
        ds.processBlock(audio.data(), out);
        ds.processBlock(audio.data() + 80, out + 40);
        benchmark::DoNotOptimize(out);
    }
    state.counters["x_realtime"] = benchmark::Counter(0.01 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DownSample10ms);

}  // namespace
