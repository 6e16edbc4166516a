#include "decoder/event_manager_dec.h"

#include <cstdlib>
#include <new>
#include <utility>

#include "audio/audio_encoder_factory.h"
#include "core/common_keys.h"
#include "core/error_code.h"
#include "core/log.h"
#include "core/time_util.h"
#include "decoder/asr_response.h"
#include "decoder/decoder_message_keys.h"
#include "decoder/request_keys.h"
#include "net/http_request_maker.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"
#include "threads/timer.h"

namespace vxs {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Memory::vxs_weak_ptr;
using Networking::vxs_AccessToken;
using Networking::vxs_address_resolver;
using Networking::vxs_http_request_maker;
using Networking::vxs_HttpRequest;
using Networking::vxs_HttpResponse;
using Threads::newMethodTask;
using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

using DecoderMessageKeys::kDescription;
using DecoderMessageKeys::kError;
using DecoderMessageKeys::kFrameSize;
using DecoderMessageKeys::kLast;
using DecoderMessageKeys::kLog;
using DecoderMessageKeys::kPackageSize;
using DecoderMessageKeys::kResult;
using DecoderMessageKeys::kUserCancel;

namespace {

const char* const kNegativeIdxKey = "NEGATIVE_IDX_FOR_MANAGER_DEC";
const char* const kNegativeUrlKey = "NEGATIVE_URL_FOR_MANAGER_DEC";

constexpr int kResolveTimeLimitMs = 15000;
constexpr int kRequestWorkers = 3;
// A package longer than this is a configuration mistake, not a request for a
// buffer of that size.
constexpr int kMaxPackageMilliseconds = 60000;

std::string stringParam(const ParamMap& params, const char* key) {
    const paramBase* value = findParam(params, key);
    return value ? value->valueString() : std::string();
}

bool isSuccessStatus(int32_t status) { return status >= 200 && status <= 299; }

int absoluteIndex(int index) { return index < 0 ? -index : index; }

std::string contentTypeHeader() {
    return std::string("multipart/form-data; boundary=") + ASR_REQUEST_CONTENT_BOUNDARY;
}

template <class T>
T* taskParameter(vxs_shared_ptr_base* parameter) {
    auto* holder = static_cast<vxs_shared_ptr<T>*>(parameter);
    return holder ? holder->getPTR() : nullptr;
}

// A failed transfer that produced no response object at all.
vxs_shared_ptr<vxs_HttpResponse> failedResponse() {
    vxs_shared_ptr<vxs_HttpResponse> response = vxs_HttpResponse::alloc();
    if (response) {
        response->set_http_status(0);
        response->set_local_request_error(Networking::HTTP_REQUEST_HTTPS_REQ_ERROR);
    }
    return response;
}

}  // namespace

// A command and, for a start, the number send() gave it.
struct EventManagerDec::QueuedCommand {
    vxs_weak_ptr<EventManagerDec> decoder;
    MessagePtr message;
    uint64_t startSequence = 0;
};

// What the negative package needs once the utterance is gone: a copy of the
// parameters (the start message's map may already serve the next utterance)
// carrying the index and the URL, and the server's real name for TLS.
struct EventManagerDec::NegativePackage {
    ParamMapPtr params;
    std::string originURL;
    bool hasUserAgent = false;
    std::string userAgent;
};

// One package on its way from the message to the request queue.
struct EventManagerDec::PackageBuild {
    int idx = 0;
    vxs_shared_ptr<uint8_t> encoded;  // keeps the encoder output alive during the build
    int encodedLength = 0;
    ParamMapPtr params;
    JsonDocumentPtr recycled;
    vxs_shared_ptr<bool> cancelFlag;
    uint64_t generation = 0;
    vxs_shared_ptr<char> body;
    size_t bodyLength = 0;
    RequestBuildError error;
};

// ---- Construction, commands ----

EventManagerDecPtr EventManagerDec::newEventManager(Memory::vxs_weak_ptr<Context> context,
                                                    EventManagerWeakPtr callback) {
    EventManagerDecPtr module = adoptModule(new EventManagerDec(context, callback));
    if (module) module->selfPtrDec = module;
    return module;
}

EventManagerDec::EventManagerDec(const Memory::vxs_weak_ptr<Context>& context,
                                 const EventManagerWeakPtr& callback)
    : EventManager(context),
      m_audioEncoding(EVR_AUDIO_COMPRESSION_BV32),
      m_audioSampleRateHz(16000),
      m_audioPackageSizeMilliSecond(160),
      m_AudioQueue(PCMQueue::newQueue(0)),
      m_audioPackageSizeBytes(0),
      m_isRunning(false),
      m_enableFeedback(false),
      lastIdx(0),
      m_nextExpectedReturnIndex(1),
      m_postURLMutex(new AppMutex(false)),
      m_callback(callback),
      m_postQueue(Threads::DispatchQueue::alloc(kRequestWorkers)),
      m_managerMain(Threads::DispatchQueue::alloc(1)),
      m_startsSent(0),
      m_generation(0),
      m_cancelledThrough(0),
      m_requestTimeoutMs(kSingleRequestTimeoutMs) {}

EventManagerDec::~EventManagerDec() {
    if (m_managerMain) m_managerMain->cancel();
    if (m_postQueue) m_postQueue->cancel();
    // Nothing may keep resolving, waiting for a token or sending for a module
    // that is gone.
    m_isRunning = false;
    interruptBlockingWork();
}

void EventManagerDec::set_request_timeout_ms(int timeoutMs) {
    m_requestTimeoutMs = timeoutMs > 0 ? timeoutMs : kSingleRequestTimeoutMs;
}

void EventManagerDec::send(MessagePtr& message) {
    if (!message) return;
    const std::string& name = message->name;
    if (name != DEC_CMD_START && name != DEC_CMD_DATA && name != DEC_CMD_STOP &&
        name != DEC_CMD_CANCEL)
        return;
    vxs_shared_ptr<QueuedCommand> command(new QueuedCommand());
    command->decoder = selfPtrDec;
    command->message = message;
    if (name == DEC_CMD_START) {
        AppLock lock(&m_cancellationHandleListMutex);
        command->startSequence = ++m_startsSent;
    } else if (name == DEC_CMD_CANCEL) {
        {
            // Every start sent so far is cancelled, even one still queued.
            AppLock lock(&m_cancellationHandleListMutex);
            m_cancelledThrough = m_startsSent;
        }
        interruptBlockingWork();
    }
    if (!m_managerMain || !m_managerMain->runTaskAsync(
                              newMethodTask(&EventManagerDec::runCommand, &command, nullptr))) {
        VXS_LOG_WARN("[EventManagerDec::send] queue refused %s", name.c_str());
    }
}

bool EventManagerDec::runAsQueueTask(QueuedMethod method, vxs_shared_ptr_base* parameter) {
    // The calling worker would only wait for the task's turn: on an idle
    // queue it runs the task itself.
    return m_managerMain &&
           m_managerMain->runTaskNowOrAsync(
               new Threads::ASRDispatchTaskWithWeakPointer<EventManagerDec>(selfPtrDec, method,
                                                                            parameter));
}

void EventManagerDec::runCommand(vxs_shared_ptr_base* parameter) {
    QueuedCommand* command = taskParameter<QueuedCommand>(parameter);
    if (command == nullptr || !command->message) return;
    EventManagerDecPtr self = command->decoder.getPTR();
    if (!self) return;
    const std::string& name = command->message->name;
    if (name == DEC_CMD_START) {
        self->start(command->message, command->startSequence);
    } else if (name == DEC_CMD_DATA) {
        processData(self, command->message);
    } else if (name == DEC_CMD_STOP) {
        self->stop(command->message);
    } else if (name == DEC_CMD_CANCEL) {
        self->cancel(command->message);
    }
}

bool EventManagerDec::isCurrent(uint64_t generation) const {
    return m_isRunning && generation == m_generation && !cancelPending();
}

bool EventManagerDec::cancelPending() const { return m_cancelledThrough >= m_generation; }

// ---- Start ----

void EventManagerDec::start(const MessagePtr& message, uint64_t sequence) {
    // Whatever the previous utterance still waits for is obsolete now.
    interruptBlockingWork();
    AppLock urlLock(m_postURLMutex.getPTR());
    resetForStart(message, sequence);
    const ParamMap& params = *message->params;
    if (!readStartParameters(params)) {
        stopRunning();
        post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_NET_UNAVAILABLE,
                           "Network unavailable");
        return;
    }
    if (!encoderForCurrentAudioSetting()) {
        stopRunning();
        post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                           "Failed to create audio encoder");
        return;
    }
    computePackageSize();
    if (!allocateBuffers()) {
        stopRunning();
        post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                           "Failed to allocate buffers");
    }
    postBegin();
}

