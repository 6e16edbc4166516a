#include "decoder/event_manager_dec_chunk.h"

#include <algorithm>
#include <cinttypes>

#include "audio/audio_encoder_factory.h"
#include "core/common_keys.h"
#include "core/error_code.h"
#include "core/log.h"
#include "core/time_util.h"
#include "decoder/asr_request_builder.h"
#include "decoder/asr_response.h"
#include "decoder/asr_result.h"
#include "decoder/asr_server_ip.h"
#include "decoder/decoder_message_keys.h"
#include "decoder/download_record.h"
#include "decoder/request_keys.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "threads/dispatch_task.h"

namespace vxs {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Memory::vxs_weak_ptr;
using Networking::vxs_address_resolver;
using Networking::vxs_http_request_maker;
using Networking::vxs_HttpRequest;
using Networking::vxs_HttpResponse;
using Threads::Synchronization::AppLock;

using DecoderMessageKeys::kDescription;
using DecoderMessageKeys::kError;
using DecoderMessageKeys::kFrameSize;
using DecoderMessageKeys::kLast;
using DecoderMessageKeys::kLog;
using DecoderMessageKeys::kPackageSize;
using DecoderMessageKeys::kResult;
using DecoderMessageKeys::kUserCancel;

namespace {

constexpr int kResolveTimeLimitMs = 15000;
// A package longer than this is a configuration mistake, not a request for a
// buffer of that size.
constexpr int64_t kMaxPackageMilliseconds = 60000;

std::atomic<EventManagerDecChunk::ResolverFactory> resolverFactory{nullptr};

bool isSuccessStatus(int32_t status) { return status >= 200 && status <= 299; }

}  // namespace

// A command and the number send() gave its start (0 for other commands).
struct EventManagerDecChunk::QueuedCommand {
    MessagePtr message;
    uint64_t startSequence = 0;
};

// One HTTP report and the connection generation it came from.
struct EventManagerDecChunk::QueuedReport {
    vxs_shared_ptr<vxs_HttpResponse> response;
    uint64_t generation = 0;
};

// A download stream that cannot go on, found on its transfer thread; the
// queue ends the utterance with it.
struct EventManagerDecChunk::StreamError {
    uint64_t generation = 0;
    int16_t domain = 0;
    int16_t code = 0;
    std::string text;
};

// ---- Construction, commands ----

EventManagerDecChunkPtr EventManagerDecChunk::newEventManager(Memory::vxs_weak_ptr<Context> context,
                                                              EventManagerWeakPtr callback) {
    EventManagerDecChunkPtr module = adoptModule(new EventManagerDecChunk(context, callback));
    if (module) module->m_selfPtrDec = module;
    return module;
}

EventManagerDecChunk::EventManagerDecChunk(const Memory::vxs_weak_ptr<Context>& context,
                                           const EventManagerWeakPtr& callback)
    : EventManager(context),
      m_ResponseQueue(PCMQueue::newQueue(0)),
      m_callback(callback),
      _managerMain(Threads::DispatchQueue::alloc(1)) {}

EventManagerDecChunk::~EventManagerDecChunk() {
    if (_managerMain) _managerMain->cancel();
    // Nothing may keep streaming or resolving for a module that is gone.
    AppLock lock(&m_handleMutex);
    if (vxs_shared_ptr<vxs_address_resolver> resolver = m_runningResolver.getPTR())
        resolver->cancelResolution();
    if (m_http_maker_up) m_http_maker_up->cancel();
    if (m_http_maker_down) m_http_maker_down->cancel();
}

void EventManagerDecChunk::send(MessagePtr& message) {
    if (!message) return;
    vxs_shared_ptr<QueuedCommand> command(new QueuedCommand());
    command->message = message;
    const std::string& name = message->name;
    if (name == DEC_CMD_START) {
        {
            AppLock lock(&m_handleMutex);
            command->startSequence = ++m_start_requests;
        }
        queueTask(&EventManagerDecChunk::start, &command);
    } else if (name == DEC_CMD_DATA) {
        queueTask(&EventManagerDecChunk::processData, &command);
    } else if (name == DEC_CMD_STOP) {
        queueTask(&EventManagerDecChunk::stop, &command);
    } else if (name == DEC_CMD_CANCEL) {
        cancelRunningResolution();
        queueTask(&EventManagerDecChunk::cancel, &command);
    }
}

bool EventManagerDecChunk::queueTask(QueuedMethod method, vxs_shared_ptr_base* parameter) {
    if (!_managerMain) return false;
    return _managerMain->runTaskAsync(
        new Threads::ASRDispatchTaskWithWeakPointer<EventManagerDecChunk>(m_selfPtrDec, method,
                                                                          parameter));
}

void EventManagerDecChunk::set_resolver_factory_for_tests(ResolverFactory factory) {
    resolverFactory = factory;
}

// ---- engine.start ----

void EventManagerDecChunk::start(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedCommand>* command = static_cast<vxs_shared_ptr<QueuedCommand>*>(parameter);
    if (command == nullptr || !command->getPTR()) return;
    AppLock lock(&m_postURLMutex);
    resetForStart((*command)->message);
    m_utterance_sequence = (*command)->startSequence;
    replaceTransfers();
    m_isRunning = true;
    if (!readStartParameters(*m_startMessage->params)) return;
    if (!prepareEncoder()) return;
    postBegin();
    if (!m_is_long_speech) setupConnection();
}

void EventManagerDecChunk::resetForStart(const MessagePtr& message) {
    m_startMessage = message;
    if (!m_startMessage->params) m_startMessage->params = newParamMap();
    m_enableFeedback = false;
    m_postURL.clear();
    m_serverURL.clear();
    m_ip_type = -1;
    m_dns_parsed_ip.clear();
    m_cur_network_type = EVR_NETWORK_TYPE_NO;
    m_audioEncoding = EVR_AUDIO_COMPRESSION_BV32;
    m_audioSampleRateHz = 16000;
    m_audioPackageSizeMilliSecond = 160;
    {
        AppLock queueLock(&m_ResponseQueueMutex);
        if (m_ResponseQueue) m_ResponseQueue->reset();
    }
    m_is_long_speech = false;
    _retry_connection_time = 0;
    m_has_post_realtime_data = false;
    // An utterance that ended before its download reported its end must not
    // leave the end marked for this one.
    m_has_chunk_end = false;
    m_connected = false;
    m_upload_finished = false;
    m_outgoing.clear();
    AppLock reserveLock(&m_sendDataMutex);
    m_reserve_data.clear();
}

bool EventManagerDecChunk::readStartParameters(const ParamMap& params) {
    if (const paramBase* network = findParam(params, ASR_ONLINE_PARAM_KEY_NET_INT)) {
        m_cur_network_type = static_cast<TVXVoiceRecognitionNetworkType>(network->valueInt());
        if (m_cur_network_type == EVR_NETWORK_TYPE_NO) {
            m_postURL.clear();
            reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_NET_UNAVAILABLE,
                        "Network unavailable");
            return false;
        }
    }
    if (const paramBase* longSpeech = findParam(params, ASR_ONLINE_PARAM_KEY_ENABLE_LONG_SPEECH)) {
        m_is_long_speech = longSpeech->valueBool();
    }
    if (const paramBase* encoding = findParam(params, ASR_ONLINE_PARAM_KEY_AUE_INT)) {
        const int value = encoding->valueInt();
        if (value >= EVR_AUDIO_COMPRESSION_PCM && value <= EVR_AUDIO_COMPRESSION_AMR) {
            m_audioEncoding = static_cast<TVXVoiceRecognitionAudioCompressionType>(value);
        }
    }
    if (const paramBase* package = findParam(params, ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT)) {
        m_audioPackageSizeMilliSecond = package->valueInt();
    }
    if (const paramBase* rate = findParam(params, ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT)) {
        m_audioSampleRateHz = rate->valueInt() == 16000 ? 16000 : 8000;
    }
    if (const paramBase* feedback = findParam(params, ASR_ONLINE_PARAM_KEY_ENABLE_FEEDBACK)) {
        m_enableFeedback = feedback->valueBool();
    }
    if (const paramBase* url = findParam(params, ASR_ONLINE_PARAM_KEY_SERVER_URL))
        m_serverURL = url->valueString();
    if (const paramBase* sn = findParam(params, ASR_ONLINE_PARAM_KEY_SN_STRING))
        m_cur_global_key = sn->valueString();
    else
        m_cur_global_key.clear();
    if (m_serverURL.empty() || m_cur_global_key.empty()) {
        const char* missing =
            m_serverURL.empty() ? ASR_ONLINE_PARAM_KEY_SERVER_URL : ASR_ONLINE_PARAM_KEY_SN_STRING;
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_INVALID_PARAMETER,
                    std::string("Missing start parameter ") + missing);
        return false;
    }
    if (m_audioPackageSizeMilliSecond > kMaxPackageMilliseconds) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_INVALID_PARAMETER,
                    "Invalid audio package length: " +
                        std::to_string(m_audioPackageSizeMilliSecond) + " ms");
        return false;
    }
    return true;
}

