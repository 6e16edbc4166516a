// The detector's interface: initialisation, parameters, audio intake limits,
// the down-sampler, the windowed decision and the hand-back of audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dnn_vad_fixtures.h"
#include "vad/dnn/detector.h"
#include "vad/dnn/downsampler.h"
#include "vad/dnn/windows_detector.h"

namespace {

using namespace vx_dnnvad;
using namespace dnnvad_test;

class DetectorTest : public testing::Test {
protected:
    void SetUp() override {
        net = writeEnergyNetwork(dir, 4);
        cmvn = writeIdentityCmvn(dir);
    }
    // The VAD module's settings without long speech.
    static void moduleSettings(CMFE* mfe, int rate) {
        mfe->mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
        mfe->mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
        mfe->mfeSetParam(MFE_PARAM_SAMPLE_RATE, static_cast<float>(rate));
        mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_DURATION, 5000);
        mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 49);
        mfe->mfeSetParam(MFE_PARAM_START_BACK_FRAME, 40);
        mfe->mfeSetParam(MFE_PARAM_END_BACK_FRAME, 30);
        mfe->mfeSetParam(MFE_PARAM_USE_VAD, 1);
        mfe->mfeSetParam(MFE_PARAM_LOG_LEVEL, 0);
        mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, 50);
        mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, 600);
    }

    ScratchDir dir;
    std::string net, cmvn;
};

TEST_F(DetectorTest, InitFailures) {
    CMFE mfe;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mfe.mfeInit("", cmvn.c_str()), MFE_ERR_NULL_POINTER);
    EXPECT_EQ(mfe.mfeInit(net.c_str(), nullptr), MFE_ERR_NULL_POINTER);
    EXPECT_EQ(mfe.mfeInit(dir.file("absent").c_str(), cmvn.c_str()), MFE_ERR_INIT);
    EXPECT_EQ(mfe.mfeInit(net.c_str(), dir.file("absent").c_str()), MFE_ERR_INIT);
    writeNetworkFile(dir.file("440.dat").c_str(), {440, 9}, std::vector<float>(441 * 9, 0.0f));
    EXPECT_EQ(mfe.mfeInit(dir.file("440.dat").c_str(), cmvn.c_str()), MFE_ERR_INIT);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("NULL POINTER: dnnfile=,cmvn="), std::string::npos);
    EXPECT_NE(printed.find("DNN Init Failed"), std::string::npos);
    EXPECT_NE(printed.find("m_pFeatTranslator Init Failed"), std::string::npos);
    EXPECT_NE(printed.find("dstDim:440 srcDim:26 not exact division"), std::string::npos);

    // Nothing works on a failed detector, nothing crashes either.
    const std::vector<short> audio(800, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(mfe.mfeSendData(audio.data(), 800), MFE_ERR_INIT);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(mfe.mfeDNNDetect(), SILENCE);
    char out[16];
    int len = -1;
    EXPECT_EQ(mfe.mfeGetCallbackData(out, &len, 16), 0);
    EXPECT_EQ(len, 0);

    // Initialising again (twice in a row) works and leaks nothing.
    EXPECT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
    EXPECT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
    EXPECT_EQ(mfe.mfeSendData(audio.data(), 800), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(mfe.mfeGetCallbackData(nullptr, &len, 16), MFE_ERR_NULL_POINTER);
    EXPECT_EQ(mfe.mfeGetCallbackData(out, nullptr, 16), MFE_ERR_NULL_POINTER);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("NULL POINTER: pDataOut="), std::string::npos);
}