void EventManagerDec::resetForStart(const MessagePtr& message, uint64_t sequence) {
    if (!message->params) message->params = newParamMap();
    {
        AppLock lock(&m_cancellationHandleListMutex);
        m_startMessage = message;
        m_startToken = vxs_shared_ptr<vxs_AccessToken>();
        if (const paramBase* token = findParam(*message->params, ASR_ONLINE_PARAM_KEY_TOK)) {
            if (const auto* held = token->get<vxs_shared_ptr<vxs_AccessToken>>())
                m_startToken = *held;
        }
        // A cancel already sent for this start makes every token wait return at once.
        m_accessTokenCancelHandle = vxs_shared_ptr<bool>(new bool(m_cancelledThrough >= sequence));
        m_runningRequests.clear();
        m_packagesSent = 0;
    }
    m_generation = sequence;
    lastIdx = 0;
    m_nextExpectedReturnIndex = 1;
    m_result_queue.clear();
    m_recycledRequest = JsonDocumentPtr();
    m_postURL.clear();
    m_isRunning = true;
    m_audioEncoding = EVR_AUDIO_COMPRESSION_BV32;
    m_audioSampleRateHz = 16000;
    m_audioPackageSizeMilliSecond = 160;
    if (m_AudioQueue) m_AudioQueue->reset();
    m_enableFeedback = false;
}

