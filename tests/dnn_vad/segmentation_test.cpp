// Utterance segmentation on a scripted per-frame decision: the begin-wait,
// pauses, wait limits, blips, too-short and too-long speech, pause adaptation,
// the segment list and the end-of-input status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dnn_vad_fixtures.h"

namespace {

using namespace vx_dnnvad;
using namespace dnnvad_test;

struct Limits {
    int pause = 49;
    int wait = 50;
    int waitBegin = 600;
    int minSpeech = 25;
    int maxSpeech = 5000;
};

class Segmentation : public testing::Test {
protected:
    void SetUp() override {
        net = writeEnergyNetwork(dir, 1);
        cmvn = writeIdentityCmvn(dir);
    }
    void init(const Limits& limits) {
        mfe.mfeSetParam(MFE_PARAM_SAMPLE_RATE, 8000);
        mfe.mfeSetParam(MFE_PARAM_MAX_SPEECH_DURATION, static_cast<float>(limits.maxSpeech));
        mfe.mfeSetParam(MFE_PARAM_MIN_SPEECH_DURATION, static_cast<float>(limits.minSpeech));
        mfe.mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, static_cast<float>(limits.pause));
        mfe.mfeSetParam(MFE_PARAM_START_BACK_FRAME, 40);
        mfe.mfeSetParam(MFE_PARAM_END_BACK_FRAME, 30);
        mfe.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, static_cast<float>(limits.wait));
        mfe.mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, static_cast<float>(limits.waitBegin));
        ASSERT_EQ(mfe.mfeInit(net.c_str(), cmvn.c_str()), 0);
        // 120 samples: no frame complete yet; afterwards each push of 80
        // samples completes exactly one frame.
        const std::vector<short> head(120, 0);
        ASSERT_EQ(mfe.mfeSendData(head.data(), 120), 0);
        EXPECT_EQ(mfe.mfeDNNDetect(), SILENCE);
        EXPECT_TRUE(mfe.analysed.empty());
    }
    // Status of the pass whose newest frame is f, for f up to `frames` - 1
    // (one frame per push, as the statuses are compared frame by frame).
    void run(int64_t frames) {
        const std::vector<short> block(80, 0);
        while (static_cast<int64_t>(status.size()) < frames) {
            ASSERT_EQ(mfe.mfeSendData(block.data(), 80), 0);
            status.push_back(mfe.mfeDNNDetect());
        }
    }
    int64_t firstFrameWith(int wanted) const {
        auto it = std::find(status.begin(), status.end(), wanted);
        return it == status.end() ? -1 : it - status.begin();
    }
    int64_t timesAnalysed(int64_t f) const { return std::count(mfe.analysed.begin(), mfe.analysed.end(), f); }

    ScratchDir dir;
    std::string net, cmvn;
    ScriptedMFE mfe;
    std::vector<int> status;
};

TEST_F(Segmentation, SilenceOnlyEndsAfterTheBeginWait) {
    init(Limits());
    run(700);
    EXPECT_EQ(firstFrameWith(NO_SPEECH), 601);  // sil = 601 > 600
    EXPECT_EQ(status[600], SILENCE);
    EXPECT_TRUE(mfe.segments().empty());
    char buffer[64];
    int len = -1;
    EXPECT_EQ(mfe.mfeGetCallbackData(buffer, &len, sizeof buffer), 0);
    EXPECT_EQ(len, 0);
}

TEST_F(Segmentation, PauseClosesAndTheClosingFrameIsAnalysedTwice) {
    mfe.speech(100, 150);  // last speech frame 149
    init(Limits());
    run(260);
    EXPECT_EQ(status[149], SILENCE_TO_SPEECH);
    EXPECT_EQ(status[150], SPEECH_TO_SILENCE);    // silence after an onset
    EXPECT_EQ(status[198], SPEECH_TO_SILENCE);    // sil = 49: not yet above the pause
    EXPECT_EQ(firstFrameWith(SPEECH_PAUSE), 199);  // sil = 50 > 49
    EXPECT_EQ(timesAnalysed(199), 2);
    EXPECT_EQ(timesAnalysed(198), 1);
    EXPECT_EQ(firstFrameWith(NO_SPEECH), 200);     // sil = 51 > wait 50
    ASSERT_EQ(mfe.segments().size(), 1u);
    const _VADINFO_ seg = mfe.segments()[0];
    EXPECT_EQ(seg.utt_s, 60);
    EXPECT_EQ(seg.speech_s, 100);
    EXPECT_EQ(seg.speech_e, 149);  // no network confidence: the decision's own end
    EXPECT_EQ(seg.held_e, 149);
    EXPECT_EQ(seg.utt_e, 179);
}