bool EventManagerDecChunk::prepareEncoder() {
    m_AudioEncoder = createAudioEncoder(m_audioEncoding, m_audioSampleRateHz);
    if (!m_AudioEncoder) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                    "Failed to create audio encoder");
        return false;
    }
    const int frameBytes = m_AudioEncoder->getEncoderFrameSize_bytes();
    // Whole milliseconds in integers: the same truncation as the rate times
    // the package length in seconds, without floating-point rounding.
    int64_t packageBytes =
        static_cast<int64_t>(m_audioSampleRateHz) * m_audioPackageSizeMilliSecond * 2 / 1000;
    if (packageBytes < 0) packageBytes = 0;
    if (frameBytes > 0 && (packageBytes == 0 || packageBytes % frameBytes != 0)) {
        packageBytes = (packageBytes / frameBytes + 1) * frameBytes;
    }
    m_audioPackageSizeBytes = static_cast<int>(packageBytes);
    m_AudioDecoderOutput =
        Memory::vxs_make_array<uint8_t>(static_cast<size_t>(m_audioPackageSizeBytes) + 4);
    if (!m_AudioDecoderOutput) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION, "Failed to allocate buffers");
        return false;
    }
    return true;
}

void EventManagerDecChunk::postBegin() {
    MessagePtr begin = Message::make(DEC_CALLBACK_BEGIN);
    (*begin->params)[kPackageSize] = paramBase::box<int>(m_audioPackageSizeBytes);
    (*begin->params)[kFrameSize] = paramBase::box<int>(m_AudioEncoder->getEncoderFrameSize_bytes());
    post(m_callback, begin, 0);
}

