#include "vxs/vxs_sdk_constants.h"

// The command names, "ASR.callback" and the log-level key are shared with the
// modules and defined with the other message names in core/common_keys.cpp.

namespace vxs {

const std::string wakeup_callback_name = "WAKEUP.callback";
const std::string upload_callback_name = "UPLOAD.callback";

const std::string CALLBACK_ASR_STATUS = "cb.asr.status.int";
const std::string CALLBACK_ASR_LEVEL = "cb.asr.level.int";
const std::string CALLBACK_ASR_RESULT = "cb.asr.result.string";
const std::string CALLBACK_WAK_STATUS = "cb.wak.status.int";
const std::string CALLBACK_WAK_RESULT = "cb.wak.result.string";
const std::string CALLBACK_ERROR_DOMAIN = "cb.error.domain.int16_t";
const std::string CALLBACK_ERROR_CODE = "cb.error.code.int16_t";
const std::string CALLBACK_ERROR_DESC = "cb.error.desc.string";
const std::string CALLBACK_ERROR_SERIAL_NUM = "cb.error.sn.string";

const std::string DATA_CHUNK = "vxs.param.data_chunk";
const std::string PARAM_TYPE_MAX_ASR_INSTANCE_NUM = "STR_PARAM_TYPE_MAX_ASR_INSTANCE_NUM";
const std::string SDK_TYPE_ASR = "ASRCore";
const std::string SDK_TYPE_WAKEUP = "WakeupCore";
const std::string SDK_TYPE_TTS = "TTSCore";
const std::string ASR_PARAM_KEY_SECRET_KEY = "asr.param.secret_key.string";

}  // namespace vxs
