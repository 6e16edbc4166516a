#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/event_manager_mic.h"
#include "context/recording_module.h"
#include "core/common_keys.h"
#include "core/context.h"
#include "core/log.h"
#include "core/time_util.h"

using vxs::Context;
using vxs::ContextPtr;
using vxs::EventManagerMic;
using vxs::EventManagerMicPtr;
using vxs::Message;
using vxs::MessagePtr;
using vxs::ParamMapPtr;
using vxs::Memory::vxs_shared_ptr;
using vxs_test::drainContext;
using vxs_test::Journal;
using vxs_test::Received;
using vxs_test::RecordingModule;
using vxs_test::RecordingModulePtr;

namespace {

typedef std::vector<std::string> Names;

vxs_shared_ptr<char> pcm(const std::vector<int16_t>& samples, size_t extraBytes = 0) {
    const size_t size = samples.size() * 2 + extraBytes;
    vxs_shared_ptr<char> buffer = vxs::Memory::vxs_make_array<char>(size);
    if (!samples.empty()) std::memcpy(buffer.getPTR(), samples.data(), samples.size() * 2);
    return buffer;
}

// The audio input module between a recording owner (its callback) and a
// driver that posts the commands, all on one context as in an SDK instance.
class MicRig {
public:
    MicRig() {
        context = Context::newContext();
        owner = RecordingModule::create(context, &journal, "owner");
        driver = RecordingModule::create(context, &journal, "test.driver", [this](RecordingModule&, MessagePtr& m) {
            if (m->name == "test.run" && onQueue) onQueue();
        });
        mic = EventManagerMic::newEventManager(context, owner->getSelfPtr());
    }
    MicRig(const MicRig&) = delete;
    MicRig& operator=(const MicRig&) = delete;

    void command(const std::string& name, const ParamMapPtr& params = ParamMapPtr()) {
        driver->post(mic->getSelfPtr(), Message::make(name, params), 0);
    }

    void push(const vxs_shared_ptr<char>& buffer, uint32_t length) {
        MessagePtr message = Message::make(vxs::MIC_CMD_PUSH_USER_AUDIO);
        message->data = buffer;
        message->length = length;
        driver->post(mic->getSelfPtr(), message, 0);
    }

    // Runs `work` inside a send() on the instance's queue, as recorder code does.
    void runOnQueue(std::function<void()> work) {
        EXPECT_TRUE(drainContext(driver, journal));
        onQueue = std::move(work);
        driver->postTo(driver->getSelfPtr(), "test.run");
    }

    // Every notification the owner received after the last start skipped
    // (see startAndSkipNotifications), once the queue is idle.
    std::vector<Received> events() {
        EXPECT_TRUE(drainContext(driver, journal));
        std::vector<Received> out;
        for (const Received& entry : journal.entries()) {
            if (entry.module == "owner") out.push_back(entry);
        }
        return std::vector<Received>(out.begin() + static_cast<long>(skipped), out.end());
    }

    Names eventNames() {
        Names names;
        for (const Received& entry : events()) names.push_back(entry.name);
        return names;
    }

    // Starts the module, checks and then leaves out the start notifications.
    void startAndSkipNotifications() {
        command(vxs::MIC_CMD_START);
        EXPECT_EQ(eventNames(), (Names{"mic.start-called", "mic.callback.begin"}));
        skipped += 2;
    }