// ---- Connection set-up ----

void EventManagerDecChunk::setupConnection() {
    // A cancel on its way ends the utterance; connecting first would only
    // open connections for it to close.
    if (!m_isRunning || isCancelPending()) return;
    m_ip_type += 1;
    m_dns_parsed_ip.clear();
    m_has_chunk_end = false;
    chooseAddress();
    if (m_postURL.empty() && !resolveServerAddress()) return;
    if (!startTransfers()) return;
    sendParameterPacket();
}

void EventManagerDecChunk::chooseAddress() {
    ASRServerIP* store = ASRServerIP::getInstance();
    if (m_ip_type == 0) {
        m_postURL = store->get_cache_server_ip(m_cur_network_type, m_serverURL);
        if (!m_postURL.empty()) {
            VXS_LOG_INFO("[setupConnection]Cached IP: %s", m_postURL.c_str());
            return;
        }
        m_ip_type = 1;
    } else if (m_ip_type == 2) {
        m_postURL = store->get_backup_server_ip();
        if (!m_postURL.empty()) {
            VXS_LOG_INFO("[setupConnection]Backup IP: %s", m_postURL.c_str());
            return;
        }
    }
    m_postURL.clear();
}

bool EventManagerDecChunk::resolveServerAddress() {
    vxs_shared_ptr<vxs_address_resolver> resolver;
    // An "engine.cancel" is on its way, and it ends the utterance.
    if (!registerResolver(resolver)) return false;
    const uint64_t started = get_current_time();
    vxs_shared_ptr<char> resolved;
    const Networking::vxs_addr_resolve_error result =
        resolver ? resolver->resolveAddressFromHost(m_serverURL.c_str(), &resolved,
                                                    kResolveTimeLimitMs, nullptr)
                 : Networking::VXS_ADDR_RESOLVE_PREPARE_FAIL;
    const long long elapsed = static_cast<long long>(get_current_time() - started);
    forgetResolver();
    if (result == Networking::VXS_ADDR_RESOLVE_OK && resolved && resolved.getPTR()[0] != '\0') {
        m_postURL = resolved.getPTR();
        m_dns_parsed_ip = m_postURL;
        postLog("type=dns&domain=" + m_serverURL + "&error=0&ip=" + m_postURL +
                "&time=" + std::to_string(elapsed) + "&sn=" + m_cur_global_key);
        return true;
    }
    if (result == Networking::VXS_ADDR_RESOLVE_CANCELLED) return false;
    postLog("type=dns&domain=" + m_serverURL +
            "&error=" + std::to_string(static_cast<int>(result)) +
            "&time=" + std::to_string(elapsed) + "&sn=" + m_cur_global_key);
    m_isRunning = false;
    reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_RESOLVE_URL_FAILED,
                "Address resolution failed for " + m_serverURL);
    return false;
}

bool EventManagerDecChunk::isCancelPending() {
    AppLock lock(&m_handleMutex);
    return m_cancelled_through >= m_utterance_sequence;
}

bool EventManagerDecChunk::registerResolver(vxs_shared_ptr<vxs_address_resolver>& resolver) {
    AppLock lock(&m_handleMutex);
    if (m_cancelled_through >= m_utterance_sequence) return false;
    const ResolverFactory factory = resolverFactory.load();
    resolver = factory ? factory() : vxs_address_resolver::allocate();
    m_runningResolver = resolver;
    return true;
}