TEST_F(DetectorTest, ParameterTable) {
    CMFE mfe;
    struct Default {
        int id;
        float value;
    };
    const Default defaults[] = {{1, 110}, {2, 5000}, {3, 90}, {4, 25}, {5, 400}, {6, 40}, {7, 40}, {8, 0},
                                {9, 500 * 80 * 2}, {10, 0}, {11, -109}, {12, 1}, {13, 8000}, {14, -109},
                                {23, 0.2f}, {24, 0.2f}, {99, -109}};
    for (const auto& d : defaults) EXPECT_FLOAT_EQ(mfe.mfeGetParam(d.id), d.value) << "id " << d.id;
    EXPECT_EQ(mfe.mfeSetParam(99, 1), MFE_ERR_PARAM);

    // Integer values are truncated toward zero; the log level never goes negative.
    EXPECT_EQ(mfe.mfeSetParam(MFE_PARAM_MIN_SPEECH_DURATION, 49.9f), 0);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MIN_SPEECH_DURATION), 49);
    mfe.mfeSetParam(MFE_PARAM_LOG_LEVEL, -3);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_LOG_LEVEL), 0);
    mfe.mfeSetLogLevel(1);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_LOG_LEVEL), 7);
    mfe.mfeSetLogLevel(0);

    // Ring size in frames: bytes / frame length + 1, at least 100.
    mfe.mfeSetParam(MFE_PARAM_MAX_DATA_BYTES, 4000);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MAX_DATA_BYTES), 100 * 80 * 2);
    mfe.mfeSetParam(MFE_PARAM_MAX_DATA_BYTES, 80000);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MAX_DATA_BYTES), 1001 * 80 * 2);
    // Absurd values are bounded instead of overflowing the ring sizes.
    mfe.mfeSetParam(MFE_PARAM_MAX_DATA_BYTES, 1e30f);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MAX_DATA_BYTES), float(1 << 20) * 80 * 2);
    mfe.mfeSetParam(MFE_PARAM_MAX_DATA_BYTES, 4000);

    testing::internal::CaptureStdout();
    EXPECT_EQ(mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, 11025), MFE_ERR_PARAM);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("SampleRate = 11025, should be 8000 or 16000"),
              std::string::npos);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_SAMPLE_RATE), 8000);

}

TEST_F(DetectorTest, PauseAndWaitLimitsAreCoupled) {
    CMFE mfe;
    // A pause at or above the wait raises the current wait until the next reset.
    mfe.mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 200);
    EXPECT_EQ(mfe.currentWaitLimit(), 201);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MAX_WAIT_DURATION), 110);
    mfe.mfeReset();
    EXPECT_EQ(mfe.currentWaitLimit(), 110);
    // A wait at or below the configured pause lowers the pause to wait - 1.
    mfe.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, 50);
    EXPECT_FLOAT_EQ(mfe.mfeGetParam(MFE_PARAM_MAX_SPEECH_PAUSE), 49);
    EXPECT_EQ(mfe.currentPauseLimit(), 200);  // the current pause stays until the next reset
    mfe.mfeReset();
    EXPECT_EQ(mfe.currentPauseLimit(), 49);
    // The VAD module's order (pause 49, then wait 50) leaves both as set.
    CMFE module;
    module.mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 49);
    module.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, 50);
    EXPECT_FLOAT_EQ(module.mfeGetParam(MFE_PARAM_MAX_SPEECH_PAUSE), 49);
    EXPECT_FLOAT_EQ(module.mfeGetParam(MFE_PARAM_MAX_WAIT_DURATION), 50);
}

TEST_F(DetectorTest, PushSizeLimits) {
    for (int rate : {8000, 16000}) {
        CMFE mfe;
        mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, static_cast<float>(rate));
        ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
        const int limit = rate / 100 * 500 / 2;  // half the 5 s input ring
        const std::vector<short> audio(limit + 1, 7);
        testing::internal::CaptureStdout();
        EXPECT_EQ(mfe.mfeSendData(audio.data(), limit + 1), MFE_ERR_TOO_MUCH_DATA) << rate;
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find("iLen*2[" + std::to_string(2 * (limit + 1)) + "] > MaxDataLenOneTime[" +
                               std::to_string(2 * limit) + "]"),
                  std::string::npos)
            << printed;
        EXPECT_EQ(mfe.samplesAccepted(), 0) << "nothing stored";
        EXPECT_EQ(mfe.mfeSendData(audio.data(), limit), 0) << rate;
        EXPECT_EQ(mfe.samplesAccepted(), limit);
        testing::internal::CaptureStdout();
        EXPECT_EQ(mfe.mfeSendData(nullptr, 5), MFE_ERR_NULL_POINTER);
        EXPECT_EQ(mfe.mfeSendData(audio.data(), -1), MFE_ERR_NULL_POINTER);
        testing::internal::GetCapturedStdout();
    }
}

TEST(DownSampler, FirstBlockPassesItsFirst19SamplesUnfiltered) {
    std::vector<int16_t> in(80), out(40), again(40);
    for (int i = 0; i < 80; ++i) in[i] = static_cast<int16_t>(1000 + 37 * i);
    DownSampler ds;
    ds.processBlock(in.data(), out.data());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], in[2 * i]) << i;  // samples 0, 2, ... 18
    // Filtering starts at sample 19 from an empty history: the first filtered
    // outputs are the tiny start of the step response.
    EXPECT_LT(std::abs(out[10]), 10);
    // Only the stream's first block is special, and a reset makes it first again.
    ds.processBlock(in.data(), again.data());
    EXPECT_NE(again[0], in[0]);
    ds.reset();
    ds.processBlock(in.data(), again.data());
    EXPECT_EQ(again, out);
}

