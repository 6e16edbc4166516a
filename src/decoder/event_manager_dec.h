// The online decoder of the single-request protocol. Every audio package of an
// utterance is encoded, wrapped with the parameter document into a multipart
// body and POSTed to the recognition service as a request of its own; the
// service's address is resolved once per utterance. Up to three requests are
// in flight at once. Answers are put back into package order (by the index
// the decoder gave the package, never by the index the server names), a good
// answer to a later package makes the outstanding earlier ones obsolete, and
// results go to the callback module in order as "dec.callback.data". Every
// failure is one "dec.callback.finish" (domain and code packed by
// encode_error) with a description; the decoder posts no success finish, the
// final result itself ends the utterance. A cancelled utterance is closed by
// one more request with a negative index (the "negative package"). A new
// start ends whatever the previous utterance still waits for; answers of an
// earlier utterance are ignored.
//
// Commands: "engine.start", "engine.data", "engine.stop" (does nothing),
// "engine.cancel"; other names are ignored. Events: "dec.callback.begin",
// "dec.callback.data", "dec.callback.finish", "dec.callback.log".
//
// Threading: send() may be called from any thread and only queues the command
// on m_managerMain, the module's serial queue, where every command and every
// answer is handled one at a time (so the result queue and the counters need
// no lock); a worker whose answer finds the queue idle runs it as the queue's
// task on its own thread (DispatchQueue::runTaskNowOrAsync). Requests run on
// m_postQueue (three workers, each blocked in one synchronous transfer); the
// negative package and the request timers run on the global pool.
// m_postURLMutex serialises the resolution and m_postURL;
// m_cancellationHandleListMutex (the small handle mutex) guards the start
// message, the token and its cancel flag, the running resolver and the
// requests in flight. Lock order: m_postURLMutex, then the handle mutex; the
// handle mutex is never held across a wait. "engine.cancel" ends a running
// resolution, a token wait and the requests in flight from send() itself,
// under the handle mutex only, so that it is never stuck behind them. Queued
// work holds the module weakly and no blocking call holds it strongly, so
// releasing the module destroys it promptly; the destructor cancels both
// queues, the resolution, the token wait and every request in flight.
#ifndef VXS_DECODER_EVENT_MANAGER_DEC_H
#define VXS_DECODER_EVENT_MANAGER_DEC_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "audio/audio_compression_type.h"
#include "audio/audio_encoder_base.h"
#include "audio/pcm_queue.h"
#include "core/event_manager.h"
#include "decoder/asr_post_task.h"
#include "decoder/asr_request_builder.h"
#include "decoder/asr_result.h"
#include "net/access_token.h"
#include "net/address_resolver.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_queue.h"
#include "threads/timer.h"

namespace vxs {

class EventManagerDec;
typedef Memory::vxs_shared_ptr<EventManagerDec> EventManagerDecPtr;

// Time limit of each recognition request (its own limit and its timer).
constexpr int kSingleRequestTimeoutMs = 15000;
// Time limit of the negative package.
constexpr int kNegativePackageTimeoutMs = 10000;

class EventManagerDec : public EventManager {
  public:
    // The only way to make the module; `callback` receives its events.
    static EventManagerDecPtr newEventManager(Memory::vxs_weak_ptr<Context> context,
                                              EventManagerWeakPtr callback);
    ~EventManagerDec() override;

    // Queues the command and returns; "engine.cancel" first interrupts the
    // utterance's blocking work (resolution, token wait, requests in flight).
    void send(MessagePtr& message) override;

    // The time limit of later recognition requests, in milliseconds (values
    // of 0 or less restore the default, kSingleRequestTimeoutMs). For hosts
    // and tests that need a shorter wait than the service's usual one.
    void set_request_timeout_ms(int timeoutMs);

    // Runs on the timer of one request: cancels it (the parameter holds a
    // weak reference to the request).
    static void timer_callback(Memory::vxs_shared_ptr_base* parameter);

  private:
    struct QueuedCommand;
    struct NegativePackage;
    struct PackageBuild;
    typedef void (EventManagerDec::*QueuedMethod)(Memory::vxs_shared_ptr_base* parameter);

    EventManagerDec(const Memory::vxs_weak_ptr<Context>& context,
                    const EventManagerWeakPtr& callback);

    // Runs `method` as a task of m_managerMain, at once on the calling thread
    // when the queue is idle.
    bool runAsQueueTask(QueuedMethod method, Memory::vxs_shared_ptr_base* parameter);
    // A command task: promotes the module and runs the handler.
    static void runCommand(Memory::vxs_shared_ptr_base* parameter);

    // Command handlers (on m_managerMain). processData lets the module go
    // while the body is built, which may wait for the access token.
    void start(const MessagePtr& message, uint64_t sequence);
    void stop(const MessagePtr& message);
    void cancel(const MessagePtr& message);
    static void processData(EventManagerDecPtr& self, const MessagePtr& message);

    // Start steps.
    void resetForStart(const MessagePtr& message, uint64_t sequence);
    // False when the parameters say the network is unavailable.
    bool readStartParameters(const ParamMap& params);
    bool encoderForCurrentAudioSetting();
    void computePackageSize();
    bool allocateBuffers();
    // The encoder output buffer holds the encoding of `pcmBytes` of PCM.
    bool growEncoderOutput(int pcmBytes);
    void stopRunning();
    void postBegin();

    // Package steps (on m_managerMain): nextPackage counts and encodes one
    // package (false when it is ignored); queuePackage hands the built body
    // to the request queue.
    bool nextPackage(const Message& message, PackageBuild& build);
    void queuePackage(const Message& message, PackageBuild& build);

