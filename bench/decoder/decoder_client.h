// Drives one of the library's online decoders the way the ASR session does:
// one context and one decoder module for the client's life, a callback
// module that stamps every message as it reaches it, "engine.start" per
// utterance, then "engine.data" packages posted through the context on the
// given schedule, the last with "last.bool".
//
// Threading: run() on one thread at a time; the callback module's send()
// runs on the context's pool threads and hands messages over under a mutex.
#ifndef VXS_BENCH_DECODER_DECODER_CLIENT_H
#define VXS_BENCH_DECODER_DECODER_CLIENT_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/event_manager.h"
#include "utterance_client.h"

namespace decbench {

// Makes a decoder module on `context` that posts its callbacks to `callback`.
typedef vxs::EventManagerPtr (*DecoderFactory)(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context,
                                               const vxs::EventManagerWeakPtr& callback);

// The callback module: every message with the moment it arrived.
class StampingRecorder : public vxs::EventManager {
public:
    struct Stamped {
        vxs::MessagePtr message;
        Clock::time_point at;
    };
    static vxs::Memory::vxs_shared_ptr<StampingRecorder> create(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context);

    void send(vxs::MessagePtr& message) override;

    // Waits until a message beyond the first `seen` arrived, or `deadline`;
    // returns every message so far.
    std::vector<Stamped> wait_beyond(size_t seen, Clock::time_point deadline);
    void clear();

private:
    explicit StampingRecorder(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context) : EventManager(context) {}

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Stamped> m_messages;
};

class DecoderClient : public UtteranceClient {
public:
    // `chunked` tells whether an end result follows the final one (it is
    // awaited so that the next utterance starts from a finished one).
    DecoderClient(const std::string& name, DecoderFactory factory, bool chunked, const std::string& server_url,
                  int package_ms);
    ~DecoderClient() override;

    bool valid() const { return static_cast<bool>(m_decoder); }
    std::string name() const override { return m_name; }
    UtteranceOutcome run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                         const Pacing& pacing) override;

private:
    // Waits for "dec.callback.begin"; false (with the reason) on an error
    // finish or a time-out.
    bool wait_for_begin(size_t package_bytes, std::string* error);
    // Waits for the final result; fills `outcome`.
    void wait_for_final(Clock::time_point last_handed, UtteranceOutcome* outcome);
    void wait_for_end();
    void post_to_decoder(const vxs::MessagePtr& message);

    std::string m_name;
    bool m_chunked;
    std::string m_server_url;
    int m_package_ms;
    vxs::ContextPtr m_context;
    vxs::Memory::vxs_shared_ptr<StampingRecorder> m_recorder;
    vxs::EventManagerPtr m_decoder;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_DECODER_CLIENT_H
