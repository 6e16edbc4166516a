// The recorder interface of the audio input module and the callback interface
// through which a recorder reports back to that module.
//
// Threading: a recorder is owned by one EventManagerMic and is only called
// from that module's send(), on the instance's serial queue; it calls the
// module back synchronously on the same thread. No lock is needed.
#ifndef VXS_AUDIO_AUDIO_RECORDER_H
#define VXS_AUDIO_AUDIO_RECORDER_H

#include <cstdint>
#include <string>

#include "core/message.h"
#include "core/param.h"
#include "core/shared_ptr.h"

namespace vxs {

class EventManagerMic;

namespace recorder {

class AudioRecorder;
typedef Memory::vxs_shared_ptr<AudioRecorder> AudioRecorderPtr;
typedef Memory::vxs_weak_ptr<AudioRecorder> AudioRecorderWeakPtr;
typedef Memory::vxs_weak_ptr<EventManagerMic> EventManagerMicWeakPtr;

class AudioRecorder {
public:
    virtual ~AudioRecorder();

    // Called before every start; nothing to prepare by default.
    virtual void prepare_recorder();
    // Audio pushed by the host ("mic.user_audio"). Recorders that do not take
    // pushed audio only log a warning.
    virtual void process_user_audio_message(MessagePtr& message, const EventManagerMicWeakPtr& mic);
    // Begins recording; reports recorder_started to `mic`.
    virtual void start_recorder(const EventManagerMicWeakPtr& mic, const ParamMapPtr& params) = 0;
    // Abandons the recording; reports recorder_stopped to `mic`.
    virtual void stop_recorder(const EventManagerMicWeakPtr& mic) = 0;
    // Ends the audio: a last empty buffer, then recorder_finished.
    virtual void finish_recorder(const EventManagerMicWeakPtr& mic) = 0;
    // Started and the end of the audio not yet reached.
    virtual bool is_recording() = 0;

    // A new recorder for the audio input module (the pushed-audio recorder).
    static AudioRecorderPtr get_instance();
};

// Implemented by the audio input module. Every report but current_level names
// the reporting recorder first.
class AudioRecorderCallback {
public:
    virtual ~AudioRecorderCallback() = default;

    virtual void recorder_started(const AudioRecorderWeakPtr& recorder) = 0;
    virtual void recorder_finished(const AudioRecorderWeakPtr& recorder) = 0;
    virtual void recorder_stopped(const AudioRecorderWeakPtr& recorder) = 0;
    virtual void recorder_error(const AudioRecorderWeakPtr& recorder, int16_t code, std::string description) = 0;
    // One buffer of 16-bit PCM; `length` in bytes (0 ends the audio). The
    // buffer is passed on as it is, never copied.
    virtual void push_audio_data(const AudioRecorderWeakPtr& recorder, const Memory::vxs_shared_ptr<char>& buffer,
                                 int length) = 0;
    virtual void current_level(float level) = 0;
};

}  // namespace recorder
}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_RECORDER_H
