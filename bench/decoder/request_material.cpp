#include "request_material.h"

#include "audio/audio_encoder_factory.h"
#include "decoder/request_keys.h"

namespace decbench {

namespace {

constexpr int32_t kNetworkWifi = 4;
constexpr const char* kSearchProduct = "1536";

}  // namespace

vxs::ParamMapPtr start_params(const CodecSetting& setting, int package_ms, const std::string& sn,
                              const std::string& server_url) {
    vxs::ParamMapPtr params(new vxs::ParamMap());
    vxs::ParamMap& map = *params;
    map[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = kNetworkWifi;
    map[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = static_cast<int32_t>(setting.compression);
    map[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = static_cast<int32_t>(setting.rate);
    map[vxs::ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT] = static_cast<int32_t>(package_ms);
    map[vxs::ASR_ONLINE_PARAM_KEY_SN_STRING] = sn;
    map[vxs::ASR_ONLINE_PARAM_KEY_SERVER_URL] = server_url;
    map[vxs::ASR_ONLINE_PARAM_KEY_UID_STRING] = "decoder-bench";
    map[vxs::ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = "Linux";
    map[vxs::ASR_ONLINE_PARAM_KEY_VER_STRING] = "Core_3.0.0";
    map[vxs::ASR_ONLINE_PARAM_KEY_PDT_STRING] = kSearchProduct;
    map[vxs::ASR_ONLINE_PARAM_KEY_PTC_STRING] = kSingleProtocol;
    map[vxs::ASR_ONLINE_PARAM_KEY_CHUNK_KEY] = "decoder-bench-key";
    return params;
}

PackageEncoder::PackageEncoder(const CodecSetting& setting, size_t largest_package)
    : m_encoder(vxs::createAudioEncoder(setting.compression, setting.rate)),
      m_output(largest_package + vxs::kAudioEncoderHeaderBytes) {}

bool PackageEncoder::encode(const std::string& pcm, std::string* out) {
    const int written = m_encoder->encodeSamples(reinterpret_cast<const uint8_t*>(pcm.data()),
                                                 static_cast<int>(pcm.size()), m_output.data(),
                                                 static_cast<int>(m_output.size()));
    if (written < 0) return false;
    out->assign(reinterpret_cast<const char*>(m_output.data()), static_cast<size_t>(written));
    return true;
}

}  // namespace decbench