bool EventManagerDec::readStartParameters(const ParamMap& params) {
    const paramBase* network = findParam(params, ASR_ONLINE_PARAM_KEY_NET_INT);
    if (network && network->valueInt() == 0) return false;
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
    m_serverURL = stringParam(params, ASR_ONLINE_PARAM_KEY_SERVER_URL);
    m_protocol = stringParam(params, ASR_ONLINE_PARAM_KEY_PTC_STRING);
    m_hasUserAgent = findParam(params, ASR_ONLINE_PARAM_KEY_BROWER_UA_STRING) != nullptr;
    m_userAgent = stringParam(params, ASR_ONLINE_PARAM_KEY_BROWER_UA_STRING);
    return true;
}

bool EventManagerDec::encoderForCurrentAudioSetting() {
    m_AudioEncoder = createAudioEncoder(m_audioEncoding, m_audioSampleRateHz);
    return static_cast<bool>(m_AudioEncoder);
}

void EventManagerDec::computePackageSize() {
    int milliseconds = m_audioPackageSizeMilliSecond;
    if (milliseconds < 0) milliseconds = 0;
    if (milliseconds > kMaxPackageMilliseconds) milliseconds = kMaxPackageMilliseconds;
    int size = static_cast<int>(m_audioSampleRateHz * (milliseconds / 1000.0) * 2);
    const int frame = m_AudioEncoder->getEncoderFrameSize_bytes();
    if (frame > 0 && (size == 0 || size % frame != 0)) size += frame - (size % frame);
    m_audioPackageSizeBytes = size;
}

bool EventManagerDec::allocateBuffers() { return growEncoderOutput(m_audioPackageSizeBytes); }

bool EventManagerDec::growEncoderOutput(int pcmBytes) {
    const int needed = pcmBytes + kAudioEncoderHeaderBytes;
    if (m_AudioDecoderOutput && m_AudioDecoderOutputSize >= needed) return true;
    uint8_t* buffer = new (std::nothrow) uint8_t[static_cast<size_t>(needed)];
    if (buffer == nullptr) return false;
    m_AudioDecoderOutput = vxs_shared_ptr<uint8_t>(buffer);
    m_AudioDecoderOutput.setCustomDestructor(&vxs_shared_ptr<uint8_t>::arrayDestructor);
    m_AudioDecoderOutputSize = needed;
    return true;
}

void EventManagerDec::stopRunning() {
    m_isRunning = false;
    m_postURL.clear();
}

void EventManagerDec::postBegin() {
    MessagePtr begin = Message::make(DEC_CALLBACK_BEGIN);
    (*begin->params)[kPackageSize] = paramBase::box<int>(m_audioPackageSizeBytes);
    (*begin->params)[kFrameSize] = paramBase::box<int>(m_AudioEncoder->getEncoderFrameSize_bytes());
    post(m_callback, begin, 0);
}

void EventManagerDec::stop(const MessagePtr&) {
    // The last package ends an utterance; there is nothing to flush.
}

// ---- Packages ----

void EventManagerDec::processData(EventManagerDecPtr& self, const MessagePtr& message) {
    PackageBuild build;
    if (!self->nextPackage(*message, build)) return;
    // The build may wait for the access token: the module must stay free to go
    // meanwhile (its destructor ends the wait).
    vxs_weak_ptr<EventManagerDec> weak(self);
    self = EventManagerDecPtr();
    const char* audio =
        build.encodedLength > 0 ? reinterpret_cast<const char*>(build.encoded.getPTR()) : nullptr;
    build.body = ASRRequestBuilder::buildRequest(
        audio, static_cast<size_t>(build.encodedLength), build.bodyLength, build.idx, build.params,
        build.recycled, build.error, build.cancelFlag.getPTR());
    self = weak.getPTR();
    if (!self) return;
    self->queuePackage(*message, build);
}

