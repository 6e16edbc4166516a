// The feature chain: filter bank, FFT, one frame of log mel energies, the
// normalisation file, splicing, and the stand-alone chain used for dumps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dnn_vad_fixtures.h"
#include "vad/dnn/cmvn_file.h"
#include "vad/dnn/feature_chain.h"
#include "vad/dnn/feature_translator.h"
#include "vad/dnn/filter_bank.h"

namespace {

using namespace vx_dnnvad;
using dnnvad_test::ScratchDir;

TEST(FilterBank, ConstantsOfTheDetectorFrontEnd) {
    FeOption* opt = InitFEVad();
    ASSERT_NE(opt, nullptr);
    const FBankInfo* fb = opt->fbinfo;
    EXPECT_EQ(opt->frameSize, 200);
    EXPECT_EQ(opt->fBankChanNum, 26);
    EXPECT_EQ(fb->fftN, 256);
    EXPECT_EQ(fb->klo, 3);
    EXPECT_EQ(fb->khi, 122);
    EXPECT_FLOAT_EQ(fb->fres, 8000.0f / (256 * 700));
    const double mlo = 1127.0 * std::log(1.0 + 40.0 / 700.0);
    const double mhi = 1127.0 * std::log(1.0 + 3800.0 / 700.0);
    EXPECT_NEAR(fb->cf[27], mhi, 1e-3);
    EXPECT_NEAR(fb->cf[1], (mhi - mlo) / 27 + mlo, 1e-3);
    // Bins outside [klo, khi] take no part; inside, the lower channel only grows.
    EXPECT_EQ(fb->loChan[2], -1);
    EXPECT_EQ(fb->loChan[123], -1);
    EXPECT_EQ(fb->loChan[3], 0);
    EXPECT_EQ(fb->loChan[122], 26);
    for (int k = 4; k <= 122; ++k) EXPECT_GE(fb->loChan[k], fb->loChan[k - 1]);
    for (int k = 3; k <= 122; ++k) {
        EXPECT_GE(fb->loWt[k], 0.0f);
        EXPECT_LE(fb->loWt[k], 1.0f);
    }
    KillFEVad(opt);
}

TEST(FilterBank, RealFftMatchesDirectDft) {
    FeOption* opt = InitFEVad();
    ASSERT_NE(opt, nullptr);
    const FBankInfo* fb = opt->fbinfo;
    std::vector<float> x(257);
    const std::vector<short> signal = dnnvad_test::noise(256, 1000);
    for (int i = 0; i < 256; ++i) x[i + 1] = signal[i];
    Realft(x.data(), fb);
    for (int k = 1; k <= 128; ++k) {
        double re = 0, im = 0;
        for (int n = 0; n < 256; ++n) {
            re += signal[n] * std::cos(2 * M_PI * (k - 1) * n / 256);
            im -= signal[n] * std::sin(2 * M_PI * (k - 1) * n / 256);
        }
        const double power = re * re + im * im;
        const double got = double(x[2 * k - 1]) * x[2 * k - 1] + double(x[2 * k]) * x[2 * k];
        EXPECT_NEAR(got, power, 1e-3 * power + 1.0) << "bin " << k;
    }
    KillFEVad(opt);
}

TEST(FilterBank, OneFrame) {
    FeOption* opt = InitFEVad();
    ASSERT_NE(opt, nullptr);
    std::vector<float> frame(200, 0.0f), out(26, 1.0f);
    int dim = 0;
    ASSERT_EQ(Wav2CepOneFrame(frame.data(), 200, out.data(), dim, opt), 0);
    ASSERT_EQ(dim, 26);
    for (float v : out) EXPECT_NEAR(v, std::log(std::pow(2.0, -23)), 1e-5);  // -15.942385

    // A 1 kHz tone lands in the channels around 1 kHz, far above the others.
    for (int i = 0; i < 200; ++i) frame[i] = static_cast<float>(8000.0 * std::sin(2 * M_PI * 1000.0 * i / 8000.0));
    ASSERT_EQ(Wav2CepOneFrame(frame.data(), 200, out.data(), dim, opt), 0);
    int loudest = 0;
    for (int c = 1; c < 26; ++c) {
        if (out[c] > out[loudest]) loudest = c;
    }
    const double mel1k = 1127.0 * std::log(1.0 + 1000.0 / 700.0);
    EXPECT_NEAR(opt->fbinfo->cf[loudest + 1], mel1k, 60.0);
    EXPECT_GT(out[loudest] - out[25], 10.0f);

    // A constant offset is removed with the mean: same as silence.
    std::vector<float> offset(200, 1234.0f);
    ASSERT_EQ(Wav2CepOneFrame(offset.data(), 200, out.data(), dim, opt), 0);
    for (float v : out) EXPECT_NEAR(v, -15.942385f, 1e-4);

    EXPECT_EQ(Wav2CepOneFrame(frame.data(), 199, out.data(), dim, opt), -1);
    KillFEVad(opt);
}

TEST(FilterBank, FrameHelpersMatchPlainLoops) {
    for (int n : {200, 203}) {  // whole SIMD blocks and a remainder
        const std::vector<short> noise = dnnvad_test::noise(n, 5000, n);
        std::vector<float> s(n + 1), plain(n + 1), win(n + 1);
        for (int i = 1; i <= n; ++i) s[i] = plain[i] = noise[i - 1] + 0.25f;
        GenHamWindow(win.data(), n);
        ZeroMeanFrame(s.data(), n);
        PreEmphasise(s.data(), n, 0.97f);
        Ham(s.data(), win.data(), n);
        double sum = 0;
        for (int i = 1; i <= n; ++i) sum += plain[i];
        for (int i = 1; i <= n; ++i) plain[i] -= static_cast<float>(sum / n);
        for (int i = n; i >= 2; --i) plain[i] -= 0.97f * plain[i - 1];
        plain[1] *= 0.03f;
        for (int i = 1; i <= n; ++i) plain[i] *= static_cast<float>(0.54 - 0.46 * std::cos(2 * M_PI * (i - 1) / (n - 1)));
        for (int i = 1; i <= n; ++i) EXPECT_NEAR(s[i], plain[i], 2e-3f) << n << " " << i;
    }
}

std::string writeText(const ScratchDir& dir, const std::string& text) {
    const std::string path = dir.file("cmvn.txt");
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
}

std::string section(int declared, int values, float base) {
    std::string s = "vec " + std::to_string(declared) + "\n";
    for (int i = 0; i < values; ++i) s += std::to_string(base + i) + "\n";
    return s;
}

TEST(CmvnFile, ReadsBothSectionsTolerantly) {
    ScratchDir dir;
    std::string text = "statistics of the training set\n";
    text += "vec  26 \r\n";
    for (int i = 0; i < 26; ++i) text += std::to_string(i) + " 99 trailing\t \r\n\n";
    text += section(26, 26, 100.0f) + section(13, 2, 0.0f) + "garbage after the third header\n";
    float mean[26], revVar[26];
    ASSERT_EQ(loadCmvnFile(writeText(dir, text).c_str(), 26, mean, revVar), 0);
    EXPECT_EQ(mean[0], 0.0f);
    EXPECT_EQ(mean[25], 25.0f);
    EXPECT_EQ(revVar[0], 100.0f);
    EXPECT_EQ(revVar[25], 125.0f);

    // The writer's output reads back exactly.
    float m2[26], r2[26];
    for (int i = 0; i < 26; ++i) revVar[i] = 1.0f / (3.0f + i);
    ASSERT_TRUE(writeCmvnFile(dir.file("w.dat").c_str(), mean, revVar, 26));
    ASSERT_EQ(loadCmvnFile(dir.file("w.dat").c_str(), 26, m2, r2), 0);
    for (int i = 0; i < 26; ++i) EXPECT_EQ(r2[i], revVar[i]);
}

TEST(CmvnFile, RejectsMalformedFiles) {
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"first header 13", section(13, 13, 0) + section(13, 13, 0), "curVecLen:13 srcDim:26"},
        {"second header 13", section(26, 26, 0) + section(13, 13, 0), "curVecLen:13 srcDim:26"},
        {"short means", section(26, 25, 0) + section(26, 26, 0), "meanVecLen:25 srcDim:26"},
        {"short deviations", section(26, 26, 0) + section(26, 20, 0), "varVecLen:20 srcDim:26"},
        {"too many means", section(26, 27, 0) + section(26, 26, 0), "meanVecLen:27 srcDim:26"},
        {"no second section", section(26, 26, 0), "varVecLen:0 srcDim:26"},
        {"value line without a number", section(26, 25, 0) + "abc\n" + section(26, 26, 0), ""},
        {"empty", "", "meanVecLen:0"},
    };
    ScratchDir dir;
    float mean[26], revVar[26];
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(loadCmvnFile(writeText(dir, c.text).c_str(), 26, mean, revVar), -1) << c.name;
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find(c.message), std::string::npos) << c.name << ": " << printed;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadCmvnFile(dir.file("absent").c_str(), 26, mean, revVar), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("failed to open dnn model file"), std::string::npos);
}