void EventManagerDecChunk::forgetResolver() {
    AppLock lock(&m_handleMutex);
    m_runningResolver = vxs_weak_ptr<vxs_address_resolver>();
}

void EventManagerDecChunk::cancelRunningResolution() {
    AppLock lock(&m_handleMutex);
    m_cancelled_through = m_start_requests;
    if (vxs_shared_ptr<vxs_address_resolver> resolver = m_runningResolver.getPTR()) {
        VXS_LOG_INFO("CANCELLED_NAME_RESOLUTION");
        resolver->cancelResolution();
    }
}

bool EventManagerDecChunk::startTransfers() {
    const std::string uploadURL = m_postURL + "/up?sn=" + m_cur_global_key;
    const std::string downloadURL = m_postURL + "/down?sn=" + m_cur_global_key;
    VXS_LOG_INFO("Current downloadURL %s", downloadURL.c_str());
    vxs_shared_ptr<vxs_HttpRequest> upload = vxs_HttpRequest::requestWithUrl(uploadURL);
    vxs_shared_ptr<vxs_HttpRequest> download = vxs_HttpRequest::requestWithUrl(downloadURL);
    if (!upload || !download || !m_http_maker_up || !m_http_maker_down) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION, "Failed to allocate buffers");
        return false;
    }
    upload->_origin_URL = m_serverURL;
    upload->_METHOD = Networking::HTTP_REQUEST_METHOD_CHUNK_UP;
    download->_origin_URL = m_serverURL;
    download->_METHOD = Networking::HTTP_REQUEST_METHOD_CHUNK_DOWN;
    m_http_maker_up->start_request(upload, &EventManagerDecChunk::httpMakerCallback, &m_selfPtrDec);
    m_http_maker_down->start_request(download, &EventManagerDecChunk::httpMakerCallback,
                                     &m_selfPtrDec);
    m_connected = true;
    return true;
}

void EventManagerDecChunk::sendParameterPacket() {
    size_t length = 0;
    RequestBuildError error;
    vxs_shared_ptr<char> packet =
        ASRRequestBuilder::buildChunkUpParams(m_startMessage->params, length, error);
    if (!packet) {
        reportError(error.domain, error.code, error.description);
        return;
    }
    sendPacket(packet, length, false);
    if (!m_has_post_realtime_data) {
        m_has_post_realtime_data = true;
        uploadRealtimeData(m_startMessage->params);
    }
}

void EventManagerDecChunk::replaceTransfers() {
    vxs_shared_ptr<vxs_http_request_maker> up = vxs_http_request_maker::get_instance();
    vxs_shared_ptr<vxs_http_request_maker> down = vxs_http_request_maker::get_instance();
    vxs_shared_ptr<vxs_http_request_maker> oldUp;
    vxs_shared_ptr<vxs_http_request_maker> oldDown;
    {
        AppLock lock(&m_handleMutex);
        oldUp = m_http_maker_up;
        oldDown = m_http_maker_down;
        m_http_maker_up = up;
        m_http_maker_down = down;
        ++m_connection_generation;
    }
    if (oldUp) oldUp->cancel();
    if (oldDown) oldDown->cancel();
    m_connected = false;
}

void EventManagerDecChunk::closeTransfers(bool keepUpload) {
    vxs_shared_ptr<vxs_http_request_maker> up;
    vxs_shared_ptr<vxs_http_request_maker> down;
    {
        AppLock lock(&m_handleMutex);
        up = m_http_maker_up;
        down = m_http_maker_down;
        // Reports still on their way belong to an utterance that is over.
        ++m_connection_generation;
    }
    if (up && !keepUpload) up->cancel();
    if (down) down->cancel();
}

// ---- engine.data, engine.stop ----

void EventManagerDecChunk::processData(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedCommand>* command = static_cast<vxs_shared_ptr<QueuedCommand>*>(parameter);
    if (command == nullptr || !command->getPTR() || !m_isRunning) return;
    const MessagePtr& message = (*command)->message;
    if (m_is_long_speech && !m_connected) {
        AppLock lock(&m_postURLMutex);
        setupConnection();
        if (!m_isRunning || !m_connected) return;
    }
    if (!m_connected) return;
    if (message->length > 0) {
        if (!message->data) {
            reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                        "[Dec:processData] encode audio failed.");
            return;
        }
        encodeAndSend(reinterpret_cast<const uint8_t*>(message->data.getPTR()) + message->offset,
                      message->length);
        if (!m_isRunning) return;
    }
    const paramBase* last = findParam(*message->params, kLast);
    if (last && last->valueBool()) sendFinishPacket();
    flushOutgoing();
}

