// Keys of the online decoders' parameter map, member names of the documents
// sent to the recognition service, packet types and the decoders' error codes.
//
// Threading: immutable process-wide constants; readable from any thread.
#ifndef VXS_DECODER_REQUEST_KEYS_H
#define VXS_DECODER_REQUEST_KEYS_H

#include <cstdint>

#include "core/common_keys.h"

namespace vxs {

extern const char* const ASR_ONLINE_PARAM_KEY_ENABLE_LONG_SPEECH;
extern const char* const ASR_ONLINE_PARAM_KEY_ENABLE_FEEDBACK;
extern const char* const ASR_ONLINE_PARAM_KEY_CHUNK_KEY;
extern const char* const ASR_ONLINE_PARAM_KEY_CHUNK_PARAM;
extern const char* const ASR_ONLINE_PARAM_KEY_REALTIME_DATA;
extern const char* const ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_AUE_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_UID_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_NET_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_PLATFORM_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_VER_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_PDT_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_SN_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_PTC_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_APP_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_TOK;
extern const char* const ASR_ONLINE_PARAM_KEY_APP_ID;
extern const char* const ASR_ONLINE_PARAM_KEY_VP_PARAMS;
extern const char* const ASR_ONLINE_PARAM_KEY_API_KEY;
extern const char* const ASR_ONLINE_PARAM_KEY_PROP_LIST;
extern const char* const ASR_ONLINE_PARAM_KEY_CITY_ID_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_USER_PARAMS;
extern const char* const ASR_ONLINE_PARAM_KEY_SERVER_URL;
extern const char* const ASR_ONLINE_PARAM_KEY_BROWER_UA_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_ENABLE_CONTACTS_BOOL;
extern const char* const ASR_ONLINE_PARAM_KEY_ENABLE_SERVER_VAD_BOOL;
extern const char* const ASR_ONLINE_PARAM_KEY_DISABLE_PUNC_BOOL;
extern const char* const ASR_ONLINE_PARAM_KEY_PUNC_EXT_MODE_INT;
extern const char* const ASR_ONLINE_PARAM_KEY_ENABLE_EARLY_RETURNS_BOOL;
extern const char* const ASR_ONLINE_PARAM_KEY_BUA_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_COOKIE_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_PU_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_FROM_STRING;
extern const char* const ASR_ONLINE_PARAM_KEY_RESERVED;
extern const char* const ASR_REQUEST_KEY_UID;
extern const char* const ASR_REQUEST_KEY_PLATFORM;
extern const char* const ASR_REQUEST_KEY_VERSION;
extern const char* const ASR_REQUEST_KEY_REQUEST_INDEX;
extern const char* const ASR_REQUEST_KEY_PRODUCT;
extern const char* const ASR_REQUEST_KEY_SERIAL_NUMBER;
extern const char* const ASR_REQUEST_KEY_RETURN_TYPE;
extern const char* const ASR_REQUEST_KEY_APPLICATION;
extern const char* const ASR_REQUEST_KEY_ACCESS_TOKEN;
extern const char* const ASR_REQUEST_KEY_FUNCTIONS;
extern const char* const ASR_REQUEST_KEY_TEXT_ENCODING;
extern const char* const ASR_REQUEST_KEY_PROTOCOL;
extern const char* const ASR_REQUEST_KEY_CITY_ID;
extern const char* const ASR_REQUEST_KEY_PROPERTY_LIST;
extern const char* const ASR_REQUEST_KEY_USER_AGENT;
extern const char* const ASR_REQUEST_KEY_COOKIE;
extern const char* const ASR_REQUEST_KEY_PU;
extern const char* const ASR_REQUEST_KEY_FROM;
extern const char* const ASR_REQUEST_KEY_RESERVED;
extern const char* const ASR_REQUEST_KEY_APP_ID;
extern const char* const ASR_REQUEST_KEY_VP_PARAMS;
extern const char* const ASR_REQUEST_KEY_API_KEY;
extern const char* const ASR_REQUEST_KEY_CHUNK_PRODUCT;
extern const char* const ASR_REQUEST_KEY_CHUNK_SAMRATE;
extern const char* const ASR_REQUEST_KEY_CHUNK_FUNCTIONS;
extern const char* const ASR_REQUEST_KEY_CHUNK_CITY_ID;
extern const char* const ASR_REQUEST_KEY_CHUNK_SERIAL_NUMBER;
extern const char* const ASR_REQUEST_KEY_CHUNK_KEY;
extern const char* const ASR_REQUEST_KEY_CHUNK_APPLICATION;
extern const char* const ASR_REQUEST_KEY_CHUNK_VERSION;
extern const char* const ASR_REQUEST_KEY_CHUNK_UID;
extern const char* const ASR_REQUEST_KEY_CHUNK_PLATFORM;
extern const char* const ASR_REQUEST_KEY_CHUNK_PARAMS;
extern const char* const ASR_REQUEST_KEY_CHUNK_PROPERTY_LIST;
extern const char* const ASR_REQUEST_KEY_RESERVED_NET_TYPE;
extern const char* const ASR_REQUEST_CONTENT_BOUNDARY;
extern const char* const ASR_REQUEST_DEFAULT_RETURN_TYPE;
extern const char* const ASR_REQUEST_DEFAULT_TEXT_ENCODE;
extern const char* const ASR_SEARCH_PRODUCT_ID;
extern const char* const ASR_INPUT_PRODUCT_ID;
extern const char* const ASR_SEARCH_PRODUCT_ID_YUE_HANS_CN;
extern const char* const ASR_INPUT_PRODUCT_ID_YUE_HANS_CN;
extern const char* const ASR_SEARCH_PRODUCT_ID_EN_GB;
extern const char* const ASR_INPUT_PRODUCT_ID_EN_GB;
extern const char* const ASR_SEARCH_PRODUCT_SICHUAN_CN;
extern const char* const ASR_INPUT_PRODUCT_SICHUAN_CN;
extern const char* const ASR_CORE_VERSION;
extern const char* const ASR_OPENAPI_SERVER;
extern const char* const ASR_SEARCH_SERVER;
extern const char* const ASR_INPUT_SERVER;
extern const char* const ASR_SHAKE_SERVER;
extern const char* const ASR_MUSIC_SERVER;
// The server tried after a failed connection to the resolved address: a
// numeric host, so that it needs no resolution.
extern const char* const ASR_BACKUP_SERVER;

// Types of the packets on the chunked upload connection.
constexpr uint8_t TYPE_UPLOAD_PARAM = 0;
constexpr uint8_t TYPE_UPLOAD_AUDIO = 1;
constexpr uint8_t TYPE_UPLOAD_THIRD_DATA = 2;
constexpr uint8_t TYPE_UPLOAD_FINISH = 3;
constexpr uint8_t TYPE_UPLOAD_CANCEL = 4;
constexpr uint8_t TYPE_UPLOAD_REALTIME_DATA = 5;

// Error codes the online decoders report; their domains (DEC_ERROR_CODE_CLASS
// 30 and the HTTP and server classes 31-33) come from core/common_keys.h.
constexpr int16_t DEC_ERROR_CODE_EXCEPTION = 1;
constexpr int16_t DEC_ERROR_CODE_NET_UNAVAILABLE = 2;
constexpr int16_t DEC_ERROR_CODE_ACCESS_TOKEN_FAILED = 3;
constexpr int16_t DEC_ERROR_CODE_RESOLVE_URL_FAILED = 4;
constexpr int16_t DEC_ERROR_CODE_INVALID_PARAMETER = 5;
constexpr int16_t DEC_ERROR_CODE_LTV_PROTOCAL_UNFINISHED = 6;

}  // namespace vxs

#endif  // VXS_DECODER_REQUEST_KEYS_H
