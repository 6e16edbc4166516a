#include "audio/event_manager_mic.h"

#include "core/common_keys.h"
#include "core/error_code.h"
#include "core/log.h"
#include "core/time_util.h"

namespace vxs {

namespace {

const char* const kTimeKey = "mills.unsigned_long_long";
const char* const kLastKey = "last.bool";
const char* const kLevelKey = "level.float";
const char* const kErrorKey = "error.int32_t";
const char* const kDescriptionKey = "desc.string";

constexpr int kStartSampleRate = 16000;
constexpr float kDefaultPackageDuration = 0.08f;
// Audio events go out with this priority; priorities do not reorder messages.
constexpr uint8_t kDataPriority = 1;

}  // namespace

EventManagerMicPtr EventManagerMic::newEventManager(Memory::vxs_weak_ptr<Context> context,
                                                    EventManagerWeakPtr callback) {
    EventManagerMicPtr module = adoptModule(new EventManagerMic(context, callback));
    module->_m_self = module;
    return module;
}

EventManagerMic::EventManagerMic(const Memory::vxs_weak_ptr<Context>& context, const EventManagerWeakPtr& callback)
    : EventManager(context), _m_audio_recorder(recorder::AudioRecorder::get_instance()), _m_callback(callback) {}

EventManagerMic::~EventManagerMic() = default;

void EventManagerMic::send(MessagePtr& message) {
    if (!message) return;
    const std::string& name = message->name;
    if (name == MIC_CMD_START) {
        start(message);
    } else if (name == MIC_CMD_STOP) {
        stop();
    } else if (name == MIC_CMD_CANCEL) {
        cancel();
    } else if (name == MIC_CMD_PUSH_USER_AUDIO) {
        pushUserAudio(message);
    }
}

void EventManagerMic::start(MessagePtr& message) {
    if (_m_running) {
        if (!_m_has_closed) postTimedNotification(MIC_CALLBACK_BEGIN);
        return;
    }
    _m_running = true;
    _m_has_closed = false;
    post(_m_callback, Message::make(MIC_CALLBACK_START_CALLED), 0);

    // The map is the owner's configuration itself: the defaults land there.
    if (!message->params) message->params = newParamMap();
    applyStartDefaults(*message->params);

    const uint64_t prepareBegin = get_current_time();
    _m_audio_recorder->prepare_recorder();
    const uint64_t startBegin = get_current_time();
    VXS_LOG_TRACE("[Mic:]start recorder prepare cost: %llu",
                  static_cast<unsigned long long>(startBegin - prepareBegin));
    _m_audio_recorder->start_recorder(_m_self, message->params);
    VXS_LOG_TRACE("[Mic:]start recorder cost: %llu",
                  static_cast<unsigned long long>(get_current_time() - startBegin));
}

void EventManagerMic::applyStartDefaults(ParamMap& params) {
    params[MIC_PARAM_KEY_SAMPLE_RATE] = paramBase(static_cast<int32_t>(kStartSampleRate));
    if (params.find(MIC_PARAM_KEY_PACKAGE_DURATION) == params.end()) {
        params[MIC_PARAM_KEY_PACKAGE_DURATION] = paramBase(kDefaultPackageDuration);
    }
    if (params.find(MIC_PARAM_KEY_AUDIO_FILE_PATH) == params.end()) {
        params[MIC_PARAM_KEY_AUDIO_FILE_PATH] = paramBase(std::string());
    }
}

void EventManagerMic::stop() {
    if (!_m_running) return;
    _m_running = false;
    _m_audio_recorder->finish_recorder(_m_self);
}

void EventManagerMic::cancel() {
    if (!_m_running) return;
    _m_running = false;
    _m_audio_recorder->stop_recorder(_m_self);
}

void EventManagerMic::pushUserAudio(MessagePtr& message) {
    if (_m_audio_recorder) _m_audio_recorder->process_user_audio_message(message, _m_self);
}

void EventManagerMic::postTimedNotification(const std::string& name) {
    MessagePtr notification = Message::make(name);
    (*notification->params)[kTimeKey] =
        paramBase::box<unsigned long long>(static_cast<unsigned long long>(get_current_time()));
    post(_m_callback, notification, 0);
}

void EventManagerMic::recorder_started(const recorder::AudioRecorderWeakPtr& /*recorder*/) {
    if (!_m_has_closed) postTimedNotification(MIC_CALLBACK_BEGIN);
}

void EventManagerMic::recorder_finished(const recorder::AudioRecorderWeakPtr& /*recorder*/) {
    if (!_m_has_closed) postTimedNotification(MIC_CALLBACK_END);
}

void EventManagerMic::recorder_stopped(const recorder::AudioRecorderWeakPtr& /*recorder*/) {
    if (!_m_has_closed) postTimedNotification(MIC_CALLBACK_CANCEL);
}

void EventManagerMic::recorder_error(const recorder::AudioRecorderWeakPtr& /*recorder*/, int16_t code,
                                     std::string description) {
    MessagePtr finish = Message::make(MIC_CALLBACK_FINISH);
    (*finish->params)[kErrorKey] = paramBase(static_cast<int32_t>(encode_error(MIC_ERROR_CODE_CLASS, code)));
    (*finish->params)[kDescriptionKey] = paramBase(description);
    post(_m_callback, finish, 0);
    _m_has_closed = true;
    cancel();
}

void EventManagerMic::push_audio_data(const recorder::AudioRecorderWeakPtr& /*recorder*/,
                                      const Memory::vxs_shared_ptr<char>& buffer, int length) {
    if (length < 0) length = 0;
    MessagePtr data = Message::make(MIC_CALLBACK_DATA);
    (*data->params)[kLastKey] = paramBase(length < 1);
    data->data = buffer;  // the host's buffer itself, not a copy
    data->length = static_cast<uint32_t>(length);
    data->offset = static_cast<uint64_t>(length);
    post(_m_callback, data, kDataPriority);
}

void EventManagerMic::current_level(float level) {
    MessagePtr notification = Message::make(MIC_CALLBACK_LEVEL);
    (*notification->params)[kLevelKey] = paramBase(level);
    post(_m_callback, notification, 0);
}

}  // namespace vxs