void EventManagerDecChunk::encodeAndSend(const uint8_t* pcm, uint32_t length) {
    if (m_upload_finished) {
        VXS_LOG_WARN("[Dec:processData] %u bytes after the last package dropped", length);
        return;
    }
    // A package longer than the negotiated size goes out as several audio
    // packets rather than overflowing the encoder output.
    uint32_t done = 0;
    while (done < length) {
        const uint32_t piece =
            std::min<uint32_t>(length - done, static_cast<uint32_t>(m_audioPackageSizeBytes));
        const int encoded = m_AudioEncoder->encodeSamples(pcm + done, static_cast<int>(piece),
                                                          m_AudioDecoderOutput.getPTR(),
                                                          m_audioPackageSizeBytes + 4);
        done += piece;
        if (encoded < 0) {
            VXS_LOG_ERROR("[Dec:processData] encodeSamples returned %d for %u bytes", encoded,
                          piece);
            reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                        "[Dec:processData] encode audio failed.");
            return;
        }
        if (encoded == 0) continue;
        size_t packetLength = 0;
        vxs_shared_ptr<char> packet = ASRRequestBuilder::buildChunkData(
            reinterpret_cast<const char*>(m_AudioDecoderOutput.getPTR()),
            static_cast<size_t>(encoded), TYPE_UPLOAD_AUDIO, packetLength);
        if (!packet) {
            reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                        "[Dec:processData] build chunk data failed.");
            return;
        }
        m_outgoing.push_back(RecordData{packet, static_cast<uint32_t>(packetLength), false});
    }
}

void EventManagerDecChunk::sendFinishPacket() {
    if (m_upload_finished) return;
    size_t length = 0;
    vxs_shared_ptr<char> packet =
        ASRRequestBuilder::buildChunkData(nullptr, 0, TYPE_UPLOAD_FINISH, length);
    if (!packet) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                    "[Dec:processData] build finish chunk failed.");
        return;
    }
    VXS_LOG_DEBUG("uploadFinishPackage alllen=%d, type=%d", static_cast<int>(length),
                  static_cast<int>(TYPE_UPLOAD_FINISH));
    m_outgoing.push_back(RecordData{packet, static_cast<uint32_t>(length), true});
    m_upload_finished = true;
}

void EventManagerDecChunk::stop(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedCommand>* command = static_cast<vxs_shared_ptr<QueuedCommand>*>(parameter);
    if (command == nullptr || !command->getPTR() || !m_isRunning || !m_connected) return;
    uploadRealtimeData((*command)->message->params);
}

void EventManagerDecChunk::uploadRealtimeData(const ParamMapPtr& params) {
    if (!params) return;
    const paramBase* realtime = findParam(*params, ASR_ONLINE_PARAM_KEY_REALTIME_DATA);
    if (realtime == nullptr) return;
    const std::string text = realtime->valueString();
    if (text.empty()) return;
    VXS_LOG_DEBUG("[EventManagerDecChunk::uploadRealtimeData]Realtime-Data: %s", text.c_str());
    size_t length = 0;
    vxs_shared_ptr<char> packet = ASRRequestBuilder::buildChunkData(
        text.data(), text.size(), TYPE_UPLOAD_REALTIME_DATA, length);
    if (!packet) {
        VXS_LOG_ERROR("[EventManagerDecChunk::uploadRealtimeData] packet not built");
        return;
    }
    sendPacket(packet, length, false);
}

void EventManagerDecChunk::sendPacket(const vxs_shared_ptr<char>& packet, size_t length,
                                      bool isLast) {
    if (m_http_maker_up) m_http_maker_up->send_data(packet.getPTR(), length, isLast);
}

void EventManagerDecChunk::flushOutgoing() {
    std::vector<RecordData> packets;
    packets.swap(m_outgoing);
    if (packets.empty() || !m_isRunning) return;
    sendTogether(packets);
    AppLock lock(&m_sendDataMutex);
    m_reserve_data.insert(m_reserve_data.end(), packets.begin(), packets.end());
}

void EventManagerDecChunk::sendTogether(const std::vector<RecordData>& packets) {
    if (!m_http_maker_up || packets.empty()) return;
    const RecordData& first = packets.front();
    if (packets.size() == 1) {
        m_http_maker_up->send_data(first.pcm_data.getPTR(), first.data_len, first.last_flag);
        return;
    }
    size_t total = 0;
    for (const RecordData& record : packets) total += record.data_len;
    std::vector<char> joined;
    joined.reserve(total);
    for (const RecordData& record : packets) {
        joined.insert(joined.end(), record.pcm_data.getPTR(),
                      record.pcm_data.getPTR() + record.data_len);
    }
    m_http_maker_up->send_data(joined.data(), joined.size(), packets.back().last_flag);
}