double rms(const std::vector<int16_t>& v, size_t from) {
    double sum = 0;
    for (size_t i = from; i < v.size(); ++i) sum += double(v[i]) * v[i];
    return std::sqrt(sum / (v.size() - from));
}

TEST(DownSampler, LowPassesAtFourKilohertz) {
    struct Case {
        double hz;
        double minGain, maxGain;
    };
    // 1 dB ripple in the pass band; strong attenuation above 4 kHz (no aliasing).
    const Case cases[] = {{500, 0.85, 1.01}, {2000, 0.85, 1.01}, {5000, 0.0, 0.02}, {7000, 0.0, 0.01}};
    for (const auto& c : cases) {
        std::vector<int16_t> in(16000), out;
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * c.hz * i / 16000));
        DownSampler ds;
        int16_t block[40];
        for (size_t b = 0; b + 80 <= in.size(); b += 80) {
            ds.processBlock(&in[b], block);
            out.insert(out.end(), block, block + 40);
        }
        const double gain = rms(out, 800) / (10000 / std::sqrt(2.0));
        EXPECT_GE(gain, c.minGain) << c.hz;
        EXPECT_LE(gain, c.maxGain) << c.hz;
    }
}

TEST_F(DetectorTest, SixteenKilohertzIntakeKeepsTheRawAudio) {
    CMFE mfe;
    mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, 16000);
    ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
    const std::vector<short> audio = noise(160, 3000);
    ASSERT_EQ(mfe.mfeSendData(audio.data(), 100), 0);
    EXPECT_EQ(mfe.samplesAccepted(), 80);  // whole 80-sample blocks are down-sampled
    EXPECT_EQ(mfe.samples8k(), 40);
    EXPECT_EQ(mfe.samplesPending16k(), 20);  // the rest waits for the next push
    ASSERT_EQ(mfe.mfeSendData(audio.data() + 100, 60), 0);
    EXPECT_EQ(mfe.samplesAccepted(), 160);
    EXPECT_EQ(mfe.samples8k(), 80);
    EXPECT_EQ(mfe.samplesPending16k(), 0);
    // The 8 kHz ring holds what a plain down-sampler makes of the same stream.
    DownSampler ds;
    int16_t expected[80];
    ds.processBlock(audio.data(), expected);
    ds.processBlock(audio.data() + 80, expected + 40);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(mfe.ring8k()[i], expected[i]) << i;
}

TEST(DownSamplerPositions, WorkBeyondThirtyTwoBits) {
    // Stream positions past 2^31 samples (37 h at 16 kHz) still index the rings.
    CMFE mfe;
    std::vector<short> in(800), out(400, 0);
    for (int i = 0; i < 800; ++i) in[i] = static_cast<short>(i);
    int outLen = 0;
    const int64_t far = (int64_t(1) << 33) + 40;
    EXPECT_EQ(mfe.down_sample(in.data(), far, 160, out.data(), far / 2, &outLen, 800), 0);
    EXPECT_EQ(outLen, 80);
    const int64_t firstOut = (far / 2) % 400;
    EXPECT_EQ(out[firstOut], in[far % 800]);  // first block of the stream: unfiltered
}

TEST(WindowsDetectorTest, ThresholdsAreInclusive) {
    const float p[9] = {0.05f, 0.05f, 0.05f, 0.1f, 0.1f, 0.15f, 0.15f, 0.15f, 0.2f};
    VadConfiger probe;
    WindowsDetector measure(probe);
    measure.SmoothDetectorOneFrame(p, 9, 0);
    const float c = measure.lastConfidence();
    double logs = 1.0;
    for (int j = 3; j < 9; ++j) logs += std::log(double(p[j]));
    EXPECT_NEAR(c, std::exp(logs / 6.0), 1e-6);  // the sum starts at 1, units 0..2 ignored

    VadConfiger config;
    config.speech_st_threshold = c;
    config.speech_et_threshold = c;
    WindowsDetector equal(config);
    EXPECT_EQ(equal.SmoothDetectorOneFrame(p, 9, 0), SIL2SPEECH);  // confidence = start threshold
    EXPECT_EQ(equal.SmoothDetectorOneFrame(p, 9, 1), SPEECH2SIL);  // confidence = end threshold

    config.speech_st_threshold = std::nextafter(c, 1.0f);
    WindowsDetector above(config);
    EXPECT_EQ(above.SmoothDetectorOneFrame(p, 9, 0), SIL2SIL);
    EXPECT_EQ(above.SmoothDetectorOneFrame(p, 8, 1), INVALID);

    // All weight on units 0..2: never speech, whatever the thresholds.
    const float silent[9] = {0.4f, 0.3f, 0.3f, 0, 0, 0, 0, 0, 0};
    config.speech_st_threshold = 0.0001f;
    WindowsDetector never(config);
    for (int f = 0; f < 30; ++f) EXPECT_EQ(never.SmoothDetectorOneFrame(silent, 9, f), SIL2SIL);
}