bool EventManagerDec::nextPackage(const Message& message, PackageBuild& build) {
    if (!m_isRunning || lastIdx < 0 || cancelPending() || !m_startMessage) return false;
    const paramBase* last = message.params ? findParam(*message.params, kLast) : nullptr;
    lastIdx = (last && last->valueBool()) ? -(lastIdx + 1) : lastIdx + 1;
    build.idx = lastIdx;
    build.generation = m_generation;
    build.params = m_startMessage->params;
    build.recycled = m_recycledRequest;
    build.cancelFlag = m_accessTokenCancelHandle;
    if (message.length == 0 || !message.data) return true;

    const int length = static_cast<int>(message.length);
    if (!growEncoderOutput(length)) {
        post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                           "Failed to allocate buffers");
        return true;
    }
    const int encoded = m_AudioEncoder->encodeSamples(
        reinterpret_cast<const uint8_t*>(message.data.getPTR()), length,
        m_AudioDecoderOutput.getPTR(), m_AudioDecoderOutputSize);
    if (encoded < 0) {
        // The package still goes out (without audio) so that the service sees
        // every index of the utterance; the failure itself is reported.
        VXS_LOG_ERROR("[EventManagerDec::processData] encoding package %d failed: %d", build.idx,
                      encoded);
        post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                           "Failed to encode audio package: " + std::to_string(encoded));
        return true;
    }
    build.encoded = m_AudioDecoderOutput;
    build.encodedLength = encoded;
    return true;
}

void EventManagerDec::queuePackage(const Message& message, PackageBuild& build) {
    m_recycledRequest = build.recycled;
    if (build.generation != m_generation || !m_isRunning) return;
    if (cancelPending()) {
        // Cancelled while the body was built (a token wait ended by the
        // cancel): the package is not sent, and its failure is the cancel's,
        // not an error to report.
        return;
    }
    if (!build.body) {
        VXS_LOG_FATAL("NULL payload: %s", build.error.description.c_str());
        post_error_message(build.error.domain, build.error.code, build.error.description);
        return;
    }
    m_cur_global_key = stringParam(*build.params, ASR_ONLINE_PARAM_KEY_SN_STRING);
    vxs_shared_ptr<ASRPostTask> task(new ASRPostTask());
    task->postData = build.body;
    task->dataLen = static_cast<uint32_t>(build.bodyLength);
    task->postIdx = build.idx;
    task->AudioOffset = message.offset;
    task->AudioLength = message.length;
    task->global_key = m_cur_global_key;
    task->generation = build.generation;
    task->decoder = selfPtrDec;
    if (!m_postQueue ||
        !m_postQueue->runTaskAsync(newMethodTask(&EventManagerDec::makeASRReq, &task, nullptr))) {
        VXS_LOG_ERROR("[EventManagerDec::processData] request queue refused package %d", build.idx);
    }
}

// ---- Requests ----

