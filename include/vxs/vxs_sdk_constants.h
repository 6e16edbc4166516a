// Public names and numbers of the speech SDK: the commands a host posts, the
// callback names and keys it receives, common keys, and the enumerations whose
// values appear in callbacks (work statuses, error domains and codes, log
// levels).
//
// Threading: the string constants are built when the library is loaded and
// never change afterwards; read them from any thread. Do not read them from
// the constructor of a static object of another library, which may run first.
#ifndef VXS_VXS_SDK_CONSTANTS_H
#define VXS_VXS_SDK_CONSTANTS_H

#include <string>

#include "vxs/export.h"

namespace vxs {

// Commands: the name of a message posted by the host.
VXS_EXPORT extern const std::string ASR_CMD_CONFIG;      // "asr.config"
VXS_EXPORT extern const std::string ASR_CMD_START;       // "asr.start"
VXS_EXPORT extern const std::string ASR_CMD_PUSH_AUDIO;  // "asr.push_audio"
VXS_EXPORT extern const std::string ASR_CMD_STOP;        // "asr.stop"
VXS_EXPORT extern const std::string ASR_CMD_CANCEL;      // "asr.cancel"
VXS_EXPORT extern const std::string ASR_CMD_KWS_LOAD;    // "asr.kws.load"
VXS_EXPORT extern const std::string ASR_CMD_KWS_UNLOAD;  // "asr.kws.unload"

// Callback message names. Only asr_callback_name is sent by this library.
VXS_EXPORT extern const std::string asr_callback_name;     // "ASR.callback"
VXS_EXPORT extern const std::string wakeup_callback_name;  // "WAKEUP.callback"
VXS_EXPORT extern const std::string upload_callback_name;  // "UPLOAD.callback"

// Callback parameter keys.
VXS_EXPORT extern const std::string CALLBACK_ASR_STATUS;        // work status
VXS_EXPORT extern const std::string CALLBACK_ASR_LEVEL;         // input volume level
VXS_EXPORT extern const std::string CALLBACK_ASR_RESULT;        // text that goes with the status
VXS_EXPORT extern const std::string CALLBACK_WAK_STATUS;        // not sent by this library
VXS_EXPORT extern const std::string CALLBACK_WAK_RESULT;        // not sent by this library
VXS_EXPORT extern const std::string CALLBACK_ERROR_DOMAIN;      // TVoiceRecognitionClientErrorDomain
VXS_EXPORT extern const std::string CALLBACK_ERROR_CODE;        // code within its domain
VXS_EXPORT extern const std::string CALLBACK_ERROR_DESC;        // error description
VXS_EXPORT extern const std::string CALLBACK_ERROR_SERIAL_NUM;  // serial number, in every ASR callback

// Other public keys and values.
VXS_EXPORT extern const std::string DATA_CHUNK;                        // payload bytes of a message
VXS_EXPORT extern const std::string COMMON_PARAM_KEY_DEBUG_LOG_LEVEL;  // TVXVoiceRecognitionDebugLogLevel
VXS_EXPORT extern const std::string PARAM_TYPE_MAX_ASR_INSTANCE_NUM;   // global instance limit
VXS_EXPORT extern const std::string SDK_TYPE_ASR;                      // "ASRCore"
VXS_EXPORT extern const std::string SDK_TYPE_WAKEUP;                   // no instance can be made
VXS_EXPORT extern const std::string SDK_TYPE_TTS;                      // no instance can be made
VXS_EXPORT extern const std::string ASR_PARAM_KEY_SECRET_KEY;          // client secret key

// Values of "cb.asr.status.int".
enum TVXVoiceRecognitionClientWorkStatus {
    EVoiceRecognitionClientWorkStatusStartWorkIng = 0,
    EVoiceRecognitionClientWorkStatusStart = 1,
    EVoiceRecognitionClientWorkStatusEnd = 2,
    EVoiceRecognitionClientWorkStatusNewRecordData = 3,
    EVoiceRecognitionClientWorkStatusFlushData = 4,
    EVoiceRecognitionClientWorkStatusFinish = 5,
    EVoiceRecognitionClientWorkStatusMeterLevel = 6,
    EVoiceRecognitionClientWorkStatusCancel = 7,
    EVoiceRecognitionClientWorkStatusError = 8,
    EVoiceRecognitionClientWorkStatusLoaded = 9,
    EVoiceRecognitionClientWorkStatusUnLoaded = 10,
    EVoiceRecognitionClientWorkStatusChunkThirdData = 11,
    EVoiceRecognitionClientWorkStatusChunkVPRes = 12,
    EVoiceRecognitionClientWorkStatusChunkNlu = 13,
    EVoiceRecognitionClientWorkStatusChunkEnd = 14,
    EVoiceRecognitionClientWorkStatusFeedback = 15,
    EVoiceRecognitionClientWorkStatusRecorderEnd = 16,
    EVoiceRecognitionClientWorkStatusLongSpeechEnd = 17
};

// Values of "cb.error.domain.int16_t".
enum TVoiceRecognitionClientErrorDomain {
    EVRClientErrorDomainRecord = 10,
    EVRClientErrorDomainVAD = 20,
    EVRClientErrorDomainOnline = 30,
    EVRClientErrorDomainLocalNetwork = 31,
    EVRClientErrorDomainHTTP = 32,
    EVRClientErrorDomainServer = 33,
    EVRClientErrorDomainOffline = 34,
    EVRClientErrorDomainCommon = 40
};

// An encoded error: domain x 65536 + the code taken as an unsigned 16-bit
// number. Callbacks carry the two halves separately in "cb.error.domain.int16_t"
// and "cb.error.code.int16_t".
enum TVoiceRecognitionClientErrorCode {
    EVRClientErrorCodeRecoderException = 655361,              // 10, 1
    EVRClientErrorCodeRecoderNoPermission = 655362,           // 10, 2
    EVRClientErrorCodeRecoderUnAvailable = 655363,            // 10, 3
    EVRClientErrorCodeInterruption = 655364,                  // 10, 4
    EVRClientErrorCodeVADException = 1310721,                 // 20, 1
    EVRClientErrorCodeNoSpeech = 1310722,                     // 20, 2
    EVRClientErrorCodeShort = 1310723,                        // 20, 3
    EVRClientErrorCodeOnlineExceptioin = 1966081,             // 30, 1
    EVRClientErrorCodeOnlineNetworkUnavailable = 1966082,     // 30, 2
    EVRClientErrorCodeOnlineTokenFailed = 1966083,            // 30, 3
    EVRClientErrorCodeOnlineResolveUrlFailed = 1966084,       // 30, 4
    EVRClientErrorCodeLocalTimeout = 2031617,                 // 31, 1
    EVRClientErrorCodeServerParamError = 2225223,             // 33, -3001
    EVRClientErrorCodeServerRecognError = 2225222,            // 33, -3002
    EVRClientErrorCodeServerNoFindResult = 2225221,           // 33, -3003
    EVRClientErrorCodeServerAppNameUnknownError = 2225220,    // 33, -3004
    EVRClientErrorCodeServerSpeechQualityProblem = 2225219,   // 33, -3005
    EVRClientErrorCodeServerSpeechTooLong = 2225218,          // 33, -3006
    EVRClientErrorCodeCommonBusy = 2621441,                   // 40, 1
    EVRClientErrorCodeCommonPropertyListInvalid = 2621442,    // 40, 2
    EVRClientErrorCodeCommonEnqueueError = 2621443            // 40, 3
};

// Values of "common_param_key_debug_log_level.int".
enum TVXVoiceRecognitionDebugLogLevel {
    EVRDebugLogLevelOff = 0,
    EVRDebugLogLevelFatal = 1,
    EVRDebugLogLevelError = 2,
    EVRDebugLogLevelWarning = 3,
    EVRDebugLogLevelInformation = 4,
    EVRDebugLogLevelDebug = 5,
    EVRDebugLogLevelTrace = 6
};

}  // namespace vxs

#endif  // VXS_VXS_SDK_CONSTANTS_H
