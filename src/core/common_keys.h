// Names shared by every module: the commands and events of each module, the
// keys of the core runtime and the error classes that modules encode into
// their "finish" events.
//
// Threading: the string constants are built while the library is loaded and
// only read afterwards; they may be read from any thread. Do not read them
// from the initializer of another global object (their construction order
// across files is not defined).
#ifndef VXS_CORE_COMMON_KEYS_H
#define VXS_CORE_COMMON_KEYS_H

#include <cstdint>
#include <string>

#include "vxs/export.h"

namespace vxs {

// ---- Core runtime keys ("vxs." marks keys of the core runtime) ----
VXS_EXPORT extern const std::string VXS_COMMAND_SET_WRITABLE_LIBRARY_DATA_PATH;
// A string value; this key carries no type suffix.
VXS_EXPORT extern const std::string VXS_PARAM_KEY_WRITABLE_LIBRARY_DATA_PATH;
VXS_EXPORT extern const std::string COMMON_PARAM_KEY_DEBUG_LOG_LEVEL;
VXS_EXPORT extern const std::string VXS_COMMAND_GET_EVENT_MANAGER_VERSION;
VXS_EXPORT extern const std::string VXS_CALLBACK_EVENT_MANAGER_VERSION;
VXS_EXPORT extern const std::string VXS_PARAM_KEY_EVENT_MANAGER_VERSION_STRING;
VXS_EXPORT extern const std::string VXS_CMD_KEY_CMD_ID_STRING;
VXS_EXPORT extern const std::string VXS_PARAM_KEY_ERROR_CODE;
VXS_EXPORT extern const std::string VXS_PARAM_KEY_ERROR_DESCRIPTION;
VXS_EXPORT extern const std::string VXS_PARAM_KEY_STATUS;
VXS_EXPORT extern const std::string VXS_ERROR_MESSAGE_OK;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_PACKAGE;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_SDK_VERSION;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_APP_NAME;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_PACKAGE_NAME;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_OPERATING_SYSTEM;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_SCREEN_WIDTH;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_SCREEN_HEIHT;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_SDK_NAME;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_NET_TYPE;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_DEVICE_MODEL;
VXS_EXPORT extern const std::string VXS_PLATFORM_INFO_SYSTEM_VERSION;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_NAME_STRING;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_PARAM_CMD_RECEIVERS_STRVECT;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_PARAM_TARGET_STRING;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_DO_NOT_RESPOND_FLAG_BOOL;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_RESULT;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_COMMAND_DESC;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_RECEIVER_DESC;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_RECEIVER_NOT_AVAILABLE_DESC;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_EVENT;
VXS_EXPORT extern const std::string VXS_CORE_PLATFORM_CUSTOM_EVENT_NAME_STRING;

constexpr int16_t VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_COMMAND = -1;
constexpr int16_t VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_RECEIVER = -2;
constexpr int16_t VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_RECEIVER_NOT_AVAILABLE = -3;

// ---- ASR session module ----
VXS_EXPORT extern const std::string ASR_CMD_CONFIG;
VXS_EXPORT extern const std::string ASR_CMD_START;
VXS_EXPORT extern const std::string ASR_CMD_PUSH_AUDIO;
VXS_EXPORT extern const std::string ASR_CMD_STOP;
VXS_EXPORT extern const std::string ASR_CMD_CANCEL;
VXS_EXPORT extern const std::string ASR_CMD_KWS_LOAD;
VXS_EXPORT extern const std::string ASR_CMD_KWS_UNLOAD;
// Events for the host; handed to the instance's observer.
VXS_EXPORT extern const std::string asr_callback_name;

// ---- Audio input module ----
extern const std::string MIC_CMD_START;
extern const std::string MIC_CMD_STOP;
extern const std::string MIC_CMD_CANCEL;
extern const std::string MIC_CMD_PUSH_USER_AUDIO;
extern const std::string MIC_CALLBACK_BEGIN;
extern const std::string MIC_CALLBACK_END;
extern const std::string MIC_CALLBACK_CANCEL;
extern const std::string MIC_CALLBACK_DATA;
extern const std::string MIC_CALLBACK_LEVEL;
extern const std::string MIC_CALLBACK_FINISH;
// Sent on every "mic.start" that starts the module; the owner may ignore it.
extern const std::string MIC_CALLBACK_START_CALLED;

extern const std::string MIC_PARAM_KEY_SAMPLE_RATE;
extern const std::string MIC_PARAM_KEY_PACKAGE_DURATION;
extern const std::string MIC_PARAM_KEY_AUDIO_FILE_PATH;
extern const std::string MIC_PARAM_KEY_NEED_CACHE;
extern const std::string MIC_PARAM_KEY_DISABLE_AUDIO_OPERATION;

// ---- VAD module ----
extern const std::string VAD_CMD_START;
extern const std::string VAD_CMD_CONFIG;
extern const std::string VAD_CMD_DATA;
extern const std::string VAD_CMD_STOP;
extern const std::string VAD_CMD_CANCEL;
extern const std::string VAD_CALLBACK_BEGIN;
extern const std::string VAD_CALLBACK_END;
extern const std::string VAD_CALLBACK_DATA;
extern const std::string VAD_CALLBACK_FINISH;

// ---- Online decoders (both share the engine command names) ----
extern const std::string DEC_CMD_START;
extern const std::string DEC_CMD_DATA;
extern const std::string DEC_CMD_STOP;
extern const std::string DEC_CMD_CANCEL;
extern const std::string DEC_CALLBACK_BEGIN;
extern const std::string DEC_CALLBACK_END;
extern const std::string DEC_CALLBACK_DATA;
extern const std::string DEC_CALLBACK_FINISH;
extern const std::string DEC_CALLBACK_LOG;

// ---- Keyword module ----
extern const std::string KWS_CMD_START;
extern const std::string KWS_CMD_DATA;
extern const std::string KWS_CMD_STOP;
extern const std::string KWS_CMD_LOAD_ENGINE;
extern const std::string KWS_CMD_UNLOAD_ENGINE;
extern const std::string KWS_CALLBACK_LOADED;
extern const std::string KWS_CALLBACK_UNLOADED;
extern const std::string KWS_CALLBACK_BEGIN;
extern const std::string KWS_CALLBACK_END;
extern const std::string KWS_CALLBACK_DATA;
extern const std::string KWS_CALLBACK_FINISH;

// ---- Error classes: the upper 16 bits of an encoded module error ----
constexpr int16_t MIC_ERROR_CODE_CLASS = 10;
constexpr int16_t VAD_ERROR_CODE_CLASS = 20;
constexpr int16_t DEC_ERROR_CODE_CLASS = 30;
constexpr int16_t DEC_ERROR_CODE_LOCAL_HTTP_CLASS = 31;
constexpr int16_t DEC_ERROR_CODE_REMOTE_HTTP_CLASS = 32;
constexpr int16_t DEC_ERROR_CODE_SERVER_CLASS = 33;
constexpr int16_t KWS_ERROR_CODE_CLASS = 34;

}  // namespace vxs

#endif  // VXS_CORE_COMMON_KEYS_H
