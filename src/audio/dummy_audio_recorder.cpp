#include "audio/dummy_audio_recorder.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "audio/event_manager_mic.h"
#include "core/log.h"

namespace vxs {
namespace recorder {

namespace {
constexpr int kMaxLevelSamples = 512;
}  // namespace

Dummy_AudioRecorder::~Dummy_AudioRecorder() = default;

void Dummy_AudioRecorder::start_recorder(const EventManagerMicWeakPtr& mic, const ParamMapPtr& /*params*/) {
    isStarted = true;
    isFinished = false;
    if (auto module = mic.getPTR()) module->recorder_started(selfRef);
}

void Dummy_AudioRecorder::stop_recorder(const EventManagerMicWeakPtr& mic) {
    if (!isStarted) return;
    isStarted = false;
    isFinished = false;
    if (auto module = mic.getPTR()) module->recorder_stopped(selfRef);
}

void Dummy_AudioRecorder::finish_recorder(const EventManagerMicWeakPtr& mic) {
    if (isFinished) return;
    isFinished = true;
    auto module = mic.getPTR();
    if (!module) return;
    module->push_audio_data(selfRef, Memory::vxs_shared_ptr<char>(), 0);
    module->recorder_finished(selfRef);
}

void Dummy_AudioRecorder::process_user_audio_message(MessagePtr& message, const EventManagerMicWeakPtr& mic) {
    if (!isStarted) {
        VXS_LOG_WARN("%s", "Recorder received user audio while in stopped state");
        return;
    }
    if (isFinished) {
        VXS_LOG_WARN("%s", "Recorder received user audio while in finished state");
        return;
    }
    auto module = mic.getPTR();
    if (!module) {
        VXS_LOG_WARN("%s", "Recorder no callback");
        return;
    }
    Memory::vxs_shared_ptr<char> payload = message ? message->data : Memory::vxs_shared_ptr<char>();
    const uint32_t length = message ? message->length : 0;
    if (length == 0 || !payload) {
        // The host ends its audio with an empty push.
        isFinished = true;
        module->push_audio_data(selfRef, payload, 0);
        module->recorder_finished(selfRef);
        return;
    }
    if (length > static_cast<uint32_t>(INT_MAX)) {
        VXS_LOG_WARN("Recorder dropped a user audio buffer of invalid length %u", length);
        return;
    }
    module->push_audio_data(selfRef, payload, static_cast<int>(length));
    module->current_level(static_cast<float>(computePower(payload.getPTR(), static_cast<int>(length))));
}

long Dummy_AudioRecorder::computePower(const char* buffer, int length) {
    if (!buffer || length < 4) return 0;
    int pairs = length / 4;
    if (pairs > kMaxLevelSamples) pairs = kMaxLevelSamples;
    int64_t sumOfSquares = 0;
    for (int i = 0; i < pairs; ++i) {
        int16_t sample;
        // Every other sample: the first one of each 4-byte pair.
        std::memcpy(&sample, buffer + static_cast<size_t>(i) * 4, sizeof(sample));
        sumOfSquares += static_cast<int64_t>(sample) * sample;
    }
    const int64_t mean = sumOfSquares / pairs;
    auto root = static_cast<int64_t>(std::sqrt(static_cast<double>(mean)));
    // Guard the truncation against rounding of the floating-point root.
    while (root * root > mean) --root;
    while ((root + 1) * (root + 1) <= mean) ++root;
    return static_cast<long>(root);
}

}  // namespace recorder
}  // namespace vxs