void EventManagerDec::makeASRReq(vxs_shared_ptr_base* parameter) {
    const ASRPostTask* task = taskParameter<ASRPostTask>(parameter);
    if (task == nullptr) return;
    EventManagerDecPtr self = task->decoder.getPTR();
    if (!self) return;

    std::string url;
    std::string origin;
    std::string agent;
    bool hasAgent = false;
    {
        // Held through the resolution so that one request resolves and the
        // others wait for its answer; the mutex outlives the module if need be.
        vxs_shared_ptr<AppMutex> urlMutex = self->m_postURLMutex;
        AppLock urlLock(urlMutex.getPTR());
        if (!self->isCurrent(task->generation)) return;
        if (!resolvedURL(self, *task, url)) return;
        // Copied under the lock: a new start may replace them.
        origin = self->m_serverURL;
        hasAgent = self->m_hasUserAgent;
        agent = self->m_userAgent;
    }

    const int timeoutMs = self->m_requestTimeoutMs;
    vxs_shared_ptr<vxs_HttpRequest> request = makeRequest(url, origin, hasAgent ? &agent : nullptr,
                                                          task->postData, task->dataLen, timeoutMs);
    if (!request) {
        self->post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_EXCEPTION,
                                 "Failed to create HTTP request");
        return;
    }
    vxs_shared_ptr<ASRResponseParseTask> parse(new ASRResponseParseTask());
    parse->postIdx = task->postIdx;
    parse->AudioOffset = task->AudioOffset;
    parse->AudioLength = task->AudioLength;
    parse->global_key = task->global_key;
    parse->generation = task->generation;
    if (!self->registerRequest(*task, request)) return;

    vxs_shared_ptr<Threads::Timer> timer = armTimer(request, timeoutMs);
    // No strong reference during the transfer: a released module is destroyed
    // at once, and its destructor aborts this request.
    vxs_weak_ptr<EventManagerDec> weak(self);
    self = EventManagerDecPtr();
    vxs_shared_ptr<vxs_HttpResponse> response = vxs_http_request_maker::execute(request);
    if (timer) timer->cancel();
    self = weak.getPTR();
    if (!self) return;

    if (!response) response = failedResponse();
    if (!response) return;
    // While the utterance runs, only the timer aborts a request.
    if (self->isCurrent(task->generation) &&
        response->get_local_request_error() == Networking::HTTP_REQUEST_ABORTED) {
        response->set_local_request_error(Networking::HTTP_REQUEST_TIMEOUT);
    }
    parse->response = response;
    if (!self->runAsQueueTask(&EventManagerDec::parseASRResp, &parse)) {
        VXS_LOG_WARN("[EventManagerDec::makeASRReq] answer to package %d dropped", task->postIdx);
    }
}

bool EventManagerDec::resolvedURL(EventManagerDecPtr& self, const ASRPostTask& task,
                                  std::string& url) {
    if (!self->m_postURL.empty()) {
        url = self->m_postURL;
        return true;
    }
    vxs_shared_ptr<vxs_address_resolver> resolver = vxs_address_resolver::allocate();
    {
        AppLock lock(&self->m_cancellationHandleListMutex);
        if (!self->isCurrent(task.generation)) return false;
        self->m_runningResolver = resolver;
    }
    const std::string server = self->m_serverURL;
    const uint64_t began = get_current_time();
    vxs_shared_ptr<char> resolved;
    Networking::vxs_addr_resolve_error error = Networking::VXS_ADDR_RESOLVE_PREPARE_FAIL;
    {
        vxs_weak_ptr<EventManagerDec> weak(self);
        self = EventManagerDecPtr();
        if (resolver)
            error = resolver->resolveAddressFromHost(server.c_str(), &resolved, kResolveTimeLimitMs,
                                                     nullptr);
        self = weak.getPTR();
    }
    if (!self) return false;
    const long long elapsed = static_cast<long long>(get_current_time() - began);
    {
        AppLock lock(&self->m_cancellationHandleListMutex);
        self->m_runningResolver = vxs_weak_ptr<vxs_address_resolver>();
    }
    // A resolution ended by a cancel (or a new start) is not a failure to report.
    if (error == Networking::VXS_ADDR_RESOLVE_CANCELLED || !self->isCurrent(task.generation))
        return false;

    const char* address = resolved.getPTR();
    if (error != Networking::VXS_ADDR_RESOLVE_OK || address == nullptr || address[0] == '\0') {
        char line[64];
        snprintf(line, sizeof(line), "&error=%d&time=%lld&sn=", static_cast<int>(error), elapsed);
        self->post_log_message("type=dns&domain=" + server + line + task.global_key);
        self->stopRunning();
        self->post_error_message(DEC_ERROR_CODE_CLASS, DEC_ERROR_CODE_RESOLVE_URL_FAILED,
                                 "Address resolution failed for " + server);
        return false;
    }
    char timing[48];
    snprintf(timing, sizeof(timing), "&time=%lld&sn=", elapsed);
    self->post_log_message("type=dns&domain=" + server + "&error=0&ip=" + address + timing +
                           task.global_key);
    VXS_LOG_DEBUG("Resolved %s as %s", server.c_str(), address);
    self->m_postURL = address;
    url = self->m_postURL;
    return true;
}

vxs_shared_ptr<vxs_HttpRequest> EventManagerDec::makeRequest(
    const std::string& url, const std::string& originURL, const std::string* userAgent,
    const vxs_shared_ptr<char>& body, uint32_t bodyLength, int64_t timeoutMs) {
    vxs_shared_ptr<vxs_HttpRequest> request = vxs_HttpRequest::requestWithUrl(url);
    if (!request) return request;
    // The connection goes to the resolved address while TLS (SNI, certificate
    // check) and the Host header keep the server's real name.
    request->_origin_URL = originURL;
    request->_METHOD = Networking::HTTP_REQUEST_METHOD_POST;
    request->_TIMEOUT_MS = timeoutMs;
    request->_BODY_DATA = body;
    request->_BODY_LENGTH = static_cast<int64_t>(bodyLength);
    request->_HEADER_LIST["Content-Type"] = contentTypeHeader();
    if (userAgent != nullptr) request->_HEADER_LIST["User-Agent"] = *userAgent;
    return request;
}