TEST(Translators, NormaliseThenSpliceOldestFirst) {
    ScratchDir dir;
    float mean[26], revVar[26];
    for (int i = 0; i < 26; ++i) {
        mean[i] = 1.0f;
        revVar[i] = 2.0f;
    }
    ASSERT_TRUE(writeCmvnFile(dir.file("c.dat").c_str(), mean, revVar, 26));
    CMVNFeatureTranslator cmvn(26, 26, dir.file("c.dat").c_str());
    ConcatFeatureTranslator concat(26, 26 * 3);
    cmvn.setSuccessor(&concat);
    ASSERT_EQ(cmvn.getState(), IDLE);

    auto frameOf = [](float v) { return std::vector<float>(26, v); };
    std::vector<float> spliced(78);
    auto push = [&](float v) {
        std::vector<float> f = frameOf(v);
        EXPECT_EQ(cmvn.translate(f.data(), 26, 0), 0);
        EXPECT_EQ(cmvn.read(spliced.data(), 78), 78);
    };
    // Normalised values: (v - 1) * 2, so frames 2, 3, 4, 5 read 2, 4, 6, 8.
    push(2);
    for (int i = 0; i < 78; ++i) EXPECT_EQ(spliced[i], 2.0f);  // first frame fills all slots
    push(3);
    EXPECT_EQ(spliced[0], 2.0f);
    EXPECT_EQ(spliced[26], 2.0f);
    EXPECT_EQ(spliced[52], 4.0f);
    push(4);
    push(5);
    EXPECT_EQ(spliced[0], 4.0f);
    EXPECT_EQ(spliced[26], 6.0f);
    EXPECT_EQ(spliced[77], 8.0f);
    cmvn.reset();  // resets the whole chain: the next frame fills every slot again
    push(3);
    for (int i = 0; i < 78; ++i) EXPECT_EQ(spliced[i], 4.0f);

    std::vector<float> wrong(25, 0.0f);
    EXPECT_EQ(cmvn.translate(wrong.data(), 25, 0), -1);
    EXPECT_EQ(concat.read(spliced.data(), 77), -1);
}