TEST_F(Segmentation, WhenNoSpeechFollowsAFirstUtterance) {
    struct Case {
        const char* name;
        int64_t from, to;  // scripted speech frames [from, to)
        int minSpeech;
        int64_t noSpeechAt;
    };
    const Case cases[] = {
        // Closed after 50 silent frames, then NO_SPEECH one frame later.
        {"normal utterance", 100, 200, 25, 199 + 51},
        // At most 9 frames: forgotten, so the begin-wait from frame 0 decides.
        {"blip", 100, 105, 25, 601},
        // Longer than 9 but shorter than minSpeech: the wait becomes the
        // short-speech wait (200) instead of 50.
        {"too short", 100, 125, 50, 124 + 201},
    };
    for (const auto& c : cases) {
        mfe.codes.clear();
        status.clear();
        mfe.analysed.clear();
        mfe.speech(c.from, c.to);
        Limits limits;
        limits.minSpeech = c.minSpeech;
        init(limits);
        run(700);
        EXPECT_EQ(firstFrameWith(SPEECH_PAUSE), c.to - 1 + 50) << c.name;
        EXPECT_EQ(firstFrameWith(NO_SPEECH), c.noSpeechAt) << c.name;
    }
}

TEST_F(Segmentation, SpeechTooLongAfterMaxSpeechFrames) {
    mfe.speech(100, 2000);
    Limits limits;
    limits.maxSpeech = 300;
    init(limits);
    run(500);
    EXPECT_EQ(status[400], SILENCE_TO_SPEECH);  // n = 300
    EXPECT_EQ(firstFrameWith(SPEECH_TOO_LONG), 401);  // n = 301
}

TEST_F(Segmentation, PauseShrinksAsAnUtteranceGrowsLong) {
    mfe.speech(100, 1601);  // last speech frame 1600, n = 1500
    init(Limits());
    run(1101);
    EXPECT_EQ(mfe.currentPauseLimit(), 49);  // n = 1000: not yet adapted
    run(1102);
    EXPECT_EQ(mfe.currentPauseLimit(), static_cast<int>((1.0f - 1001 / 5000.01f) * 49));
    run(1601);
    const int shrunk = static_cast<int>((1.0f - 1500 / 5000.01f) * 49);
    EXPECT_EQ(mfe.currentPauseLimit(), shrunk);
    EXPECT_EQ(shrunk, 34);
    run(1700);
    // The limit goes on shrinking during the silence and closes the utterance
    // far earlier than the configured 49 frames; closing restores it.
    int64_t expectedClose = 1601;
    auto limitAfter = [](int64_t f) { return static_cast<int>((1.0f - (f - 100) / 5000.01f) * 49); };
    while (expectedClose - 1600 <= limitAfter(expectedClose - 1)) ++expectedClose;
    EXPECT_LT(expectedClose, 1600 + 36);
    EXPECT_EQ(firstFrameWith(SPEECH_PAUSE), expectedClose);
    EXPECT_EQ(mfe.currentPauseLimit(), 49);
}

TEST_F(Segmentation, NextUtteranceStartsAfterThePreviousOne) {
    mfe.speech(100, 150);
    mfe.speech(215, 300);
    Limits limits;
    limits.wait = 1 << 30;  // long speech: only pauses end utterances
    limits.waitBegin = 1 << 30;
    init(limits);
    run(400);
    ASSERT_EQ(mfe.segments().size(), 2u);
    EXPECT_EQ(mfe.segments()[1].speech_s, 215);
    EXPECT_EQ(mfe.segments()[1].utt_s, 179);  // lead-in clamped to the previous end
    EXPECT_EQ(mfe.segments()[1].speech_e, 299);
    EXPECT_EQ(std::count(status.begin(), status.end(), NO_SPEECH), 0);
}

TEST_F(Segmentation, EndOfInputStatus) {
    struct Case {
        const char* name;
        int64_t from, to;  // scripted speech, or from = to = 0 for none
        int64_t endAfter;  // frames run before the end of input
        int maxSpeech;
        int expected;
    };
    const Case cases[] = {
        {"before any speech", 0, 0, 100, 5000, NO_SPEECH},
        {"speech shorter than minSpeech", 100, 1000, 110, 5000, SPEECH_TOO_SHORT},
        {"speech long enough", 100, 1000, 200, 5000, SPEECH_TO_SILENCE},
        {"speech near maxSpeech", 100, 1000, 395, 300, SPEECH_TOO_LONG},
        {"after a closed utterance", 100, 150, 220, 5000, SPEECH_TO_SILENCE},
    };
    for (const auto& c : cases) {
        mfe.codes.clear();
        mfe.analysed.clear();
        status.clear();
        if (c.to > c.from) mfe.speech(c.from, c.to);
        Limits limits;
        limits.maxSpeech = c.maxSpeech;
        limits.wait = 1 << 30;
        init(limits);
        run(c.endAfter);
        ASSERT_EQ(mfe.mfeSendData(nullptr, 0), 0);
        EXPECT_EQ(mfe.mfeDNNDetect(), c.expected) << c.name;
    }
}

}  // namespace