// The windowed decision holds speech for about a window after the posteriors
// drop; the frame's own confidence drops with them.
TEST(WindowsDetectorTest, FrameConfidenceFallsWhileTheWindowStillHoldsSpeech) {
    const float speech[9] = {0.03f, 0.03f, 0.04f, 0.15f, 0.15f, 0.15f, 0.15f, 0.15f, 0.15f};
    const float silence[9] = {0.3f, 0.3f, 0.34f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f, 0.01f};
    VadConfiger config;
    config.speech_st_threshold = 0.15f;
    config.speech_et_threshold = 0.1f;
    WindowsDetector detector(config);
    int64_t lastVoiced = -1, windowEnd = -1;
    for (int f = 0; f < 80; ++f) {
        const int code = detector.SmoothDetectorOneFrame(f < 30 ? speech : silence, 9, f);
        EXPECT_NEAR(detector.lastFrameConfidence(), f < 30 ? 0.15 * std::exp(1.0 / 6) : 0.01 * std::exp(1.0 / 6), 1e-5);
        if (detector.lastFrameVoiced()) lastVoiced = f;
        if (code == SPEECH2SIL) windowEnd = f;
    }
    EXPECT_EQ(lastVoiced, 29);
    EXPECT_GE(windowEnd, 29 + 18);  // the 20-frame maximum still holds frame 29's value
}

// Loud noise reads as speech to the energy network: the segment's last speech
// frame is where the loud part ends, not where the window lets go; the audio
// tail and the pause still count from the held end.
TEST_F(DetectorTest, LastSpeechFrameIsTheLastFrameTheNetworkCallsSpeech) {
    std::vector<short> audio = noise(8000, 2, 1);  // frames 0..99 quiet
    append(&audio, noise(16000, 3000, 2));         // loud up to sample 24000 (frame 300)
    append(&audio, noise(16000, 2, 3));
    CMFE mfe;
    moduleSettings(&mfe, 8000);
    ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
    int64_t openLastSpeech = -1;
    std::vector<int> statuses;
    for (size_t pos = 0; pos < audio.size(); pos += 1280) {
        ASSERT_EQ(mfe.mfeSendData(audio.data() + pos, 1280), 0);
        statuses.push_back(mfe.mfeDNNDetect());
        // Just past the loud part, while the window still holds speech.
        if (pos / 80 == 304) openLastSpeech = mfe.mfeGetLastSpeechFrame();
    }
    ASSERT_EQ(mfe.segments().size(), 1u);
    const _VADINFO_ seg = mfe.segments()[0];
    // Frames whose 25 ms window overlaps the loud part end at 299; the
    // network's four-frame context moves its decision by a few frames.
    EXPECT_GE(seg.speech_e, 296);
    EXPECT_LE(seg.speech_e, 303);
    EXPECT_GE(seg.held_e, seg.speech_e + 15);
    EXPECT_EQ(mfe.mfeGetLastSpeechFrame(), seg.speech_e);
    EXPECT_EQ(openLastSpeech, seg.speech_e);
    EXPECT_EQ(seg.utt_e, seg.held_e + 30);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), SPEECH_PAUSE), statuses.end());
}

