#include "audio/audio_recorder.h"

#include "audio/dummy_audio_recorder.h"
#include "core/log.h"

namespace vxs {
namespace recorder {

AudioRecorder::~AudioRecorder() = default;

void AudioRecorder::prepare_recorder() {}

void AudioRecorder::process_user_audio_message(MessagePtr& /*message*/, const EventManagerMicWeakPtr& /*mic*/) {
    VXS_LOG_WARN("%s", "This recorder does not implement support for user pushed audio!");
}

AudioRecorderPtr AudioRecorder::get_instance() {
    VXS_LOG_DEBUG("%s", "CREATING NEW RECORDER INSTANCE!");
    auto* dummy = new Dummy_AudioRecorder();
    AudioRecorderPtr recorder(dummy);
    dummy->selfRef = recorder;
    return recorder;
}

}  // namespace recorder
}  // namespace vxs
