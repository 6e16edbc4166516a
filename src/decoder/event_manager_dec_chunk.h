// The streaming online decoder of the chunked protocol. For one utterance it
// opens two long-lived HTTPS connections to the recognition service: an
// upload ("/up?sn=") carrying the parameter packet, the encoded audio packets
// and the finish (or cancel) packet, and a download ("/down?sn=") on which the
// service streams result records back. Results go to the callback module as
// "dec.callback.data"; errors as one "dec.callback.finish" (domain and code
// packed by encode_error), after which the utterance is over.
//
// Commands: "engine.start", "engine.data", "engine.stop", "engine.cancel";
// other names are ignored. Events: "dec.callback.begin", "dec.callback.data",
// "dec.callback.finish", "dec.callback.log".
//
// Threading: send() may be called from any thread and only queues the command
// on the module's own serial queue, where every command and every HTTP report
// but one is handled, one at a time. The HTTP tasks call back on their own
// threads; the callback identifies the reporting task (against a snapshot
// taken under m_handleMutex) and queues the report, except for the
// download's bytes: those are framed and parsed on the download's thread and
// each result posted from there, so that it waits for no queue. A result is
// posted under m_deliveryMutex only while the utterance runs on the same
// connection, and the queue ends an utterance under that mutex, so no result
// follows its finish; a broken stream goes to the queue, which reports it.
// Lock order: m_postURLMutex or m_ResponseQueueMutex, then m_deliveryMutex,
// then m_handleMutex. m_handleMutex guards the task
// handles, the running resolver and the cancel bookkeeping that send() reads;
// an "engine.cancel" ends a running address resolution from send() itself,
// so it is never stuck behind a set-up on the queue. Destroying the module
// cancels its queue, both HTTP tasks and any resolution. Queued work holds the
// module only weakly, but a task that is running keeps it alive to its end:
// an owner that lets go during a set-up sends "engine.cancel" first.
#ifndef VXS_DECODER_EVENT_MANAGER_DEC_CHUNK_H
#define VXS_DECODER_EVENT_MANAGER_DEC_CHUNK_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_compression_type.h"
#include "audio/audio_encoder_base.h"
#include "audio/pcm_queue.h"
#include "core/event_manager.h"
#include "decoder/recognition_enums.h"
#include "net/address_resolver.h"
#include "net/http_request_maker.h"
#include "threads/app_mutex.h"
#include "threads/dispatch_queue.h"

namespace vxs {

class EventManagerDecChunk;
typedef Memory::vxs_shared_ptr<EventManagerDecChunk> EventManagerDecChunkPtr;

class EventManagerDecChunk : public EventManager {
  public:
    // The only way to make the module; `callback` receives its events.
    static EventManagerDecChunkPtr newEventManager(Memory::vxs_weak_ptr<Context> context,
                                                   EventManagerWeakPtr callback);
    ~EventManagerDecChunk() override;

    // Queues the command and returns; "engine.cancel" first ends a running
    // address resolution.
    void send(MessagePtr& message) override;

    // Makes the address resolvers of later set-ups; null restores the
    // system's. Process-wide, for tests that need a resolution to block or fail.
    typedef Memory::vxs_shared_ptr<Networking::vxs_address_resolver> (*ResolverFactory)();
    static void set_resolver_factory_for_tests(ResolverFactory factory);

    // How the HTTP tasks report; `userParam` is the module's weak self pointer.
    static void httpMakerCallback(Memory::vxs_shared_ptr<Networking::vxs_http_request_maker> maker,
                                  Memory::vxs_shared_ptr<Networking::vxs_HttpResponse> response,
                                  Memory::vxs_shared_ptr_base* userParam);

  private:
    // One packet sent on the upload of this utterance, kept so that a retried
    // connection can send it again.
    struct RecordData {
        Memory::vxs_shared_ptr<char> pcm_data;
        uint32_t data_len;
        bool last_flag;
    };
    struct QueuedCommand;
    struct QueuedReport;
    struct StreamError;
    typedef void (EventManagerDecChunk::*QueuedMethod)(Memory::vxs_shared_ptr_base* parameter);

    EventManagerDecChunk(const Memory::vxs_weak_ptr<Context>& context,
                         const EventManagerWeakPtr& callback);

    bool queueTask(QueuedMethod method, Memory::vxs_shared_ptr_base* parameter);

    // Command handlers (on the queue).
    void start(Memory::vxs_shared_ptr_base* parameter);
    void processData(Memory::vxs_shared_ptr_base* parameter);
    void stop(Memory::vxs_shared_ptr_base* parameter);
    void cancel(Memory::vxs_shared_ptr_base* parameter);

    // Start steps.
    void resetForStart(const MessagePtr& message);
    bool readStartParameters(const ParamMap& params);
    bool prepareEncoder();
    void postBegin();

    // Connection set-up and the HTTP tasks. setupConnection runs with
    // m_postURLMutex held by its caller.
    void setupConnection();
    void chooseAddress();
    bool resolveServerAddress();
    bool startTransfers();
    void sendParameterPacket();
    void replaceTransfers();
    void closeTransfers(bool keepUpload);
    // From send(): marks the starts sent so far as cancelled and ends a
    // running resolution.
    void cancelRunningResolution();
    // True when an "engine.cancel" sent after this utterance's start waits
    // on the queue.
    bool isCancelPending();
    // False when a cancel already covers this utterance; `resolver` may
    // come back empty when none could be made.
    bool registerResolver(Memory::vxs_shared_ptr<Networking::vxs_address_resolver>& resolver);
    void forgetResolver();