TEST_F(DetectorTest, NetworkOutputsDecideTheState) {
    const std::vector<short> loud = noise(8000, 3000);
    struct Case {
        const char* name;
        std::string net;
        int expectedCode;
    };
    writeNetworkFile(dir.file("five.dat").c_str(), {104, 5}, std::vector<float>(105 * 5, 0.1f));
    const Case cases[] = {{"energy network", net, SPEECH2SPEECH},
                          {"units 0..2 only", writeEnergyNetwork(dir, 4, true), SIL2SIL},
                          {"five outputs", dir.file("five.dat"), INVALID}};
    for (const auto& c : cases) {
        CMFE mfe;
        moduleSettings(&mfe, 8000);
        ASSERT_EQ(mfe.mfeInit(c.net.c_str(), cmvn.c_str()), 0) << c.name;
        int status = -1;
        for (size_t pos = 0; pos + 1280 <= loud.size(); pos += 1280) {
            mfe.mfeSendData(loud.data() + pos, 1280);
            status = mfe.mfeDNNDetect();
        }
        EXPECT_EQ(mfe.lastFrameCode(), c.expectedCode) << c.name;
        EXPECT_EQ(status, c.expectedCode == SPEECH2SPEECH ? SILENCE_TO_SPEECH : SILENCE) << c.name;
    }
}

struct Stream {
    std::vector<short> handedBack;
    std::vector<int> statuses;
};

// Pushes in 160 ms blocks, makes a pass after each and drains the hand-back
// with a buffer of maxBytes.
Stream runStream(CMFE* mfe, const std::vector<short>& audio, int push, int maxBytes) {
    Stream s;
    std::vector<char> buffer(maxBytes);
    for (size_t pos = 0; pos < audio.size(); pos += push) {
        const int n = static_cast<int>(std::min<size_t>(push, audio.size() - pos));
        EXPECT_EQ(mfe->mfeSendData(audio.data() + pos, n), 0);
        s.statuses.push_back(mfe->mfeDNNDetect());
        int got = 0;
        do {
            EXPECT_EQ(mfe->mfeGetCallbackData(buffer.data(), &got, maxBytes), 0);
            const short* samples = reinterpret_cast<const short*>(buffer.data());
            s.handedBack.insert(s.handedBack.end(), samples, samples + got / 2);
        } while (got == maxBytes);
    }
    return s;
}

TEST_F(DetectorTest, HandsBackTheUtteranceWithLeadInAndTail) {
    for (int rate : {8000, 16000}) {
        // The utterance (about 3.6 to 5.3 s) spans the end of the 5 s rings.
        const size_t second = rate;
        std::vector<short> audio = noise(4 * second, 2, 1);
        append(&audio, noise(second, 3000, 2));
        append(&audio, noise(2 * second, 2, 3));
        const int push = rate / 100 * 16;

        CMFE mfe;
        moduleSettings(&mfe, rate);
        ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
        testing::internal::CaptureStdout();
        const Stream whole = runStream(&mfe, audio, push, 1 << 20);
        ASSERT_EQ(mfe.segments().size(), 1u) << rate;
        const _VADINFO_ seg = mfe.segments()[0];
        EXPECT_GE(seg.speech_s, 397);  // the loud second starts at frame 398
        EXPECT_LE(seg.speech_s, 404);
        EXPECT_GE(seg.speech_e, 496);  // the loud second ends with frame 499's window
        EXPECT_LE(seg.speech_e, 503);
        EXPECT_LE(seg.held_e, 530);  // the windowed decision holds speech for 20 frames
        EXPECT_EQ(seg.utt_s, seg.speech_s - 40);
        EXPECT_NE(std::find(whole.statuses.begin(), whole.statuses.end(), SPEECH_PAUSE), whole.statuses.end());
        EXPECT_EQ(whole.statuses.back(), NO_SPEECH);

        // The raw input from 40 frames before the first speech frame to 30
        // frames after the last one the window held (its window end; audio
        // handed out before the tail was known may reach up to one frame shift
        // further).
        const int64_t samplesPerFrame = rate / 100;
        const int64_t begin = seg.utt_s * samplesPerFrame;
        const int64_t end = mfe.mfeGetSamplespot(seg.held_e + 30);
        const int64_t got = static_cast<int64_t>(whole.handedBack.size());
        EXPECT_GE(got, end - begin) << rate;
        EXPECT_LE(got, end - begin + samplesPerFrame) << rate;
        EXPECT_TRUE(std::equal(whole.handedBack.begin(), whole.handedBack.end(), audio.begin() + begin)) << rate;

        // A caller buffer far smaller than the utterance gets the same audio,
        // oldest first, over several calls.
        CMFE small;
        moduleSettings(&small, rate);
        ASSERT_EQ(small.mfeInit(net.c_str(), cmvn.c_str()), 0);
        const Stream pieces = runStream(&small, audio, push, 1000);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find("> iMaxLen[1000]"), std::string::npos);
        EXPECT_EQ(pieces.handedBack, whole.handedBack) << rate;
    }
}

}  // namespace