    ContextPtr context;
    Journal journal;
    RecordingModulePtr owner;
    RecordingModulePtr driver;
    EventManagerMicPtr mic;
    std::function<void()> onQueue;
    size_t skipped = 0;
};

// Captures the warnings logged while it lives.
class WarningLog {
public:
    WarningLog() {
        vxs::set_log_level(vxs::kLogWarn);
        testing::internal::CaptureStderr();
    }
    ~WarningLog() {
        if (!taken_) take();
    }
    std::string take() {
        taken_ = true;
        std::string text = testing::internal::GetCapturedStderr();
        vxs::set_log_level(0);
        return text;
    }

private:
    bool taken_ = false;
};

TEST(Mic, StartReportsStartCalledThenBeginAndCompletesTheConfiguration) {
    struct Case {
        const char* what;
        std::function<void(vxs::ParamMap&)> fill;
        float duration;
        std::string path;
    };
    const Case cases[] = {
        {"empty configuration", [](vxs::ParamMap&) {}, 0.08f, ""},
        {"values already set",
         [](vxs::ParamMap& map) {
             map[vxs::MIC_PARAM_KEY_SAMPLE_RATE] = vxs::paramBase(static_cast<int32_t>(8000));
             map[vxs::MIC_PARAM_KEY_PACKAGE_DURATION] = vxs::paramBase(0.16f);
             map[vxs::MIC_PARAM_KEY_AUDIO_FILE_PATH] = vxs::paramBase(std::string("/tmp/a.pcm"));
         },
         0.16f, "/tmp/a.pcm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MicRig rig;
        ParamMapPtr configuration = vxs::newParamMap();
        c.fill(*configuration);
        const uint64_t before = vxs::get_current_time();
        rig.command(vxs::MIC_CMD_START, configuration);

        const std::vector<Received> got = rig.events();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].name, "mic.start-called");
        EXPECT_TRUE(got[0].message->params->empty());
        EXPECT_EQ(got[1].name, "mic.callback.begin");
        const auto* stamp = (*got[1].message->params)["mills.unsigned_long_long"].get<unsigned long long>();
        ASSERT_NE(stamp, nullptr);
        EXPECT_GE(*stamp, before);
        EXPECT_LE(*stamp, vxs::get_current_time());

        // The caller's own map is completed in place.
        EXPECT_EQ((*configuration)[vxs::MIC_PARAM_KEY_SAMPLE_RATE].valueInt(), 16000);
        EXPECT_FLOAT_EQ((*configuration)[vxs::MIC_PARAM_KEY_PACKAGE_DURATION].valueFloat(), c.duration);
        EXPECT_EQ((*configuration)[vxs::MIC_PARAM_KEY_AUDIO_FILE_PATH].valueString(), c.path);
    }
}

TEST(Mic, StartWhileRunningOnlyAnswersBegin) {
    MicRig rig;
    rig.startAndSkipNotifications();
    rig.command(vxs::MIC_CMD_START);
    EXPECT_EQ(rig.eventNames(), Names{"mic.callback.begin"});
}

TEST(Mic, PushedAudioIsForwardedUnchangedAndInOrderWithItsLevel) {
    MicRig rig;
    rig.startAndSkipNotifications();
    struct Push {
        vxs_shared_ptr<char> buffer;
        uint32_t length;
        float level;
    };
    const Push pushes[] = {
        {pcm(std::vector<int16_t>(1600, 100)), 3200, 100.0f},
        {pcm({-7, 99}, 1), 5, 7.0f},  // odd length: passed on as it is
        {pcm({}, 3), 3, 0.0f},        // no whole sample pair
        {pcm({12000}), 2, 0.0f},
        {pcm(std::vector<int16_t>(4, -20)), 8, 20.0f},
    };
    const size_t count = sizeof(pushes) / sizeof(pushes[0]);
    for (const Push& p : pushes) rig.push(p.buffer, p.length);

    const std::vector<Received> got = rig.events();
    ASSERT_EQ(got.size(), 2 * count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const Received& data = got[2 * i];
        const Received& level = got[2 * i + 1];
        ASSERT_EQ(data.name, "mic.callback.data");
        EXPECT_TRUE(data.message->data.isEqualToManagedPtr(&pushes[i].buffer)) << "the host's buffer itself";
        EXPECT_EQ(data.message->length, pushes[i].length);
        EXPECT_EQ(data.message->offset, pushes[i].length);
        EXPECT_FALSE((*data.message->params)["last.bool"].valueBool());
        ASSERT_EQ(level.name, "mic.callback.level");
        EXPECT_FLOAT_EQ((*level.message->params)["level.float"].valueFloat(), pushes[i].level);
    }
}