void EventManagerDecChunk::resendReservedPackets() {
    std::vector<RecordData> packets;
    {
        AppLock lock(&m_sendDataMutex);
        packets = m_reserve_data;
    }
    sendTogether(packets);
}

// ---- engine.cancel ----

void EventManagerDecChunk::cancel(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedCommand>* command = static_cast<vxs_shared_ptr<QueuedCommand>*>(parameter);
    AppLock lock(&m_postURLMutex);
    if (!m_isRunning) return;
    bool userCancel = false;
    const ParamMapPtr params =
        command && command->getPTR() ? (*command)->message->params : ParamMapPtr();
    if (params) {
        if (const paramBase* flag = findParam(*params, kUserCancel)) {
            userCancel = flag->valueBool();
            VXS_LOG_INFO("[EventManagerDecChunk::cancel]user_cancel - %s",
                         userCancel ? "true" : "false");
        }
    }
    const bool tellService = userCancel && m_connected && !m_upload_finished;
    if (tellService) {
        uploadRealtimeData(params);
        size_t length = 0;
        vxs_shared_ptr<char> packet =
            ASRRequestBuilder::buildChunkData(nullptr, 0, TYPE_UPLOAD_CANCEL, length);
        // The cancel packet ends the body, so that it reaches the service
        // rather than being cut off with the aborted upload.
        if (packet) sendPacket(packet, length, true);
    }
    finishUtterance(tellService);
}

void EventManagerDecChunk::finishUtterance(bool keepUpload) {
    {
        // No result of the download may follow this.
        AppLock lock(&m_deliveryMutex);
        m_isRunning = false;
    }
    m_outgoing.clear();
    closeTransfers(keepUpload);
    AppLock lock(&m_sendDataMutex);
    m_reserve_data.clear();
}

// ---- HTTP reports ----

void EventManagerDecChunk::httpMakerCallback(vxs_shared_ptr<vxs_http_request_maker> maker,
                                             vxs_shared_ptr<vxs_HttpResponse> response,
                                             vxs_shared_ptr_base* userParam) {
    vxs_weak_ptr<EventManagerDecChunk>* weak =
        static_cast<vxs_weak_ptr<EventManagerDecChunk>*>(userParam);
    vxs_shared_ptr<EventManagerDecChunk> module =
        weak ? weak->getPTR() : vxs_shared_ptr<EventManagerDecChunk>();
    if (!module) {
        VXS_LOG_WARN("[httpMakerCallback]dec is NULL !!!");
        return;
    }
    if (!response) return;
    module->onHttpReport(maker.getPTR(), response);
}

void EventManagerDecChunk::onHttpReport(vxs_http_request_maker* maker,
                                        const vxs_shared_ptr<vxs_HttpResponse>& response) {
    if (!m_isRunning) return;
    bool fromDownload = false;
    bool fromUpload = false;
    vxs_shared_ptr<QueuedReport> report(new QueuedReport());
    report->response = response;
    {
        AppLock lock(&m_handleMutex);
        fromDownload = maker != nullptr && maker == m_http_maker_down.getPTR();
        fromUpload = maker != nullptr && maker == m_http_maker_up.getPTR();
        report->generation = m_connection_generation;
    }
    const Networking::HTTP_REQUEST_ERROR error = response->get_local_request_error();
    if (fromDownload) {
        if (error == Networking::HTTP_REQUEST_HTTPS_REQ_SUC) {
            queueTask(&EventManagerDecChunk::checkEnd, &report);
        } else if (error == Networking::HTTP_REQUEST_HTTPS_REQ_ERROR) {
            queueTask(&EventManagerDecChunk::retryConnection, &report);
        } else if (error == Networking::HTTP_REQUEST_OK &&
                   isSuccessStatus(response->get_http_status())) {
            receiveRecords(*response, report->generation);
        } else {
            queueTask(&EventManagerDecChunk::parseASRResp, &report);
        }
    } else if (fromUpload) {
        if (error == Networking::HTTP_REQUEST_HTTPS_REQ_SUC) {
            VXS_LOG_DEBUG("[httpMakerCallback]UPDATE CACHED IP");
            queueTask(&EventManagerDecChunk::updateCachedIP, &report);
        } else if (error == Networking::HTTP_REQUEST_OK &&
                   !isSuccessStatus(response->get_http_status())) {
            queueTask(&EventManagerDecChunk::reportUploadHttpError, &report);
        } else {
            VXS_LOG_DEBUG("[Dec_Chunk]httpMakerCallback: ignore callback from upload connection.");
        }
    }
}

bool EventManagerDecChunk::isCurrentConnection(uint64_t generation) {
    AppLock lock(&m_handleMutex);
    return generation == m_connection_generation;
}

