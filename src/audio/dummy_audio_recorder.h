// The recorder fed by the host's pushed buffers: it opens no device and turns
// every "mic.user_audio" message into a data report (and a level report) to
// the audio input module. A push of length 0 ends the audio.
//
// Threading: as AudioRecorder; used only on the instance's serial queue.
#ifndef VXS_AUDIO_DUMMY_AUDIO_RECORDER_H
#define VXS_AUDIO_DUMMY_AUDIO_RECORDER_H

#include "audio/audio_recorder.h"

namespace vxs {
namespace recorder {

class Dummy_AudioRecorder : public AudioRecorder {
public:
    Dummy_AudioRecorder() = default;
    ~Dummy_AudioRecorder() override;

    void process_user_audio_message(MessagePtr& message, const EventManagerMicWeakPtr& mic) override;
    void start_recorder(const EventManagerMicWeakPtr& mic, const ParamMapPtr& params) override;
    void stop_recorder(const EventManagerMicWeakPtr& mic) override;
    void finish_recorder(const EventManagerMicWeakPtr& mic) override;
    bool is_recording() override { return isStarted && !isFinished; }

    // The level of a buffer of 16-bit samples (`length` in bytes): the root
    // mean square, truncated, of the even-indexed samples of the first
    // min(length / 4, 512) sample pairs; 0 when there is no whole pair.
    static long computePower(const char* buffer, int length);

private:
    friend class AudioRecorder;  // get_instance sets selfRef

    AudioRecorderWeakPtr selfRef;
    bool isStarted = false;
    bool isFinished = false;
};

}  // namespace recorder
}  // namespace vxs

#endif  // VXS_AUDIO_DUMMY_AUDIO_RECORDER_H
