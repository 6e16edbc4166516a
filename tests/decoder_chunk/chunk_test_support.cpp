#include "decoder_chunk/chunk_test_support.h"

#include <cstring>

#include "core/common_keys.h"
#include "core/error_code.h"
#include "decoder/asr_result.h"
#include "decoder/recognition_enums.h"
#include "decoder/request_keys.h"

namespace chunktest {

using vxs::paramBase;
using vxs::Memory::vxs_shared_ptr;

std::vector<Packet> parse_packets(const std::string& body) {
    std::vector<Packet> packets;
    size_t at = 0;
    while (at < body.size()) {
        if (body.size() - at < 5) {
            packets.push_back(Packet{0xFF, body.substr(at)});
            break;
        }
        uint32_t length = 0;
        for (int i = 0; i < 4; ++i)
            length |= static_cast<uint32_t>(static_cast<uint8_t>(body[at + i])) << (8 * i);
        if (length == 0 || body.size() - at - 4 < length) {
            packets.push_back(Packet{0xFF, body.substr(at)});
            break;
        }
        packets.push_back(
            Packet{static_cast<uint8_t>(body[at + 4]), body.substr(at + 5, length - 1)});
        at += 4 + length;
    }
    return packets;
}

std::string packet_types(const std::vector<Packet>& packets) {
    std::string types;
    for (const Packet& packet : packets) types += std::to_string(packet.type);
    return types;
}

std::string record(uint8_t type, const std::string& payload) {
    const uint32_t length = static_cast<uint32_t>(payload.size() + 1);
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((length >> (8 * i)) & 0xFF);
    bytes += static_cast<char>(type);
    return bytes + payload;
}

std::string json_record(uint8_t type, int err_no, const std::string& word) {
    return record(type, "{\"err_no\":" + std::to_string(err_no) + ",\"result\":{\"word\":[\"" +
                            word + "\"]}}");
}

vxs::ParamMapPtr start_params(const std::string& sn, const std::string& serverUrl) {
    vxs::ParamMapPtr params = vxs::newParamMap();
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(vxs::EVR_NETWORK_TYPE_WIFI);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_CHUNK_KEY] = paramBase::box<std::string>("chunk-test-key");
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_UID_STRING] =
        paramBase::box<std::string>("chunk-test-client");
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = paramBase::box<std::string>("Linux");
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_VER_STRING] =
        paramBase::box<std::string>(vxs::ASR_CORE_VERSION);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_PDT_STRING] =
        paramBase::box<std::string>(vxs::ASR_SEARCH_PRODUCT_ID);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(16000);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(1);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_SN_STRING] = paramBase::box<std::string>(sn);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_SERVER_URL] = paramBase::box<std::string>(serverUrl);
    return params;
}

DecoderUnderTest::DecoderUnderTest() {
    context = vxs::Context::newContext();
    recorder = vxs_test::MessageRecorder::create(context);
    decoder = vxs::EventManagerDecChunk::newEventManager(context, recorder);
}

DecoderUnderTest::~DecoderUnderTest() {
    decoder = vxs::EventManagerDecChunkPtr();
    recorder = vxs_shared_ptr<vxs_test::MessageRecorder>();
    context = vxs::ContextPtr();
}

void DecoderUnderTest::send(const std::string& name, const vxs::ParamMapPtr& params) {
    vxs::MessagePtr message = vxs::Message::make(name, params);
    decoder->send(message);
}

void DecoderUnderTest::send_audio(uint32_t bytes, bool last) {
    std::string ramp(bytes, '\0');
    for (uint32_t i = 0; i < bytes; ++i) ramp[i] = static_cast<char>((i * 37) % 251);
    send_bytes(ramp, last);
}

void DecoderUnderTest::send_audio(const std::vector<int16_t>& pcm, bool last) {
    send_bytes(std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2), last);
}

void DecoderUnderTest::send_bytes(const std::string& bytes, bool last) {
    vxs::MessagePtr message = vxs::Message::make(vxs::DEC_CMD_DATA);
    if (!bytes.empty()) {
        message->data = vxs::Memory::vxs_make_array<char>(bytes.size());
        std::memcpy(message->data.getPTR(), bytes.data(), bytes.size());
        message->length = static_cast<uint32_t>(bytes.size());
    }
    if (last) (*message->params)["last.bool"] = paramBase::box<bool>(true);
    decoder->send(message);
}

std::vector<DecoderUnderTest::Finish> DecoderUnderTest::finishes() const {
    std::vector<Finish> found;
    for (const vxs::MessagePtr& message : recorder->messages_named(vxs::DEC_CALLBACK_FINISH)) {
        Finish finish;
        auto error = message->params->find("error.int32_t");
        if (error != message->params->end())
            vxs::decode_error(error->second.valueInt(), finish.domain, finish.code);
        auto text = message->params->find("desc.string");
        if (text != message->params->end()) finish.text = text->second.valueString();
        found.push_back(finish);
    }
    return found;
}

std::vector<int> DecoderUnderTest::result_types() const {
    std::vector<int> types;
    for (const vxs::MessagePtr& message : recorder->messages_named(vxs::DEC_CALLBACK_DATA)) {
        auto entry = message->params->find("result.vxs_shared_ptr<ASRResult>");
        const auto* result = entry == message->params->end()
                                 ? nullptr
                                 : entry->second.get<vxs_shared_ptr<vxs::ASRResult>>();
        types.push_back(result && result->getPTR() ? (*result)->get_type() : -99);
    }
    return types;
}

std::vector<std::string> DecoderUnderTest::result_texts() const {
    std::vector<std::string> texts;
    for (const vxs::MessagePtr& message : recorder->messages_named(vxs::DEC_CALLBACK_DATA)) {
        auto entry = message->params->find("result.vxs_shared_ptr<ASRResult>");
        const auto* result = entry == message->params->end()
                                 ? nullptr
                                 : entry->second.get<vxs_shared_ptr<vxs::ASRResult>>();
        texts.push_back(result && result->getPTR() ? (*result)->get_response() : std::string());
    }
    return texts;
}

}  // namespace chunktest
