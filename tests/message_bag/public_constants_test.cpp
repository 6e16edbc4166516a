#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vxs/vxs_sdk_constants.h"

namespace {

TEST(PublicConstantsTest, StringsHaveTheirWireValues) {
    const struct {
        const std::string& constant;
        const char* value;
    } cases[] = {
        {vxs::ASR_CMD_CONFIG, "asr.config"},
        {vxs::ASR_CMD_START, "asr.start"},
        {vxs::ASR_CMD_PUSH_AUDIO, "asr.push_audio"},
        {vxs::ASR_CMD_STOP, "asr.stop"},
        {vxs::ASR_CMD_CANCEL, "asr.cancel"},
        {vxs::ASR_CMD_KWS_LOAD, "asr.kws.load"},
        {vxs::ASR_CMD_KWS_UNLOAD, "asr.kws.unload"},
        {vxs::asr_callback_name, "ASR.callback"},
        {vxs::wakeup_callback_name, "WAKEUP.callback"},
        {vxs::upload_callback_name, "UPLOAD.callback"},
        {vxs::CALLBACK_ASR_STATUS, "cb.asr.status.int"},
        {vxs::CALLBACK_ASR_LEVEL, "cb.asr.level.int"},
        {vxs::CALLBACK_ASR_RESULT, "cb.asr.result.string"},
        {vxs::CALLBACK_WAK_STATUS, "cb.wak.status.int"},
        {vxs::CALLBACK_WAK_RESULT, "cb.wak.result.string"},
        {vxs::CALLBACK_ERROR_DOMAIN, "cb.error.domain.int16_t"},
        {vxs::CALLBACK_ERROR_CODE, "cb.error.code.int16_t"},
        {vxs::CALLBACK_ERROR_DESC, "cb.error.desc.string"},
        {vxs::CALLBACK_ERROR_SERIAL_NUM, "cb.error.sn.string"},
        {vxs::DATA_CHUNK, "vxs.param.data_chunk"},
        {vxs::COMMON_PARAM_KEY_DEBUG_LOG_LEVEL, "common_param_key_debug_log_level.int"},
        {vxs::PARAM_TYPE_MAX_ASR_INSTANCE_NUM, "STR_PARAM_TYPE_MAX_ASR_INSTANCE_NUM"},
        {vxs::SDK_TYPE_ASR, "ASRCore"},
        {vxs::SDK_TYPE_WAKEUP, "WakeupCore"},
        {vxs::SDK_TYPE_TTS, "TTSCore"},
        {vxs::ASR_PARAM_KEY_SECRET_KEY, "asr.param.secret_key.string"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, c.constant);
}

// Every error code is its domain x 65536 plus the code as an unsigned 16-bit number.
TEST(PublicConstantsTest, ErrorCodesEncodeDomainAndCode) {
    const struct {
        int encoded;
        int domain;
        int code;
    } cases[] = {
        {vxs::EVRClientErrorCodeRecoderException, vxs::EVRClientErrorDomainRecord, 1},
        {vxs::EVRClientErrorCodeRecoderNoPermission, vxs::EVRClientErrorDomainRecord, 2},
        {vxs::EVRClientErrorCodeRecoderUnAvailable, vxs::EVRClientErrorDomainRecord, 3},
        {vxs::EVRClientErrorCodeInterruption, vxs::EVRClientErrorDomainRecord, 4},
        {vxs::EVRClientErrorCodeVADException, vxs::EVRClientErrorDomainVAD, 1},
        {vxs::EVRClientErrorCodeNoSpeech, vxs::EVRClientErrorDomainVAD, 2},
        {vxs::EVRClientErrorCodeShort, vxs::EVRClientErrorDomainVAD, 3},
        {vxs::EVRClientErrorCodeOnlineExceptioin, vxs::EVRClientErrorDomainOnline, 1},
        {vxs::EVRClientErrorCodeOnlineNetworkUnavailable, vxs::EVRClientErrorDomainOnline, 2},
        {vxs::EVRClientErrorCodeOnlineTokenFailed, vxs::EVRClientErrorDomainOnline, 3},
        {vxs::EVRClientErrorCodeOnlineResolveUrlFailed, vxs::EVRClientErrorDomainOnline, 4},
        {vxs::EVRClientErrorCodeLocalTimeout, vxs::EVRClientErrorDomainLocalNetwork, 1},
        {vxs::EVRClientErrorCodeServerParamError, vxs::EVRClientErrorDomainServer, -3001},
        {vxs::EVRClientErrorCodeServerRecognError, vxs::EVRClientErrorDomainServer, -3002},
        {vxs::EVRClientErrorCodeServerNoFindResult, vxs::EVRClientErrorDomainServer, -3003},
        {vxs::EVRClientErrorCodeServerAppNameUnknownError, vxs::EVRClientErrorDomainServer, -3004},
        {vxs::EVRClientErrorCodeServerSpeechQualityProblem, vxs::EVRClientErrorDomainServer, -3005},
        {vxs::EVRClientErrorCodeServerSpeechTooLong, vxs::EVRClientErrorDomainServer, -3006},
        {vxs::EVRClientErrorCodeCommonBusy, vxs::EVRClientErrorDomainCommon, 1},
        {vxs::EVRClientErrorCodeCommonPropertyListInvalid, vxs::EVRClientErrorDomainCommon, 2},
        {vxs::EVRClientErrorCodeCommonEnqueueError, vxs::EVRClientErrorDomainCommon, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.domain * 65536 + static_cast<uint16_t>(static_cast<int16_t>(c.code)), c.encoded)
            << c.domain << "/" << c.code;
    }
}

}  // namespace