    // Request steps (on an m_postQueue worker).
    static void makeASRReq(Memory::vxs_shared_ptr_base* parameter);
    // With m_postURLMutex held: m_postURL, resolving it first when empty. Lets
    // `self` go while it waits; false (nothing to send) when the utterance
    // ended meanwhile or the resolution failed (reported).
    static bool resolvedURL(EventManagerDecPtr& self, const ASRPostTask& task, std::string& url);
    static Memory::vxs_shared_ptr<Networking::vxs_HttpRequest> makeRequest(
        const std::string& url, const std::string& originURL, const std::string* userAgent,
        const Memory::vxs_shared_ptr<char>& body, uint32_t bodyLength, int64_t timeoutMs);
    // Records the request for cancelling; false when the utterance is over.
    bool registerRequest(const ASRPostTask& task,
                         const Memory::vxs_shared_ptr<Networking::vxs_HttpRequest>& request);
    static Memory::vxs_shared_ptr<Threads::Timer> armTimer(
        const Memory::vxs_shared_ptr<Networking::vxs_HttpRequest>& request, int timeoutMs);

    // Answers (as m_managerMain's tasks).
    void parseASRResp(Memory::vxs_shared_ptr_base* parameter);
    bool isStaleAnswer(const ASRResponseParseTask& task) const;
    Memory::vxs_shared_ptr<ASRResult> resultFromAnswer(const ASRResponseParseTask& task) const;
    void fillFromBody(const Networking::vxs_HttpResponse& response, int postIdx,
                      ASRResult& result) const;
    // An answer naming another index than its package's becomes an error.
    static void checkAnswerIndex(int postIdx, ASRResult& result);
    void deliverInOrder();

    bool is_talk_result() const;
    bool is_enabl_json_res() const;
    bool is_cn_result() const;
    static bool is_normal_result(const ASRResult& result);
    void queue_result(const Memory::vxs_shared_ptr<ASRResult>& result);
    Memory::vxs_shared_ptr<ASRResult> dequeResultWithIDX(int index) const;
    void dropResultsUpToIdx(int index);

    // Cancel steps. interruptBlockingWork ends the resolution, the token wait
    // and the requests in flight (takes the handle mutex).
    void interruptBlockingWork();
    int negativeIndex(bool userCancel) const;
    void queueNegativePackage(int negativeIdx, const std::string& url);
    static void send_negative_pkg(Memory::vxs_shared_ptr_base* parameter);

    // True while `generation` is the running utterance and no cancel is pending.
    bool isCurrent(uint64_t generation) const;
    // send() has seen an "engine.cancel" for the running start.
    bool cancelPending() const;

    void post_error_message(int16_t errorClass, int16_t code, const std::string& description);
    void post_log_message(const std::string& line);

    // Utterance state, touched only on m_managerMain unless noted.
    std::string m_cur_global_key;
    std::map<int, Memory::vxs_shared_ptr<ASRResult>> m_result_queue;
    TVXVoiceRecognitionAudioCompressionType m_audioEncoding;
    int m_audioSampleRateHz;
    int m_audioPackageSizeMilliSecond;
    Memory::vxs_shared_ptr<AudioEncoderBase> m_AudioEncoder;
    PCMQueuePtr m_AudioQueue;
    int m_audioPackageSizeBytes;
    // Read by the workers without a lock as a stop hint.
    std::atomic<bool> m_isRunning;
    std::atomic<bool> m_enableFeedback;
    int lastIdx;
    int m_nextExpectedReturnIndex;
    JsonDocumentPtr m_recycledRequest;
    // From the start parameters; written by start under m_postURLMutex and
    // read by the workers under it (or after it, unchanged until the next start).
    std::string m_serverURL;
    std::string m_protocol;  // "ptc.string": chooses the answer parser
    bool m_hasUserAgent = false;
    std::string m_userAgent;

    // Guarded by m_postURLMutex (shared, so that a worker waiting for the
    // resolution can hold it while the module goes away).
    std::string m_postURL;
    Memory::vxs_shared_ptr<Threads::Synchronization::AppMutex> m_postURLMutex;

    EventManagerWeakPtr m_callback;
    // Replaced on cancel; the handle itself is only touched on m_managerMain.
    Memory::vxs_shared_ptr<Threads::DispatchQueue> m_postQueue;
    Memory::vxs_shared_ptr<Threads::DispatchQueue> m_managerMain;
    Memory::vxs_shared_ptr<uint8_t> m_AudioDecoderOutput;
    int m_AudioDecoderOutputSize = 0;
    Memory::vxs_weak_ptr<EventManagerDec> selfPtrDec;

    // Guarded by m_cancellationHandleListMutex.
    Threads::Synchronization::AppMutex m_cancellationHandleListMutex{false};
    MessagePtr m_startMessage;
    Memory::vxs_shared_ptr<Networking::vxs_AccessToken> m_startToken;
    // The token wait's cancel flag, a new one per utterance: a flag handed to
    // a wait is only ever written by the token, under the token's lock.
    Memory::vxs_shared_ptr<bool> m_accessTokenCancelHandle;
    Memory::vxs_weak_ptr<Networking::vxs_address_resolver> m_runningResolver;
    std::vector<Memory::vxs_weak_ptr<Networking::vxs_HttpRequest>> m_runningRequests;
    uint64_t m_startsSent;   // starts numbered by send()
    int m_packagesSent = 0;  // requests of the running start that went out

    // The number of the running start, and the last start send() saw a
    // cancel for (cancelPending when it is not below the running one).
    std::atomic<uint64_t> m_generation;
    std::atomic<uint64_t> m_cancelledThrough;
    std::atomic<int> m_requestTimeoutMs;
};

}  // namespace vxs

#endif  // VXS_DECODER_EVENT_MANAGER_DEC_H
