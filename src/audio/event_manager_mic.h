// The audio input module: turns the audio the host pushes ("mic.user_audio")
// into "mic.callback.data" notifications for its owner, and reports begin,
// end, cancel, level and errors of the recording. Its recorder is the
// pushed-audio recorder; no audio device is opened.
//
// Commands: "mic.start", "mic.stop", "mic.cancel", "mic.user_audio"; other
// names are ignored. Notifications go to the callback module given to
// newEventManager.
//
// Threading: everything runs inside send() on the instance's serial queue,
// including the recorder's synchronous reports; no lock is needed. The
// recorder callbacks must not be called from other threads.
#ifndef VXS_AUDIO_EVENT_MANAGER_MIC_H
#define VXS_AUDIO_EVENT_MANAGER_MIC_H

#include <cstdint>
#include <string>

#include "audio/audio_recorder.h"
#include "core/event_manager.h"

namespace vxs {

class EventManagerMic;
typedef Memory::vxs_shared_ptr<EventManagerMic> EventManagerMicPtr;

class EventManagerMic : public EventManager, public recorder::AudioRecorderCallback {
public:
    // The only way to make the module; `callback` receives its notifications.
    static EventManagerMicPtr newEventManager(Memory::vxs_weak_ptr<Context> context, EventManagerWeakPtr callback);
    ~EventManagerMic() override;

    void send(MessagePtr& message) override;

    void recorder_started(const recorder::AudioRecorderWeakPtr& recorder) override;
    void recorder_finished(const recorder::AudioRecorderWeakPtr& recorder) override;
    void recorder_stopped(const recorder::AudioRecorderWeakPtr& recorder) override;
    // Reports "mic.callback.finish" with the code in the record error class,
    // closes the begin/end/cancel notifications until the next start, and
    // cancels the recording.
    void recorder_error(const recorder::AudioRecorderWeakPtr& recorder, int16_t code,
                        std::string description) override;
    void push_audio_data(const recorder::AudioRecorderWeakPtr& recorder, const Memory::vxs_shared_ptr<char>& buffer,
                         int length) override;
    void current_level(float level) override;

private:
    EventManagerMic(const Memory::vxs_weak_ptr<Context>& context, const EventManagerWeakPtr& callback);

    void start(MessagePtr& message);
    void stop();
    void cancel();
    void pushUserAudio(MessagePtr& message);
    // A begin/end/cancel notification stamped with the current time.
    void postTimedNotification(const std::string& name);
    static void applyStartDefaults(ParamMap& params);

    bool _m_running = false;
    bool _m_has_closed = false;
    recorder::AudioRecorderPtr _m_audio_recorder;
    EventManagerWeakPtr _m_callback;
    // This module as the recorder sees it; set by newEventManager.
    Memory::vxs_weak_ptr<EventManagerMic> _m_self;
};

}  // namespace vxs

#endif  // VXS_AUDIO_EVENT_MANAGER_MIC_H