TEST(Mic, AnEmptyPushEndsTheAudio) {
    struct Case {
        const char* what;
        vxs_shared_ptr<char> buffer;
        uint32_t length;
    };
    const Case cases[] = {
        {"length 0", pcm({1, 2}), 0},
        {"no payload", vxs_shared_ptr<char>(), 640},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MicRig rig;
        rig.startAndSkipNotifications();
        WarningLog warnings;
        rig.push(c.buffer, c.length);
        rig.push(pcm({5, 5}), 4);          // after the end: refused
        rig.command(vxs::MIC_CMD_STOP);    // the recorder has finished already
        rig.command(vxs::MIC_CMD_CANCEL);  // no longer running
        const std::vector<Received> got = rig.events();
        const std::string log = warnings.take();

        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].name, "mic.callback.data");
        EXPECT_TRUE((*got[0].message->params)["last.bool"].valueBool());
        EXPECT_EQ(got[0].message->length, 0u);
        EXPECT_EQ(got[1].name, "mic.callback.end");
        EXPECT_NE(log.find("Recorder received user audio while in finished state"), std::string::npos) << log;
    }
}

TEST(Mic, StopEndsTheAudioAndALaterCancelDoesNotReachTheRecorder) {
    MicRig rig;
    rig.startAndSkipNotifications();
    rig.command(vxs::MIC_CMD_STOP);
    rig.command(vxs::MIC_CMD_CANCEL);
    rig.command(vxs::MIC_CMD_STOP);
    const std::vector<Received> got = rig.events();
    ASSERT_EQ(rig.eventNames(), (Names{"mic.callback.data", "mic.callback.end"}));
    EXPECT_TRUE((*got[0].message->params)["last.bool"].valueBool());
    EXPECT_EQ(got[0].message->length, 0u);
    EXPECT_TRUE(got[1].message->params->count("mills.unsigned_long_long"));
}

TEST(Mic, CancelReportsCancelAndTheNextStartWorksAgain) {
    MicRig rig;
    rig.startAndSkipNotifications();
    rig.command(vxs::MIC_CMD_CANCEL);
    rig.command(vxs::MIC_CMD_CANCEL);
    rig.push(pcm({1, 2}), 4);  // stopped: dropped
    rig.command(vxs::MIC_CMD_START);
    rig.push(pcm({9, 9}), 4);
    EXPECT_EQ(rig.eventNames(), (Names{"mic.callback.cancel", "mic.start-called", "mic.callback.begin",
                                       "mic.callback.data", "mic.callback.level"}));
}

TEST(Mic, AudioBeforeStartAndUnknownCommandsProduceNothing) {
    MicRig rig;
    WarningLog warnings;
    rig.push(pcm({1, 2}), 4);
    rig.push(vxs_shared_ptr<char>(), 0);
    rig.command(vxs::MIC_CMD_STOP);
    rig.command(vxs::MIC_CMD_CANCEL);
    rig.command("mic.unknown");
    rig.command(vxs::VAD_CMD_START);
    const Names names = rig.eventNames();
    const std::string log = warnings.take();
    EXPECT_TRUE(names.empty());
    EXPECT_NE(log.find("Recorder received user audio while in stopped state"), std::string::npos) << log;
}

TEST(Mic, RecorderErrorReportsFinishAndSilencesNotificationsUntilTheNextStart) {
    MicRig rig;
    rig.startAndSkipNotifications();
    rig.runOnQueue([&rig] {
        rig.mic->recorder_error(vxs::recorder::AudioRecorderWeakPtr(), -3, "device lost");
        // Closed: a late report from the recorder is not passed on.
        rig.mic->recorder_finished(vxs::recorder::AudioRecorderWeakPtr());
    });
    rig.push(pcm({1, 2}), 4);  // the error cancelled the recording
    const std::vector<Received> got = rig.events();
    ASSERT_EQ(rig.eventNames(), Names{"mic.callback.finish"});
    const vxs::ParamMap& params = *got[0].message->params;
    EXPECT_EQ(params.at("error.int32_t").valueInt32(), 10 * 65536 + 0xFFFD);
    EXPECT_EQ(params.at("desc.string").valueString(), "device lost");

    rig.command(vxs::MIC_CMD_START);
    rig.command(vxs::MIC_CMD_CANCEL);
    EXPECT_EQ(rig.eventNames(),
              (Names{"mic.callback.finish", "mic.start-called", "mic.callback.begin", "mic.callback.cancel"}));
}

}  // namespace
