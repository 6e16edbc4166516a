// The default model in models/ must find every sentence of real recordings
// (with first and last speech frames close to where the speech is) and must
// never open an utterance on noise alone. The recordings are ones the model
// was not trained on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "neural_run.h"
#include "test_audio.h"

namespace {

using vadmodel_test::Noise;

const std::string kDnn = std::string(VXS_MODELS_DIR) + "/vxs_easr_mfe_dnn.dat";
const std::string kCmvn = std::string(VXS_MODELS_DIR) + "/vxs_easr_mfe_cmvn.dat";
const int64_t kToleranceMs = 150;

struct Recording {
    const char* file;
    // Where its speech starts and ends, ms: the first and last 25 ms window
    // whose energy is 15 dB above the recording's own floor (the labelling
    // rule of the training data).
    int64_t speechStartMs;
    int64_t speechEndMs;
};

const Recording kRecordings[] = {
    {"goforward.raw", 490, 2375},
    {"numbers.raw", 510, 3175},
    {"librivox/sense_and_sensibility_01_austen_64kb-0930.wav", 280, 2855},
};

// 16 kHz: a second of near silence, then each recording followed by 1.5 s of near silence.
struct Stream {
    std::vector<int16_t> pcm;
    std::vector<int64_t> offsetMs;  // where each recording begins
};

Stream buildStream() {
    Stream s;
    auto pad = [&](size_t samples, uint32_t seed) {
        const std::vector<int16_t> floor = vadmodel_test::makeNoise(Noise::White, -80, samples, 16000, seed);
        s.pcm.insert(s.pcm.end(), floor.begin(), floor.end());
    };
    pad(16000, 1);
    uint32_t seed = 2;
    for (const Recording& r : kRecordings) {
        const std::vector<int16_t> pcm = vadmodel_test::readPcm(std::string(VXS_POCKETSPHINX_DATA) + "/" + r.file);
        EXPECT_FALSE(pcm.empty()) << r.file;
        s.offsetMs.push_back(static_cast<int64_t>(s.pcm.size()) / 16);
        s.pcm.insert(s.pcm.end(), pcm.begin(), pcm.end());
        pad(24000, seed++);
    }
    return s;
}

int64_t startMs(const vad_eval::NeuralUtterance& u) { return u.speechStartFrame * 10; }
int64_t endMs(const vad_eval::NeuralUtterance& u) { return u.speechEndFrame * 10 + 25; }

class RealRecordings : public ::testing::TestWithParam<int> {};

TEST_P(RealRecordings, EverySentenceIsFoundWithItsStartAndEnd) {
    const int rate = GetParam();
    const Stream stream = buildStream();
    const std::vector<int16_t> pcm = rate == 16000 ? stream.pcm : vadmodel_test::to8k(stream.pcm);
    vad_eval::NeuralRun run;
    std::string error;
    ASSERT_TRUE(vad_eval::runNeuralDetector(pcm, rate, kDnn, kCmvn, &run, &error)) << error;
    ASSERT_EQ(run.utterances.size(), std::size(kRecordings));
    for (size_t i = 0; i < std::size(kRecordings); ++i) {
        const Recording& r = kRecordings[i];
        const vad_eval::NeuralUtterance& u = run.utterances[i];
        EXPECT_NEAR(startMs(u), stream.offsetMs[i] + r.speechStartMs, kToleranceMs) << r.file;
        EXPECT_NEAR(endMs(u), stream.offsetMs[i] + r.speechEndMs, kToleranceMs) << r.file;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, RealRecordings, ::testing::Values(16000, 8000));

struct NoiseCase {
    Noise kind;
    double dbfs;
    int rate;
};

class NoiseOnly : public ::testing::TestWithParam<NoiseCase> {};

TEST_P(NoiseOnly, ThirtySecondsGiveNoUtterance) {
    const NoiseCase c = GetParam();
    const std::vector<int16_t> pcm = vadmodel_test::makeNoise(c.kind, c.dbfs, 30 * c.rate, c.rate, 11);
    vad_eval::NeuralRun run;
    std::string error;
    ASSERT_TRUE(vad_eval::runNeuralDetector(pcm, c.rate, kDnn, kCmvn, &run, &error)) << error;
    EXPECT_TRUE(run.utterances.empty()) << run.utterances.size() << " utterance(s), the first at "
                                        << (run.utterances.empty() ? 0 : startMs(run.utterances[0])) << " ms";
}

std::vector<NoiseCase> noiseCases() {
    std::vector<NoiseCase> cases;
    for (Noise kind : {Noise::White, Noise::Pink, Noise::Brown, Noise::Hum, Noise::Tone, Noise::Clicks}) {
        for (double dbfs : {-70.0, -45.0, -25.0, -10.0}) cases.push_back({kind, dbfs, 16000});
        cases.push_back({kind, -25.0, 8000});
    }
    return cases;
}

std::string noiseCaseName(const ::testing::TestParamInfo<NoiseCase>& info) {
    return std::string(vadmodel_test::noiseName(info.param.kind)) + "_minus" +
           std::to_string(static_cast<int>(-info.param.dbfs)) + "dBFS_" + std::to_string(info.param.rate);
}

INSTANTIATE_TEST_SUITE_P(Levels, NoiseOnly, ::testing::ValuesIn(noiseCases()), noiseCaseName);

}  // namespace
