// One utterance of the chunked protocol: the upload connection feeds its
// packets in, the download connection takes the result records out. Either
// connection may arrive first; both live for the whole utterance.
//
// Threading: the upload side (on_packet, upload_ended) runs on the upload's
// server thread, serve_download on the download's; everything they share is
// guarded by one mutex. shutdown() may be called from any thread.
#ifndef VXS_SERVICE_REFSERVICE_CHUNKED_UTTERANCE_H
#define VXS_SERVICE_REFSERVICE_CHUNKED_UTTERANCE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "fault_plan.h"
#include "recognizer.h"
#include "utterance_log.h"

namespace vxs {
namespace refservice {

class ChunkedUtterance {
public:
    ChunkedUtterance(std::string sn, DecoderPool& pool, UtteranceLog& log, const FaultPlan& faults);

    const std::string& sn() const { return m_sn; }
    // Adds the faults one connection asked for.
    void add_faults(const FaultPlan& faults);
    FaultPlan faults() const;

    // Upload side. False once the upload must stop being read (a protocol
    // error, a cancel, or a packet after the finish); `error()` says why for
    // a protocol error.
    bool on_packet(uint8_t type, const uint8_t* payload, size_t size);
    // The upload connection has arrived.
    void upload_started();
    // The upload body is over (`stream_error`: the reader found it malformed).
    void upload_ended(const std::string& stream_error);
    // The upload was refused before its body was read.
    void upload_refused(int status);
    // A protocol error on the upload: one error record, then the end record.
    void fail(const std::string& reason);
    std::string error() const;

    // Download side: writes records with `write` as they become available
    // until the utterance ends. True when the body should be closed
    // normally, false when the connection should be dropped.
    using Writer = std::function<bool(const std::string& bytes)>;
    bool serve_download(const Writer& write);
    void download_refused(int status);

    // Ends every wait (the service is stopping).
    void shutdown();
    // Both sides are over (or one is over and the other never came).
    bool finished(std::chrono::steady_clock::time_point now) const;

private:
    struct Record {
        uint8_t type;
        std::string payload;
    };

    bool handle_params(const uint8_t* payload, size_t size);
    bool handle_audio(const uint8_t* payload, size_t size);
    void handle_finish();
    void queue_record(uint8_t type, std::string payload);
    void close_download();
    bool check_params(const struct cJSON* document, std::string* reason) const;
    bool pause_interruptibly(int milliseconds);

    const std::string m_sn;
    UtteranceLog& m_log;
    UtteranceRecognizer m_recognizer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    FaultPlan m_faults;
    std::deque<Record> m_records;
    std::string m_error;
    bool m_has_params = false;
    int m_sample_rate = 0;
    bool m_finish_seen = false;
    bool m_closed = false;         // no more records will come
    bool m_upload_seen = false;
    bool m_upload_over = false;
    bool m_download_seen = false;
    bool m_download_over = false;
    bool m_shutting_down = false;
    bool m_partial_fault_used = false;
    std::string m_last_partial;
    long m_audio_packets = 0;
    std::chrono::steady_clock::time_point m_upload_over_at;
};

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_CHUNKED_UTTERANCE_H