TEST(Translators, FailedMemberMakesTheChainUninitialised) {
    ScratchDir dir;
    testing::internal::CaptureStdout();
    PCM2FeatureTranslator pcm(200, 26);
    CMVNFeatureTranslator cmvn(26, 26, dir.file("absent").c_str());
    ConcatFeatureTranslator concat(26, 440);
    CMVNFeatureTranslator unequal(26, 13, dir.file("absent").c_str());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("dstDim:440 srcDim:26 not exact division"), std::string::npos);
    EXPECT_NE(printed.find("srcDim:26 dstDim:13 not equal"), std::string::npos);
    EXPECT_EQ(concat.getState(), UNINIT);
    pcm.setSuccessor(&cmvn);
    EXPECT_EQ(pcm.getState(), UNINIT);  // asked at the head, answered for the chain
    std::vector<float> frame(200, 0.0f);
    EXPECT_EQ(pcm.translate(frame.data(), 200, 0), -1);
    PCM2FeatureTranslator alone(200, 26);
    EXPECT_EQ(alone.getState(), IDLE);
}

class CollectFrames : public FrameSink {
public:
    void onFrame(const FrameFeatures& f) override {
        logMel.emplace_back(f.logMel, f.logMel + 26);
        if (f.spliced) spliced.emplace_back(f.spliced, f.spliced + f.splicedDim);
    }
    std::vector<std::vector<float>> logMel, spliced;
};

