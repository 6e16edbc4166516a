#include "core/common_keys.h"

namespace vxs {

const std::string VXS_COMMAND_SET_WRITABLE_LIBRARY_DATA_PATH = "vxs.cmd.set_writable_library_data_path";
const std::string VXS_PARAM_KEY_WRITABLE_LIBRARY_DATA_PATH = "vxs.writable_library_data_path";
const std::string COMMON_PARAM_KEY_DEBUG_LOG_LEVEL = "common_param_key_debug_log_level.int";
const std::string VXS_COMMAND_GET_EVENT_MANAGER_VERSION = "vxs.cmd.get_event_manager_version";
const std::string VXS_CALLBACK_EVENT_MANAGER_VERSION = "vxs.return.get_event_manager_version";
const std::string VXS_PARAM_KEY_EVENT_MANAGER_VERSION_STRING = "vxs.event_manager_version_info.string";
const std::string VXS_CMD_KEY_CMD_ID_STRING = "vxs.command.param.command_id.string";
const std::string VXS_PARAM_KEY_ERROR_CODE = "vxs.error_code.int32_t";
const std::string VXS_PARAM_KEY_ERROR_DESCRIPTION = "vxs.error_message.string";
const std::string VXS_PARAM_KEY_STATUS = "vxs.status.int32_t";
const std::string VXS_ERROR_MESSAGE_OK = "OK";
const std::string VXS_PLATFORM_INFO_PACKAGE = "vxs.custom.subcommand.plat_info.string";
const std::string VXS_PLATFORM_INFO_SDK_VERSION = "vxs.plat_info.sdk_version.string";
const std::string VXS_PLATFORM_INFO_APP_NAME = "vxs.plat_info.app_name.string";
const std::string VXS_PLATFORM_INFO_PACKAGE_NAME = "vxs.plat_info.package_name.string";
const std::string VXS_PLATFORM_INFO_OPERATING_SYSTEM = "vxs.plat_info.operating_system.string";
const std::string VXS_PLATFORM_INFO_SCREEN_WIDTH = "vxs.plat_info.screen_width.string";
const std::string VXS_PLATFORM_INFO_SCREEN_HEIHT = "vxs.plat_info.screen_height.string";
const std::string VXS_PLATFORM_INFO_SDK_NAME = "vxs.plat_info.sdk_name.string";
const std::string VXS_PLATFORM_INFO_NET_TYPE = "vxs.plat_info.net_type.string";
const std::string VXS_PLATFORM_INFO_DEVICE_MODEL = "vxs.plat_info.device_model.string";
const std::string VXS_PLATFORM_INFO_SYSTEM_VERSION = "vxs.plat_info.system_version.string";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND = "vxs.cmd.platform.custom.command";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_NAME_STRING = "vxs.platform.custom.command.name.string";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_PARAM_CMD_RECEIVERS_STRVECT =
    "vxs.platform.custom.command.receivers.vector<string>";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_PARAM_TARGET_STRING = "vxs.platform.custom.command.target.string";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_DO_NOT_RESPOND_FLAG_BOOL =
    "vxs.platform.custom.command.do_not_reply.bool";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_RESULT = "vxs.return.platform.custom.command";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_COMMAND_DESC = "This module does not support command: ";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_UNKNOWN_RECEIVER_DESC = "Receiver module is unknown: ";
const std::string VXS_CORE_PLATFORM_CUSTOM_COMMAND_ERROR_RECEIVER_NOT_AVAILABLE_DESC =
    "Receiver module is not loaded: ";
const std::string VXS_CORE_PLATFORM_CUSTOM_EVENT = "vxs.cmd.platform.custom.event";
const std::string VXS_CORE_PLATFORM_CUSTOM_EVENT_NAME_STRING = "vxs.platform.custom.event.name.string";

const std::string ASR_CMD_CONFIG = "asr.config";
const std::string ASR_CMD_START = "asr.start";
const std::string ASR_CMD_PUSH_AUDIO = "asr.push_audio";
const std::string ASR_CMD_STOP = "asr.stop";
const std::string ASR_CMD_CANCEL = "asr.cancel";
const std::string ASR_CMD_KWS_LOAD = "asr.kws.load";
const std::string ASR_CMD_KWS_UNLOAD = "asr.kws.unload";
const std::string asr_callback_name = "ASR.callback";

const std::string MIC_CMD_START = "mic.start";
const std::string MIC_CMD_STOP = "mic.stop";
const std::string MIC_CMD_CANCEL = "mic.cancel";
const std::string MIC_CMD_PUSH_USER_AUDIO = "mic.user_audio";
const std::string MIC_CALLBACK_BEGIN = "mic.callback.begin";
const std::string MIC_CALLBACK_END = "mic.callback.end";
const std::string MIC_CALLBACK_CANCEL = "mic.callback.cancel";
const std::string MIC_CALLBACK_DATA = "mic.callback.data";
const std::string MIC_CALLBACK_LEVEL = "mic.callback.level";
const std::string MIC_CALLBACK_FINISH = "mic.callback.finish";
const std::string MIC_CALLBACK_START_CALLED = "mic.start-called";

const std::string MIC_PARAM_KEY_SAMPLE_RATE = "mic_sample_rate.int";
const std::string MIC_PARAM_KEY_PACKAGE_DURATION = "mic_package_duration.float";
const std::string MIC_PARAM_KEY_AUDIO_FILE_PATH = "mic_audio_file_path.string";
const std::string MIC_PARAM_KEY_NEED_CACHE = "mic_need_cache.bool";
const std::string MIC_PARAM_KEY_DISABLE_AUDIO_OPERATION = "mic_disable_audio_operation.bool";

const std::string VAD_CMD_START = "vad.start";
const std::string VAD_CMD_CONFIG = "vad.config";
const std::string VAD_CMD_DATA = "vad.data";
const std::string VAD_CMD_STOP = "vad.stop";
const std::string VAD_CMD_CANCEL = "vad.cancel";
const std::string VAD_CALLBACK_BEGIN = "vad.callback.begin";
const std::string VAD_CALLBACK_END = "vad.callback.end";
const std::string VAD_CALLBACK_DATA = "vad.callback.data";
const std::string VAD_CALLBACK_FINISH = "vad.callback.finish";

const std::string DEC_CMD_START = "engine.start";
const std::string DEC_CMD_DATA = "engine.data";
const std::string DEC_CMD_STOP = "engine.stop";
const std::string DEC_CMD_CANCEL = "engine.cancel";
const std::string DEC_CALLBACK_BEGIN = "dec.callback.begin";
const std::string DEC_CALLBACK_END = "dec.callback.end";
const std::string DEC_CALLBACK_DATA = "dec.callback.data";
const std::string DEC_CALLBACK_FINISH = "dec.callback.finish";
const std::string DEC_CALLBACK_LOG = "dec.callback.log";

const std::string KWS_CMD_START = "engine.start";
const std::string KWS_CMD_DATA = "engine.data";
const std::string KWS_CMD_STOP = "engine.stop";
const std::string KWS_CMD_LOAD_ENGINE = "engine.load";
const std::string KWS_CMD_UNLOAD_ENGINE = "engine.unload";
const std::string KWS_CALLBACK_LOADED = "kws.callback.loaded";
const std::string KWS_CALLBACK_UNLOADED = "kws.callback.unloaded";
const std::string KWS_CALLBACK_BEGIN = "kws.callback.begin";
const std::string KWS_CALLBACK_END = "kws.callback.end";
const std::string KWS_CALLBACK_DATA = "kws.callback.data";
const std::string KWS_CALLBACK_FINISH = "kws.callback.finish";

}  // namespace vxs
