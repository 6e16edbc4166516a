#include "decoder_client.h"

#include <cstring>
#include <thread>

#include "core/common_keys.h"
#include "decoder/asr_result.h"
#include "request_material.h"

namespace decbench {

namespace {

using vxs::Memory::vxs_shared_ptr;

constexpr auto kBeginLimit = std::chrono::seconds(20);
constexpr auto kFinalLimit = std::chrono::seconds(30);
constexpr auto kEndLimit = std::chrono::seconds(5);
constexpr auto kCancelGrace = std::chrono::milliseconds(300);

const char* const kLastKey = "last.bool";
const char* const kResultKey = "result.vxs_shared_ptr<ASRResult>";
const char* const kErrorKey = "error.int32_t";
const char* const kDescriptionKey = "desc.string";
const char* const kPackageSizeKey = "audio_package_size.int";

const vxs::paramBase* find_param(const vxs::MessagePtr& message, const char* key) {
    if (!message->params) return nullptr;
    auto found = message->params->find(key);
    return found == message->params->end() ? nullptr : &found->second;
}

vxs_shared_ptr<vxs::ASRResult> result_of(const vxs::MessagePtr& message) {
    const vxs::paramBase* value = find_param(message, kResultKey);
    const auto* result = value ? value->get<vxs_shared_ptr<vxs::ASRResult>>() : nullptr;
    return result ? *result : vxs_shared_ptr<vxs::ASRResult>();
}

bool is_final(const vxs::ASRResult& result) {
    const vxs::ASR_RES_TYPE kind = result.get_res_type();
    return result.get_type() != vxs::EVR_RESULT_TYPE_ERROR &&
           (kind == vxs::ASR_RES_TYPE_SINGLE_FINISH || kind == vxs::ASR_RES_TYPE_MULTI_FINISH);
}

std::string finish_text(const vxs::MessagePtr& message) {
    const vxs::paramBase* error = find_param(message, kErrorKey);
    const vxs::paramBase* description = find_param(message, kDescriptionKey);
    const std::string* text = description ? description->get<std::string>() : nullptr;
    return "error " + std::to_string(error ? error->valueInt32() : 0) + " " + (text ? *text : "");
}

}  // namespace

vxs_shared_ptr<StampingRecorder> StampingRecorder::create(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context) {
    return adoptModule(new StampingRecorder(context));
}

void StampingRecorder::send(vxs::MessagePtr& message) {
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(Stamped{message, now});
    }
    m_arrived.notify_all();
}

std::vector<StampingRecorder::Stamped> StampingRecorder::wait_beyond(size_t seen, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_until(lock, deadline, [&] { return m_messages.size() > seen; });
    return m_messages;
}

void StampingRecorder::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

DecoderClient::DecoderClient(const std::string& name, DecoderFactory factory, bool chunked,
                             const std::string& server_url, int package_ms)
    : m_name(name), m_chunked(chunked), m_server_url(server_url), m_package_ms(package_ms) {
    m_context = vxs::Context::newContext();
    if (!m_context) return;
    m_recorder = StampingRecorder::create(m_context);
    m_decoder = factory(m_context, m_recorder);
}

DecoderClient::~DecoderClient() {
    if (!m_decoder) return;
    // Closes the transfers of the last utterance before the module goes.
    post_to_decoder(vxs::Message::make(vxs::DEC_CMD_CANCEL));
    std::this_thread::sleep_for(kCancelGrace);
}

void DecoderClient::post_to_decoder(const vxs::MessagePtr& message) {
    // Straight to the decoder's own entry point, as the session's messages
    // reach it: the figures are the decoder's, not the context queue's.
    vxs::MessagePtr handed = message;
    m_decoder->send(handed);
}

