#include "chunked_utterance.h"

#include <cjson/cJSON.h>

#include "answers.h"
#include "marked_document.h"
#include "tlv_stream.h"

namespace vxs {
namespace refservice {

namespace {

// How long a download waits for its upload to show up.
constexpr auto kPeerWait = std::chrono::seconds(30);
// An utterance whose other connection never came is forgotten after this.
constexpr auto kOrphanLifetime = std::chrono::seconds(60);

const char* packet_name(uint8_t type) {
    switch (type) {
        case kPacketParam: return "param";
        case kPacketAudio: return "audio";
        case kPacketThirdData: return "third_data";
        case kPacketFinish: return "finish";
        case kPacketCancel: return "cancel";
        case kPacketRealtimeData: return "realtime_data";
        default: return "unknown";
    }
}

bool has_number(const cJSON* document, const char* name) {
    return cJSON_IsNumber(cJSON_GetObjectItemCaseSensitive(document, name));
}

bool has_string(const cJSON* document, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(document, name);
    return cJSON_IsString(item) && item->valuestring[0] != '\0';
}

}  // namespace

ChunkedUtterance::ChunkedUtterance(std::string sn, DecoderPool& pool, UtteranceLog& log, const FaultPlan& faults)
    : m_sn(std::move(sn)), m_log(log), m_recognizer(pool), m_faults(faults) {}

void ChunkedUtterance::add_faults(const FaultPlan& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.merge(faults);
}

FaultPlan ChunkedUtterance::faults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults;
}

std::string ChunkedUtterance::error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

bool ChunkedUtterance::check_params(const cJSON* document, std::string* reason) const {
    if (!has_string(document, "key") && !has_string(document, "apikey")) {
        *reason = "parameter document has neither \"key\" nor \"apikey\"";
        return false;
    }
    for (const char* name : {"cuid", "pfm", "ver", "sn"}) {
        if (!has_string(document, name)) {
            *reason = std::string("parameter document lacks the string \"") + name + "\"";
            return false;
        }
    }
    for (const char* name : {"pid", "smr", "fun"}) {
        if (!has_number(document, name)) {
            *reason = std::string("parameter document lacks the number \"") + name + "\"";
            return false;
        }
    }
    const std::string sn = cJSON_GetObjectItemCaseSensitive(document, "sn")->valuestring;
    if (sn != m_sn) {
        *reason = "parameter \"sn\" " + sn + " differs from the URL's " + m_sn;
        return false;
    }
    const double rate = cJSON_GetObjectItemCaseSensitive(document, "smr")->valuedouble;
    if (rate != 8000 && rate != 16000) {
        *reason = "parameter \"smr\" must be 8000 or 16000";
        return false;
    }
    return true;
}

bool ChunkedUtterance::handle_params(const uint8_t* payload, size_t size) {
    if (m_has_params) {
        fail("second parameter packet");
        return false;
    }
    JsonDocument document;
    std::string text;
    std::string reason;
    if (!read_marked_document(payload, size, &document, &text, &reason)) {
        fail("parameter packet: " + reason);
        return false;
    }
    cJSON* fields = cJSON_CreateObject();
    cJSON_AddItemToObject(fields, "document", cJSON_Duplicate(document.get(), 1));
    m_log.record(m_sn, "params", fields);
    if (!check_params(document.get(), &reason)) {
        fail(reason);
        return false;
    }
    m_sample_rate = static_cast<int>(cJSON_GetObjectItemCaseSensitive(document.get(), "smr")->valuedouble);
    m_has_params = true;
    return true;
}

bool ChunkedUtterance::handle_audio(const uint8_t* payload, size_t size) {
    if (!m_has_params) {
        fail("audio packet before the parameter packet");
        return false;
    }
    const bool first = !m_recognizer.has_format();
    std::string reason;
    const bool fed = m_recognizer.feed_package(payload, size, &reason);
    if (first && m_recognizer.has_format()) {
        cJSON* fields = cJSON_CreateObject();
        cJSON_AddStringToObject(fields, "codec", codec_io::compressionTypeName(m_recognizer.format().compressionType));
        cJSON_AddNumberToObject(fields, "rate", m_recognizer.format().sampleRate);
        m_log.record(m_sn, "audio_format", fields);
        if (m_recognizer.format().sampleRate != m_sample_rate) {
            fail("audio header rate " + std::to_string(m_recognizer.format().sampleRate) +
                 " differs from \"smr\" " + std::to_string(m_sample_rate));
            return false;
        }
    }
    if (!fed) {
        fail("audio packet " + std::to_string(m_audio_packets + 1) + ": " + reason);
        return false;
    }
    ++m_audio_packets;
    const std::string hypothesis = m_recognizer.partial();
    if (hypothesis.empty() || hypothesis == m_last_partial) return true;
    m_last_partial = hypothesis;
    int err_no = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_faults.partial_err_no != 0 && !m_partial_fault_used) {
            err_no = m_faults.partial_err_no;
            m_partial_fault_used = true;
        }
    }
    queue_record(kRecordPartial, chunk_result_json(err_no, hypothesis, m_sn));
    return true;
}

void ChunkedUtterance::handle_finish() {
    const std::string text = m_recognizer.finish();
    m_log.record_number(m_sn, "samples", "count", static_cast<double>(m_recognizer.samples_decoded()));
    m_log.record_text(m_sn, "hypothesis", "text", text);
    const FaultPlan plan = faults();
    if (plan.final_delay_ms > 0 && !pause_interruptibly(plan.final_delay_ms)) return;
    int err_no = plan.final_err_no;
    if (err_no == 0 && text.empty()) err_no = kErrNoResult;
    std::string payload = chunk_result_json(err_no, err_no == 0 ? text : std::string(), m_sn);
    if (plan.bad_json) payload = payload.substr(0, payload.size() / 2);
    queue_record(kRecordFinal, payload);
    queue_record(kRecordEnd, std::string());
    close_download();
}