void EventManagerDecChunk::checkEnd(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedReport>* report = static_cast<vxs_shared_ptr<QueuedReport>*>(parameter);
    if (report == nullptr || !report->getPTR() || !isCurrentConnection((*report)->generation))
        return;
    if (m_isRunning && !m_has_chunk_end) {
        reportError(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_LTV_PROTOCAL_UNFINISHED,
                    "LTV protocol unfinished");
    }
    m_has_chunk_end = false;
}

void EventManagerDecChunk::retryConnection(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedReport>* report = static_cast<vxs_shared_ptr<QueuedReport>*>(parameter);
    if (report == nullptr || !report->getPTR() || !m_isRunning ||
        !isCurrentConnection((*report)->generation)) {
        return;
    }
    if (_retry_connection_time >= 1) {
        handleResponse(*(*report)->response);
        return;
    }
    VXS_LOG_INFO("[httpMakerCallback]RETRY FROM DOWN");
    ++_retry_connection_time;
    AppLock lock(&m_postURLMutex);
    replaceTransfers();
    setupConnection();
    if (m_isRunning && m_connected) resendReservedPackets();
}

void EventManagerDecChunk::updateCachedIP(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedReport>* report = static_cast<vxs_shared_ptr<QueuedReport>*>(parameter);
    if (report == nullptr || !report->getPTR() || !m_isRunning ||
        !isCurrentConnection((*report)->generation)) {
        return;
    }
    if (m_dns_parsed_ip.empty()) return;
    ASRServerIP::getInstance()->set_cache_server_ip(m_dns_parsed_ip, m_cur_network_type,
                                                    m_serverURL);
    VXS_LOG_INFO("[updateCachedIP]Cached IP: %s", m_dns_parsed_ip.c_str());
}

void EventManagerDecChunk::reportUploadHttpError(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedReport>* report = static_cast<vxs_shared_ptr<QueuedReport>*>(parameter);
    if (report == nullptr || !report->getPTR() || !m_isRunning ||
        !isCurrentConnection((*report)->generation)) {
        return;
    }
    // Once every answer has arrived, how the upload ended changes nothing.
    if (m_has_chunk_end) return;
    const int32_t status = (*report)->response->get_http_status();
    reportError(DEC_ERROR_CODE_REMOTE_HTTP_CLASS, static_cast<int16_t>(status),
                "HTTP error: " + std::to_string(status));
}

void EventManagerDecChunk::parseASRResp(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<QueuedReport>* report = static_cast<vxs_shared_ptr<QueuedReport>*>(parameter);
    if (report == nullptr || !report->getPTR() || !m_isRunning ||
        !isCurrentConnection((*report)->generation)) {
        return;
    }
    handleResponse(*(*report)->response);
}

void EventManagerDecChunk::handleResponse(const vxs_HttpResponse& response) {
    const int32_t status = response.get_http_status();
    const Networking::HTTP_REQUEST_ERROR error = response.get_local_request_error();
    if (!isSuccessStatus(status)) {
        reportError(DEC_ERROR_CODE_REMOTE_HTTP_CLASS, static_cast<int16_t>(status),
                    "HTTP error: " + std::to_string(status));
        return;
    }
    if (error != Networking::HTTP_REQUEST_OK) {
        m_has_chunk_end = true;
        const std::string text =
            error == Networking::HTTP_REQUEST_TIMEOUT
                ? std::string("Local error while making HTTP request: timeout")
                : "Local error while making HTTP request: " + std::to_string(error) +
                      response.getErrorMessage();
        reportError(DEC_ERROR_CODE_LOCAL_HTTP_CLASS, static_cast<int16_t>(error), text);
    }
}

void EventManagerDecChunk::receiveRecords(const vxs_HttpResponse& response, uint64_t generation) {
    const size_t length = response.body_length();
    if (length == 0 || !response.get_response_data()) return;
    AppLock lock(&m_ResponseQueueMutex);
    if (generation != m_framedGeneration) {
        // Bytes left by an earlier connection are no part of this stream.
        if (m_ResponseQueue) m_ResponseQueue->reset();
        m_framedGeneration = generation;
        m_framingStopped = false;
    }
    if (m_framingStopped) return;
    if (!m_ResponseQueue || m_ResponseQueue->queueAudio(reinterpret_cast<const uint8_t*>(
                                                            response.get_response_data().getPTR()),
                                                        static_cast<int>(length)) < 0) {
        stopFraming(generation, DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                    "Failed to allocate buffers");
        return;
    }
    frameRecords(generation);
}