bool EventManagerDec::registerRequest(const ASRPostTask& task,
                                      const vxs_shared_ptr<vxs_HttpRequest>& request) {
    AppLock lock(&m_cancellationHandleListMutex);
    // After an "engine.cancel" nothing more goes out, so the count below is
    // exact when the cancel is handled.
    if (!isCurrent(task.generation)) return false;
    ++m_packagesSent;
    for (auto& slot : m_runningRequests) {
        if (!slot.getPTR()) {
            slot = request;
            return true;
        }
    }
    m_runningRequests.push_back(request);
    return true;
}

vxs_shared_ptr<Threads::Timer> EventManagerDec::armTimer(
    const vxs_shared_ptr<vxs_HttpRequest>& request, int timeoutMs) {
    vxs_weak_ptr<vxs_HttpRequest> target(request);
    vxs_shared_ptr<Threads::ASRDispatchTaskBase> task(
        newMethodTask(&EventManagerDec::timer_callback, &target, nullptr));
    return Threads::Timer::createTimerWithTask(task, timeoutMs, false);
}

void EventManagerDec::timer_callback(vxs_shared_ptr_base* parameter) {
    auto* target = static_cast<vxs_weak_ptr<vxs_HttpRequest>*>(parameter);
    if (target == nullptr) return;
    if (vxs_shared_ptr<vxs_HttpRequest> request = target->getPTR()) request->cancel();
}

// ---- Answers ----

void EventManagerDec::parseASRResp(vxs_shared_ptr_base* parameter) {
    const ASRResponseParseTask* task = taskParameter<ASRResponseParseTask>(parameter);
    if (task == nullptr || !task->response) return;
    if (isStaleAnswer(*task)) {
        VXS_LOG_DEBUG("[EventManagerDec::parseASRResp]old package");
        return;
    }
    const vxs_HttpResponse& response = *task->response;
    VXS_LOG_DEBUG("Response: %d, %s, %d, %d", task->postIdx, response.get_response_data().getPTR(),
                  static_cast<int>(response.get_http_status()),
                  static_cast<int>(response.get_local_request_error()));
    vxs_shared_ptr<ASRResult> result = resultFromAnswer(*task);
    if (!result) return;
    if (is_normal_result(*result)) {
        // A good answer makes the answers still outstanding for earlier
        // packages obsolete.
        m_nextExpectedReturnIndex = absoluteIndex(result->_index);
        dropResultsUpToIdx(absoluteIndex(result->_index) - 1);
    }
    queue_result(result);
    deliverInOrder();
}

bool EventManagerDec::isStaleAnswer(const ASRResponseParseTask& task) const {
    return !m_isRunning || task.generation != m_generation || cancelPending() ||
           absoluteIndex(task.postIdx) < m_nextExpectedReturnIndex ||
           task.global_key != m_cur_global_key;
}

vxs_shared_ptr<ASRResult> EventManagerDec::resultFromAnswer(
    const ASRResponseParseTask& task) const {
    vxs_shared_ptr<ASRResult> result = ASRResult::alloc();
    if (!result) return result;
    result->_index = task.postIdx;
    const vxs_HttpResponse& response = *task.response;
    const int32_t status = response.get_http_status();
    const int32_t localError = response.get_local_request_error();
    if (isSuccessStatus(status)) {
        if (localError != 0) {
            result->m_localError = localError;
        } else if (status == 200) {
            fillFromBody(response, task.postIdx, *result);
        }
    } else {
        // Status 0 (no answer at all) leaves no HTTP error: the local error
        // tells what happened.
        result->m_httpError = status;
        result->m_localError = localError;
    }
    return result;
}

void EventManagerDec::fillFromBody(const vxs_HttpResponse& response, int postIdx,
                                   ASRResult& result) const {
    ASRResponse answer(postIdx, response.get_response_data().getPTR(),
                       static_cast<uint32_t>(response.body_length()));
    if (is_talk_result()) {
        answer.create_talk_result(&result);
    } else if (is_enabl_json_res()) {
        answer.create_json_res_result(&result);
    } else if (is_cn_result()) {
        answer.create_cn_result(&result);
    } else {
        answer.create_nbest_result(&result);
    }
    checkAnswerIndex(postIdx, result);
}

