// The default model in models/ must find every sentence of real recordings
// (with first and last speech frames close to where the speech is) and must
// never open an utterance on noise alone. The recordings are ones the model
// was not trained on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
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
    // Where its speech starts and ends, ms, by the labelling rule of the
    // training data: energy above 100 Hz, speech from the first 25 ms window
    // 15 dB above the recording's own floor, held while the energy stays 12 dB
    // above it.
    int64_t speechStartMs;
    int64_t speechEndMs;
    // False for a clip that opens with sound the rule leaves out: the start
    // is then only checked not to come late.
    bool checkStart;
    // For a clip that closes with such a sound right after the last word:
    // where that sound ends, ms (the detector may end after it); 0 for none.
    int64_t trailingSoundEndMs;
};

const Recording kRecordings[] = {
    // Its energy below 100 Hz (a breath on the microphone, 2290-2370 ms) is
    // not part of the speech.
    {"goforward.raw", 490, 2195, true, 0},
    {"numbers.raw", 510, 3255, true, 0},
    // Cut from a longer reading, with a breath at either end that the rule
    // leaves out: the first 80 ms are an aperiodic, broadband sound (a breath,
    // or the unvoiced end of the word before) about 10 dB above the hum that
    // follows and at the clip's own floor level, and after the last word an
    // aperiodic breath (2830-2975 ms, 7-12 dB above the hum). The detector may
    // start on the first and hold through the second.
    {"librivox/sense_and_sensibility_01_austen_64kb-0930.wav", 270, 2825, false, 2975},
};

int64_t startMs(const vad_eval::NeuralUtterance& u) { return u.speechStartFrame * 10; }
int64_t endMs(const vad_eval::NeuralUtterance& u) { return u.speechEndFrame * 10 + 25; }

struct RecordingCase {
    Recording recording;
    int rate;
};

void PrintTo(const RecordingCase& c, std::ostream* os) { *os << c.recording.file << " at " << c.rate << " Hz"; }

class RealRecordings : public ::testing::TestWithParam<RecordingCase> {};

// Each recording as a stream of its own, as a host would push it: one
// utterance, starting and ending near the labelled speech.
TEST_P(RealRecordings, TheSentenceIsFoundWithItsStartAndEnd) {
    const RecordingCase c = GetParam();
    const std::vector<int16_t> pcm16k =
        vadmodel_test::readPcm(std::string(VXS_POCKETSPHINX_DATA) + "/" + c.recording.file);
    ASSERT_FALSE(pcm16k.empty()) << c.recording.file;
    const std::vector<int16_t> pcm = c.rate == 16000 ? pcm16k : vadmodel_test::to8k(pcm16k);
    vad_eval::NeuralRun run;
    std::string error;
    ASSERT_TRUE(vad_eval::runNeuralDetector(pcm, c.rate, kDnn, kCmvn, &run, &error)) << error;
    ASSERT_EQ(run.utterances.size(), 1u);
    if (c.recording.checkStart) {
        EXPECT_NEAR(startMs(run.utterances[0]), c.recording.speechStartMs, kToleranceMs);
    } else {
        EXPECT_LE(startMs(run.utterances[0]), c.recording.speechStartMs + kToleranceMs);
    }
    EXPECT_GE(endMs(run.utterances[0]), c.recording.speechEndMs - kToleranceMs);
    const int64_t lastSoundMs = std::max(c.recording.speechEndMs, c.recording.trailingSoundEndMs);
    EXPECT_LE(endMs(run.utterances[0]), lastSoundMs + kToleranceMs);
}

std::vector<RecordingCase> recordingCases() {
    std::vector<RecordingCase> cases;
    for (const Recording& r : kRecordings) {
        for (int rate : {16000, 8000}) cases.push_back({r, rate});
    }
    return cases;
}

std::string recordingCaseName(const ::testing::TestParamInfo<RecordingCase>& info) {
    std::string name = info.param.recording.file;
    name = name.substr(name.rfind('/') + 1);
    name = name.substr(0, name.find('.'));
    for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name + "_" + std::to_string(info.param.rate);
}

INSTANTIATE_TEST_SUITE_P(HeldOut, RealRecordings, ::testing::ValuesIn(recordingCases()), recordingCaseName);

struct NoiseCase {
    Noise kind;
    double dbfs;
    int rate;
};

void PrintTo(const NoiseCase& c, std::ostream* os) {
    *os << vadmodel_test::noiseName(c.kind) << " at " << c.dbfs << " dBFS, " << c.rate << " Hz";
}

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
    for (Noise kind : {Noise::White, Noise::Pink, Noise::Brown, Noise::Hum, Noise::Tone,
                       Noise::Clicks, Noise::Impulses, Noise::Knocks}) {
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