    // Upload packets.
    // The audio and finish packets go to m_outgoing, kept for a retry;
    // the others are sent at once and never sent again.
    void encodeAndSend(const uint8_t* pcm, uint32_t length);
    void sendFinishPacket();
    void uploadRealtimeData(const ParamMapPtr& params);
    void sendPacket(const Memory::vxs_shared_ptr<char>& packet, size_t length, bool isLast);
    // Hands the packets of m_outgoing to the upload and keeps them for a retry.
    void flushOutgoing();
    // One hand-over for any number of packets: each wakes the transfer thread.
    void sendTogether(const std::vector<RecordData>& packets);
    void resendReservedPackets();

    // HTTP reports: identified on the reporting thread, handled on the queue.
    void onHttpReport(Networking::vxs_http_request_maker* maker,
                      const Memory::vxs_shared_ptr<Networking::vxs_HttpResponse>& response);
    bool isCurrentConnection(uint64_t generation);
    void checkEnd(Memory::vxs_shared_ptr_base* parameter);
    void parseASRResp(Memory::vxs_shared_ptr_base* parameter);
    void retryConnection(Memory::vxs_shared_ptr_base* parameter);
    void updateCachedIP(Memory::vxs_shared_ptr_base* parameter);
    void reportUploadHttpError(Memory::vxs_shared_ptr_base* parameter);
    void handleResponse(const Networking::vxs_HttpResponse& response);
    // On the download's transfer thread, with m_ResponseQueueMutex held from
    // receiveRecords on: frames and parses the bytes and posts the results.
    void receiveRecords(const Networking::vxs_HttpResponse& response, uint64_t generation);
    void frameRecords(uint64_t generation);
    // False when the record was not delivered: the stream ended (an error
    // record) or the utterance is over.
    bool handleRecord(const uint8_t* record, uint32_t size, uint64_t generation);
    // Ignores the rest of the stream and lets the queue end the utterance.
    void stopFraming(uint64_t generation, int16_t domain, int16_t code, const std::string& text);
    void endWithStreamError(Memory::vxs_shared_ptr_base* parameter);

    // Events.
    void reportError(int16_t domain, int16_t code, const std::string& text);
    void postLog(const std::string& text);
    void finishUtterance(bool keepUpload);

    // The download bytes not yet framed, of connection m_framedGeneration;
    // m_framingStopped once that stream broke. All three, and m_recordBuffer,
    // under m_ResponseQueueMutex.
    PCMQueuePtr m_ResponseQueue;
    Threads::Synchronization::AppMutex m_ResponseQueueMutex{false};
    uint64_t m_framedGeneration = 0;
    bool m_framingStopped = false;
    // Held while a result is posted from the transfer thread and while the
    // queue ends the utterance (m_isRunning set false, the finish posted).
    Threads::Synchronization::AppMutex m_deliveryMutex{false};
    Memory::vxs_shared_ptr<Networking::vxs_http_request_maker> m_http_maker_up;
    Memory::vxs_shared_ptr<Networking::vxs_http_request_maker> m_http_maker_down;
    std::string m_cur_global_key;
    TVXVoiceRecognitionAudioCompressionType m_audioEncoding = EVR_AUDIO_COMPRESSION_BV32;
    int m_audioSampleRateHz = 16000;
    int m_audioPackageSizeMilliSecond = 160;
    Memory::vxs_shared_ptr<AudioEncoderBase> m_AudioEncoder;
    int m_audioPackageSizeBytes = 0;
    std::atomic<bool> m_isRunning{false};
    bool m_enableFeedback = false;
    MessagePtr m_startMessage;
    std::string m_postURL;
    std::string m_serverURL;
    Threads::Synchronization::AppMutex m_postURLMutex{false};
    EventManagerWeakPtr m_callback;
    Memory::vxs_shared_ptr<Threads::DispatchQueue> _managerMain;
    Memory::vxs_shared_ptr<uint8_t> m_AudioDecoderOutput;
    Memory::vxs_weak_ptr<EventManagerDecChunk> m_selfPtrDec;
    Memory::vxs_weak_ptr<Networking::vxs_address_resolver> m_runningResolver;
    int m_ip_type = -1;
    std::string m_dns_parsed_ip;
    std::vector<RecordData> m_reserve_data;
    // The audio (and finish) packets of the package being handled: they go to
    // the upload together, so that a last package and its finish packet leave
    // in one write.
    std::vector<RecordData> m_outgoing;
    TVXVoiceRecognitionNetworkType m_cur_network_type = EVR_NETWORK_TYPE_NO;
    Threads::Synchronization::AppMutex m_sendDataMutex{false};
    bool m_is_long_speech = false;
    int _retry_connection_time = 0;
    std::atomic<bool> m_has_chunk_end{false};
    bool m_has_post_realtime_data = false;

    // Both transfers of the current attempt have been started.
    bool m_connected = false;
    // The finish packet has ended the upload body; later audio has nowhere to go.
    bool m_upload_finished = false;
    // Scratch space for one download record (at most the largest record).
    std::vector<uint8_t> m_recordBuffer;

    // Guards the task handles for the reporting threads, the running resolver
    // and the start/cancel sequence numbers below.
    Threads::Synchronization::AppMutex m_handleMutex{false};
    // Changes whenever new HTTP tasks replace the old ones; reports carry it.
    uint64_t m_connection_generation = 0;
    // "engine.start" commands accepted by send(), and the number of them that
    // an "engine.cancel" sent afterwards covers: a set-up belonging to a start
    // at or below it must not begin a resolution.
    uint64_t m_start_requests = 0;
    uint64_t m_cancelled_through = 0;
    // The sequence number of the start the current utterance came from.
    uint64_t m_utterance_sequence = 0;
};

}  // namespace vxs

#endif  // VXS_DECODER_EVENT_MANAGER_DEC_CHUNK_H