bool ChunkedUtterance::on_packet(uint8_t type, const uint8_t* payload, size_t size) {
    cJSON* fields = cJSON_CreateObject();
    cJSON_AddStringToObject(fields, "type", packet_name(type));
    cJSON_AddNumberToObject(fields, "type_byte", type);
    cJSON_AddNumberToObject(fields, "size", static_cast<double>(size));
    m_log.record(m_sn, "packet", fields);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed && !m_finish_seen) return false;  // failed or cancelled already
    }
    if (m_finish_seen) {
        fail(std::string(packet_name(type)) + " packet after the finish packet");
        return false;
    }
    switch (type) {
        case kPacketParam: return handle_params(payload, size);
        case kPacketAudio: return handle_audio(payload, size);
        case kPacketThirdData: return true;
        case kPacketRealtimeData:
            m_log.record_text(m_sn, "realtime_data", "text",
                              std::string(reinterpret_cast<const char*>(payload), size));
            return true;
        case kPacketFinish:
            if (!m_has_params) {
                fail("finish packet before the parameter packet");
                return false;
            }
            m_finish_seen = true;
            handle_finish();
            return true;
        case kPacketCancel:
            m_log.record(m_sn, "cancelled", nullptr);
            close_download();
            return false;
        default:
            fail("unknown packet type " + std::to_string(type));
            return false;
    }
}

void ChunkedUtterance::upload_started() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_upload_seen = true;
    m_changed.notify_all();
}

void ChunkedUtterance::upload_ended(const std::string& stream_error) {
    if (!stream_error.empty()) fail(stream_error);
    bool unfinished = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        unfinished = !m_closed;
    }
    if (unfinished) fail("upload ended without a finish packet");
    // The decoder goes back to the pool now rather than with the utterance.
    m_recognizer.finish();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_upload_over = true;
    m_upload_over_at = std::chrono::steady_clock::now();
    m_changed.notify_all();
}

void ChunkedUtterance::upload_refused(int status) {
    upload_started();
    m_log.record_number(m_sn, "upload_refused", "status", status);
    close_download();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_upload_over = true;
    m_upload_over_at = std::chrono::steady_clock::now();
}

void ChunkedUtterance::fail(const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) return;
        m_error = reason;
    }
    m_log.record_text(m_sn, "error", "reason", reason);
    queue_record(kRecordFinal, chunk_result_json(kErrParams, std::string(), m_sn, reason));
    queue_record(kRecordEnd, std::string());
    close_download();
}

void ChunkedUtterance::queue_record(uint8_t type, std::string payload) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    m_records.push_back(Record{type, std::move(payload)});
    m_changed.notify_all();
}

void ChunkedUtterance::close_download() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

bool ChunkedUtterance::pause_interruptibly(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return m_shutting_down; });
}

void ChunkedUtterance::download_refused(int status) {
    m_log.record_number(m_sn, "download_refused", "status", status);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_download_seen = true;
    m_download_over = true;
}

bool ChunkedUtterance::serve_download(const Writer& write) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_download_seen = true;
    const FaultPlan plan = m_faults;
    long written = 0;
    bool keep_connection = true;
    const auto deadline = std::chrono::steady_clock::now() + kPeerWait;
    for (;;) {
        auto ready = [&] { return m_shutting_down || !m_records.empty() || m_closed; };
        // Without an upload the download would wait for ever; bound it.
        while (!ready()) {
            if (m_upload_seen) {
                m_changed.wait(lock, ready);
            } else if (!m_changed.wait_until(lock, deadline, ready)) {
                lock.unlock();
                fail("no upload for this serial number");
                lock.lock();
            }
        }
        if (m_shutting_down) break;
        if (m_records.empty()) break;  // closed and drained
        Record record = std::move(m_records.front());
        m_records.pop_front();
        lock.unlock();
        const bool is_end = record.type == kRecordEnd;
        const bool malformed = plan.bad_length && record.type == kRecordFinal;
        bool sent = true;
        if (!(is_end && plan.no_end)) {
            const std::string bytes = download_record(record.type, record.payload, malformed ? 100 : 0);
            sent = write(bytes);
            cJSON* fields = cJSON_CreateObject();
            cJSON_AddNumberToObject(fields, "type_byte", record.type);
            cJSON_AddNumberToObject(fields, "size", static_cast<double>(bytes.size()));
            if (!record.payload.empty()) cJSON_AddStringToObject(fields, "payload", record.payload.c_str());
            m_log.record(m_sn, sent ? "record_sent" : "record_not_sent", fields);
            ++written;
        }
        lock.lock();
        if (!sent) break;
        if (malformed) break;  // the rest would be read as part of the bad record
        if (written == 1 && plan.drop) {
            keep_connection = false;
            break;
        }
        if (written == 1 && plan.stall_ms > 0) {
            lock.unlock();
            m_log.record_number(m_sn, "stall", "ms", plan.stall_ms);
            pause_interruptibly(plan.stall_ms);
            lock.lock();
        }
    }
    m_download_over = true;
    m_changed.notify_all();
    lock.unlock();
    m_log.record(m_sn, keep_connection ? "download_closed" : "download_dropped", nullptr);
    return keep_connection;
}

void ChunkedUtterance::shutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutting_down = true;
    m_changed.notify_all();
}

bool ChunkedUtterance::finished(std::chrono::steady_clock::time_point now) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_upload_over && m_download_over) return true;
    return m_upload_over && !m_download_seen && now - m_upload_over_at > kOrphanLifetime;
}

}  // namespace refservice
}  // namespace vxs