TEST(FeatureChain, MatchesWhatTheDetectorFeedsItsNetwork) {
    ScratchDir dir;
    const std::string net = dnnvad_test::writeEnergyNetwork(dir, 4);
    const std::string cmvn = dnnvad_test::writeIdentityCmvn(dir);
    // Long enough to wrap the detector's 5 s rings at both rates.
    const std::vector<short> audio = dnnvad_test::noise(100000, 3000);
    for (int rate : {8000, 16000}) {
        CMFE mfe;
        ASSERT_EQ(mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, rate), 0);
        // Speech throughout, so that every pass analyses all of its frames.
        mfe.mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
        mfe.mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
        ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
        FeatureChain chain(rate, cmvn.c_str(), 4);
        ASSERT_TRUE(chain.ok());
        CollectFrames frames;
        // Odd push sizes on both sides: frame boundaries must not matter.
        for (size_t pos = 0; pos < audio.size(); pos += 333) {
            const int n = static_cast<int>(std::min<size_t>(333, audio.size() - pos));
            ASSERT_EQ(chain.push(audio.data() + pos, n, &frames), 0);
            ASSERT_EQ(mfe.mfeSendData(audio.data() + pos, n), 0);
            mfe.mfeDNNDetect();
            if (mfe.samples8k() < 200) continue;
            // The detector's newest network input equals the chain's spliced vector of that frame.
            const int64_t lastFrame = (mfe.samples8k() - 200) / 80;
            ASSERT_GT(static_cast<int64_t>(frames.spliced.size()), lastFrame) << rate;
            ASSERT_EQ(std::vector<float>(mfe.lastFeatures(), mfe.lastFeatures() + 104), frames.spliced[lastFrame])
                << rate << " frame " << lastFrame;
        }
        ASSERT_FALSE(frames.spliced.empty());
        FeatureChain dumpOnly(rate, nullptr, 1);
        CollectFrames plain;
        ASSERT_EQ(dumpOnly.push(audio.data(), static_cast<int>(audio.size()), &plain), 0);
        EXPECT_EQ(plain.logMel, frames.logMel);
        EXPECT_TRUE(plain.spliced.empty());
    }
    FeatureChain bad(11025, nullptr, 1);
    EXPECT_FALSE(bad.ok());
}

// Records the network input of every frame the detector analyses, in order.
class InputRecordingMFE : public CMFE {
  public:
    explicit InputRecordingMFE(int width) : width(width) {}
    int mfeVADOneFrame(int64_t frameIdx, bool unused) override {
        const int code = CMFE::mfeVADOneFrame(frameIdx, unused);
        analysed.push_back(frameIdx);
        inputs.emplace_back(lastFeatures(), lastFeatures() + width);
        return code;
    }
    const int width;
    std::vector<int64_t> analysed;
    std::vector<std::vector<float>> inputs;
};

// The detector works features and network outputs out several frames ahead.
// Frames a pass does not reach (it closes an utterance, and the next pass
// analyses that frame again) are taken back out of the splice, so that every
// analysed frame sees what frame-by-frame analysis in the same order gives.
TEST(FeatureChain, LookAheadKeepsTheSpliceOfFrameByFrameAnalysis) {
    ScratchDir dir;
    const int context = 4;
    const std::string net = dnnvad_test::writeEnergyNetwork(dir, context);
    const std::string cmvn = dnnvad_test::writeIdentityCmvn(dir);
    for (int rate : {8000, 16000}) {
        std::vector<short> audio;
        for (int burst = 0; burst < 4; ++burst) {
            dnnvad_test::append(&audio, dnnvad_test::noise(rate, 2, 10 + burst));
            dnnvad_test::append(&audio, dnnvad_test::noise(rate / 2, 3000, 20 + burst));
        }
        dnnvad_test::append(&audio, dnnvad_test::noise(2 * rate, 2, 30));
        InputRecordingMFE mfe(26 * context);
        mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, rate);
        mfe.mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
        mfe.mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
        mfe.mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 20);
        mfe.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, 1073741824.0f);
        mfe.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, 1073741824.0f);
        ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
        const int push = rate / 100 * 16;
        for (size_t pos = 0; pos + push <= audio.size(); pos += push) {
            ASSERT_EQ(mfe.mfeSendData(audio.data() + pos, push), 0);
            mfe.mfeDNNDetect();
        }
        FeatureChain chain(rate, nullptr, 1);
        CollectFrames frames;
        ASSERT_EQ(chain.push(audio.data(), static_cast<int>(audio.size()), &frames), 0);

        std::vector<float> splice;  // frame by frame, oldest first
        int repeated = 0;
        for (size_t call = 0; call < mfe.analysed.size(); ++call) {
            const int64_t f = mfe.analysed[call];
            ASSERT_LT(f, static_cast<int64_t>(frames.logMel.size()));
            const std::vector<float>& now = frames.logMel[f];
            if (splice.empty()) {
                for (int slot = 0; slot < context; ++slot)
                    splice.insert(splice.end(), now.begin(), now.end());
            } else {
                splice.erase(splice.begin(), splice.begin() + 26);
                splice.insert(splice.end(), now.begin(), now.end());
            }
            if (call > 0 && f == mfe.analysed[call - 1]) ++repeated;
            ASSERT_EQ(mfe.inputs[call], splice) << rate << " Hz, call " << call << ", frame " << f;
        }
        EXPECT_GE(repeated, 3) << rate
                               << " Hz: every closed utterance analyses its closing frame twice";
    }
}

}  // namespace