void EventManagerDecChunk::stopFraming(uint64_t generation, int16_t domain, int16_t code,
                                       const std::string& text) {
    m_framingStopped = true;
    if (m_ResponseQueue) m_ResponseQueue->reset();
    vxs_shared_ptr<StreamError> error(new StreamError());
    error->generation = generation;
    error->domain = domain;
    error->code = code;
    error->text = text;
    queueTask(&EventManagerDecChunk::endWithStreamError, &error);
}

void EventManagerDecChunk::endWithStreamError(vxs_shared_ptr_base* parameter) {
    vxs_shared_ptr<StreamError>* error = static_cast<vxs_shared_ptr<StreamError>*>(parameter);
    if (error == nullptr || !error->getPTR() || !m_isRunning ||
        !isCurrentConnection((*error)->generation)) {
        return;
    }
    reportError((*error)->domain, (*error)->code, (*error)->text);
}

void EventManagerDecChunk::frameRecords(uint64_t generation) {
    uint8_t header[DOWNLOAD_RECORD_HEADER_BYTES];
    while (m_isRunning) {
        if (m_ResponseQueue->readSamples(header, sizeof(header), false) <
            static_cast<int>(sizeof(header)))
            return;
        // 64-bit: a length near 2^32 must not wrap the record size.
        const uint64_t length = read_download_record_length(header);
        if (length == 0 || length > DOWNLOAD_RECORD_MAX_LENGTH) {
            VXS_LOG_ERROR("[Dec_Chunk]invalid record length %" PRIu64, length);
            stopFraming(generation, DEC_ERROR_CODE_SERVER_CLASS, ASR_LOCAL_PARSE_ERR_NO,
                        "[Dec_Chunk]invalid download record length " + std::to_string(length));
            return;
        }
        const uint32_t size = static_cast<uint32_t>(length + DOWNLOAD_RECORD_HEADER_BYTES);
        if (m_ResponseQueue->length() < static_cast<int>(size)) return;
        if (m_recordBuffer.size() < size) m_recordBuffer.resize(size);
        const int taken =
            m_ResponseQueue->dequeSamples(m_recordBuffer.data(), static_cast<int>(size), false);
        VXS_LOG_DEBUG("[Dec_Chunk]chunk_len:%u read_len:%u", size, static_cast<unsigned>(taken));
        if (taken != static_cast<int>(size)) return;
        if (!handleRecord(m_recordBuffer.data(), size, generation)) return;
    }
}

bool EventManagerDecChunk::handleRecord(const uint8_t* record, uint32_t size, uint64_t generation) {
    vxs_shared_ptr<ASRResult> result = ASRResult::alloc();
    if (!result) {
        stopFraming(generation, DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                    "Failed to allocate buffers");
        return false;
    }
    ASRResponse(0, reinterpret_cast<const char*>(record), size)
        .create_chunk_result(result.getPTR());
    // Any error number counts, whatever kind the parser gave the record.
    if (result->get_type() == EVR_RESULT_TYPE_ERROR || result->get_err_no() != 0) {
        m_has_chunk_end = true;
        stopFraming(generation, DEC_ERROR_CODE_SERVER_CLASS, result->get_err_no(),
                    result->get_err_desc());
        return false;
    }
    MessagePtr data = Message::make(DEC_CALLBACK_DATA);
    (*data->params)[kResult] = paramBase::box<vxs_shared_ptr<ASRResult>>(result);
    // Under the delivery lock, against an ending on the queue: a result
    // either goes before the utterance's finish or not at all.
    AppLock lock(&m_deliveryMutex);
    if (!m_isRunning || !isCurrentConnection(generation)) return false;
    if (result->get_type() == EVR_RESULT_TYPE_END) m_has_chunk_end = true;
    post(m_callback, data, 0);
    return true;
}

// ---- Events ----

void EventManagerDecChunk::reportError(int16_t domain, int16_t code, const std::string& text) {
    VXS_LOG_ERROR("[EventManagerDecChunk] error (%d, %d): %s", static_cast<int>(domain),
                  static_cast<int>(code), text.c_str());
    MessagePtr finish = Message::make(DEC_CALLBACK_FINISH);
    (*finish->params)[kError] = paramBase::box<int32_t>(encode_error(domain, code));
    (*finish->params)[kDescription] = paramBase::box<std::string>(text);
    {
        AppLock lock(&m_deliveryMutex);
        post(m_callback, finish, 0);
        m_isRunning = false;
    }
    finishUtterance(false);
}

void EventManagerDecChunk::postLog(const std::string& text) {
    VXS_LOG_INFO("[EventManagerDecChunk] %s", text.c_str());
    if (!m_enableFeedback) return;
    MessagePtr log = Message::make(DEC_CALLBACK_LOG);
    (*log->params)[kLog] = paramBase::box<std::string>(text);
    post(m_callback, log, 0);
}

}  // namespace vxs