bool DecoderClient::wait_for_begin(size_t package_bytes, std::string* error) {
    const Clock::time_point deadline = Clock::now() + kBeginLimit;
    for (size_t seen = 0; Clock::now() < deadline;) {
        const auto messages = m_recorder->wait_beyond(seen, deadline);
        for (; seen < messages.size(); ++seen) {
            const vxs::MessagePtr& message = messages[seen].message;
            if (message->name == vxs::DEC_CALLBACK_FINISH) {
                *error = "start: " + finish_text(message);
                return false;
            }
            if (message->name != vxs::DEC_CALLBACK_BEGIN) continue;
            const vxs::paramBase* size = find_param(message, kPackageSizeKey);
            if (!size || static_cast<size_t>(size->valueInt()) != package_bytes) {
                *error = "the decoder asks for packages of " + std::to_string(size ? size->valueInt() : 0) +
                         " bytes, not " + std::to_string(package_bytes);
                return false;
            }
            return true;
        }
    }
    *error = "no \"dec.callback.begin\"";
    return false;
}

void DecoderClient::wait_for_final(Clock::time_point last_handed, UtteranceOutcome* outcome) {
    const Clock::time_point deadline = Clock::now() + kFinalLimit;
    for (size_t seen = 0; Clock::now() < deadline;) {
        const auto messages = m_recorder->wait_beyond(seen, deadline);
        for (; seen < messages.size(); ++seen) {
            const vxs::MessagePtr& message = messages[seen].message;
            if (message->name == vxs::DEC_CALLBACK_FINISH) {
                outcome->error = finish_text(message);
                return;
            }
            if (message->name != vxs::DEC_CALLBACK_DATA) continue;
            vxs_shared_ptr<vxs::ASRResult> result = result_of(message);
            if (!result || !is_final(*result)) continue;
            outcome->ok = true;
            outcome->client_ms = ms_between(last_handed, messages[seen].at);
            outcome->text = result->get_response();
            return;
        }
    }
    outcome->error = "no final result";
}

void DecoderClient::wait_for_end() {
    const Clock::time_point deadline = Clock::now() + kEndLimit;
    for (size_t seen = 0; Clock::now() < deadline;) {
        const auto messages = m_recorder->wait_beyond(seen, deadline);
        for (; seen < messages.size(); ++seen) {
            vxs_shared_ptr<vxs::ASRResult> result = result_of(messages[seen].message);
            if (result && result->get_type() == vxs::EVR_RESULT_TYPE_END) return;
            if (messages[seen].message->name == vxs::DEC_CALLBACK_FINISH) return;
        }
    }
}

UtteranceOutcome DecoderClient::run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                                    const Pacing& pacing) {
    UtteranceOutcome outcome;
    m_recorder->clear();
    post_to_decoder(vxs::Message::make(vxs::DEC_CMD_START, start_params(setting, m_package_ms, sn, m_server_url)));
    if (!wait_for_begin(utterance.packages.front().size(), &outcome.error)) return outcome;
    const Clock::time_point start = Clock::now();
    const size_t count = utterance.packages.size();
    Clock::time_point first_handed, last_handed;
    for (size_t i = 0; i < count; ++i) {
        std::this_thread::sleep_until(package_due(start, i, count, pacing));
        pass_gate(pacing, sn, i, count);
        if (i == 0) first_handed = Clock::now();
        const std::string& pcm = utterance.packages[i];
        vxs::MessagePtr data = vxs::Message::make(vxs::DEC_CMD_DATA);
        data->data = vxs::Memory::vxs_make_array<char>(pcm.size());
        memcpy(data->data.getPTR(), pcm.data(), pcm.size());
        data->length = static_cast<uint32_t>(pcm.size());
        if (i + 1 == count) {
            (*data->params)[kLastKey] = true;
            last_handed = Clock::now();
        }
        post_to_decoder(data);
    }
    wait_for_final(last_handed, &outcome);
    outcome.span_ms = ms_between(first_handed, last_handed);
    if (outcome.ok && m_chunked) wait_for_end();
    return outcome;
}

}  // namespace decbench