void EventManagerDec::checkAnswerIndex(int postIdx, ASRResult& result) {
    // Order comes from our own package index; an answer naming another index
    // belongs to no package we know of.
    if (result._type != EVR_RESULT_TYPE_ERROR && result._index != postIdx) {
        result._err_no = ASR_LOCAL_PARSE_ERR_NO;
        result._err_desc = "[EventManagerDec::parseASRResp] answer idx " +
                           std::to_string(result._index) + " does not match package idx " +
                           std::to_string(postIdx);
        result._type = EVR_RESULT_TYPE_ERROR;
    }
    result._index = postIdx;
}

void EventManagerDec::deliverInOrder() {
    for (vxs_shared_ptr<ASRResult> result = dequeResultWithIDX(m_nextExpectedReturnIndex); result;
         result = dequeResultWithIDX(m_nextExpectedReturnIndex)) {
        m_nextExpectedReturnIndex += 1;
        if (result->m_httpError != 0) {
            post_error_message(DEC_ERROR_CODE_REMOTE_HTTP_CLASS,
                               static_cast<int16_t>(result->m_httpError),
                               "HTTP error: " + std::to_string(result->m_httpError));
            return;
        }
        if (result->m_localError != 0) {
            const std::string what = result->m_localError == Networking::HTTP_REQUEST_TIMEOUT
                                         ? std::string("timeout")
                                         : std::to_string(result->m_localError);
            post_error_message(DEC_ERROR_CODE_LOCAL_HTTP_CLASS,
                               static_cast<int16_t>(result->m_localError),
                               "Local error while making HTTP request: " + what);
            continue;
        }
        if (result->_type == EVR_RESULT_TYPE_ERROR) {
            post_error_message(DEC_ERROR_CODE_SERVER_CLASS, result->_err_no, result->_err_desc);
            return;
        }
        MessagePtr data = Message::make(DEC_CALLBACK_DATA);
        (*data->params)[kResult] = paramBase::box<vxs_shared_ptr<ASRResult>>(result);
        post(m_callback, data, 0);
    }
}

bool EventManagerDec::is_talk_result() const {
    return std::atoi(m_protocol.c_str()) == EPROTOCOL_TALK_PROTOCOL;
}

bool EventManagerDec::is_enabl_json_res() const {
    return std::atoi(m_protocol.c_str()) >= EPROTOCOL_KELP_PROTOCOL;
}

bool EventManagerDec::is_cn_result() const { return m_protocol == "101"; }

bool EventManagerDec::is_normal_result(const ASRResult& result) {
    return result.m_localError == 0 && result.m_httpError == 0 &&
           result._type != EVR_RESULT_TYPE_ERROR;
}

void EventManagerDec::queue_result(const vxs_shared_ptr<ASRResult>& result) {
    m_result_queue[absoluteIndex(result->_index)] = result;
}

vxs_shared_ptr<ASRResult> EventManagerDec::dequeResultWithIDX(int index) const {
    auto found = m_result_queue.find(absoluteIndex(index));
    return found == m_result_queue.end() ? vxs_shared_ptr<ASRResult>() : found->second;
}

void EventManagerDec::dropResultsUpToIdx(int index) {
    m_result_queue.erase(m_result_queue.begin(), m_result_queue.upper_bound(absoluteIndex(index)));
}

// ---- Cancel ----

void EventManagerDec::cancel(const MessagePtr& message) {
    if (!m_isRunning) return;
    // Again here: a start queued before the cancel began its work after
    // send() had interrupted the previous one.
    interruptBlockingWork();
    AppLock urlLock(m_postURLMutex.getPTR());
    AppLock handleLock(&m_cancellationHandleListMutex);
    m_isRunning = false;
    m_cur_global_key.clear();
    if (m_AudioQueue) m_AudioQueue->reset();

    const paramBase* flag = message->params ? findParam(*message->params, kUserCancel) : nullptr;
    const bool userCancel = flag && flag->valueBool();
    VXS_LOG_INFO("[EventManagerDec::cancel]user_cancel - %s", userCancel ? "true" : "false");

    const int dropped = m_postQueue ? m_postQueue->cancel() : 0;
    m_postQueue = Threads::DispatchQueue::alloc(kRequestWorkers);
    m_runningRequests.clear();
    VXS_LOG_DEBUG("[EventManagerDec::cancel] %d packages sent, %d dropped, last index %d",
                  m_packagesSent, dropped, lastIdx);

    // Packages built but never sent (queued, or held back by the cancel), or
    // the last package not built yet: the service must be told the end.
    if (m_packagesSent < absoluteIndex(lastIdx) || lastIdx >= 0) {
        const int negative = negativeIndex(userCancel);
        if (negative != -1 && !m_postURL.empty()) {
            std::string url = std::move(m_postURL);
            m_postURL.clear();
            queueNegativePackage(negative, url);
        }
    } else {
        VXS_LOG_INFO("[EventManagerDec::cancel]no need one more negative package.");
        m_postURL.clear();
    }
}

void EventManagerDec::interruptBlockingWork() {
    AppLock lock(&m_cancellationHandleListMutex);
    if (vxs_shared_ptr<vxs_address_resolver> resolver = m_runningResolver.getPTR()) {
        VXS_LOG_DEBUG("CANCELLED_NAME_RESOLUTION");
        resolver->cancelResolution();
    }
    if (m_startToken && m_accessTokenCancelHandle) {
        m_startToken->cancelTokenWaitWithHandle(m_accessTokenCancelHandle.getPTR());
    }
    for (auto& slot : m_runningRequests) {
        if (vxs_shared_ptr<vxs_HttpRequest> request = slot.getPTR()) request->cancel();
    }
}

int EventManagerDec::negativeIndex(bool userCancel) const {
    // -(packages sent + 1), another -10000 for a user cancel.
    return -(m_packagesSent + 1) - (userCancel ? 10000 : 0);
}

void EventManagerDec::queueNegativePackage(int negativeIdx, const std::string& url) {
    vxs_shared_ptr<NegativePackage> package(new NegativePackage());
    package->params = ParamMapPtr(new ParamMap(*m_startMessage->params));
    vxs_shared_ptr<char> sharedURL = Memory::vxs_make_array<char>(url.size() + 1);
    url.copy(sharedURL.getPTR(), url.size());
    (*package->params)[kNegativeIdxKey] = paramBase::box<int>(negativeIdx);
    (*package->params)[kNegativeUrlKey] = paramBase::box<vxs_shared_ptr<char>>(sharedURL);
    package->originURL = m_serverURL;
    package->hasUserAgent = m_hasUserAgent;
    package->userAgent = m_userAgent;
    if (!Threads::GlobalThreadPool::instance()->runTaskAsync(&EventManagerDec::send_negative_pkg,
                                                             &package)) {
        VXS_LOG_ERROR("[EventManagerDec::cancel] negative package %d not queued", negativeIdx);
    }
}

void EventManagerDec::send_negative_pkg(vxs_shared_ptr_base* parameter) {
    NegativePackage* package = taskParameter<NegativePackage>(parameter);
    if (package == nullptr || !package->params) return;
    const paramBase* index = findParam(*package->params, kNegativeIdxKey);
    const paramBase* url = findParam(*package->params, kNegativeUrlKey);
    const vxs_shared_ptr<char>* address = url ? url->get<vxs_shared_ptr<char>>() : nullptr;
    if (index == nullptr || address == nullptr || !*address) return;

    size_t length = 0;
    JsonDocumentPtr recycled;
    RequestBuildError error;
    vxs_shared_ptr<char> body = ASRRequestBuilder::buildRequest(
        nullptr, 0, length, index->valueInt(), package->params, recycled, error, nullptr);
    if (!body) {
        VXS_LOG_ERROR("Final package NULL payload (%d, %d, %s)", error.domain, error.code,
                      error.description.c_str());
        return;
    }
    vxs_shared_ptr<vxs_HttpRequest> request =
        makeRequest(address->getPTR(), package->originURL,
                    package->hasUserAgent ? &package->userAgent : nullptr, body,
                    static_cast<uint32_t>(length), kNegativePackageTimeoutMs);
    // The service's answer to a closing package carries nothing for anyone.
    if (request) vxs_http_request_maker::execute(request);
}

// ---- Events ----

void EventManagerDec::post_error_message(int16_t errorClass, int16_t code,
                                         const std::string& description) {
    MessagePtr finish = Message::make(DEC_CALLBACK_FINISH);
    (*finish->params)[kError] = paramBase::box<int32_t>(encode_error(errorClass, code));
    (*finish->params)[kDescription] = paramBase::box<std::string>(description);
    post(m_callback, finish, 0);
}

void EventManagerDec::post_log_message(const std::string& line) {
    if (!m_enableFeedback) return;
    MessagePtr log = Message::make(DEC_CALLBACK_LOG);
    (*log->params)[kLog] = paramBase::box<std::string>(line);
    post(m_callback, log, 0);
}

}  // namespace vxs
