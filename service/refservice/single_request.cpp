#include "single_request.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <cjson/cJSON.h>

#include "answers.h"
#include "marked_document.h"

namespace vxs {
namespace refservice {

namespace {

// The last piece waits this long for the pieces before it.
constexpr auto kMissingPieceWait = std::chrono::seconds(15);

bool parse_index(const std::string& text, int* idx) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT_MIN + 1 || value > INT_MAX || value == 0) return false;
    *idx = static_cast<int>(value);
    return true;
}

bool string_member(const cJSON* document, const char* name, std::string* value) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(document, name);
    if (!cJSON_IsString(item)) return false;
    *value = item->valuestring;
    return true;
}

}  // namespace

bool parse_single_request(const std::string& body, SingleRequest* request, std::string* error) {
    const std::string boundary = kMultipartBoundary;
    const std::string separator = "\r\n--" + boundary + "\r\n";
    const std::string terminator = "\r\n--" + boundary + "--\r\n";
    if (body.compare(0, separator.size(), separator) != 0) {
        *error = "body does not begin with the boundary";
        return false;
    }
    if (body.size() < separator.size() * 2 + terminator.size() ||
        body.compare(body.size() - terminator.size(), terminator.size(), terminator) != 0) {
        *error = "body does not end with the closing boundary";
        return false;
    }
    const size_t document_start = separator.size();
    const size_t second = body.find(separator, document_start);
    if (second == std::string::npos || second + separator.size() > body.size() - terminator.size()) {
        *error = "body has no audio part";
        return false;
    }
    const size_t audio_start = second + separator.size();
    request->audio = body.substr(audio_start, body.size() - terminator.size() - audio_start);

    JsonDocument document;
    std::string reason;
    if (!read_marked_document(reinterpret_cast<const uint8_t*>(body.data()) + document_start, second - document_start,
                              &document, &request->document_text, &reason)) {
        *error = "document: " + reason;
        return false;
    }
    std::string idx_text;
    if (!string_member(document.get(), "idx", &idx_text) || !parse_index(idx_text, &request->idx)) {
        *error = "document has no valid string \"idx\"";
        return false;
    }
    for (auto member : {std::make_pair("glb", &request->glb), std::make_pair("pdt", &request->pdt),
                        std::make_pair("ptc", &request->ptc)}) {
        if (!string_member(document.get(), member.first, member.second) || member.second->empty()) {
            *error = std::string("document has no string \"") + member.first + "\"";
            return false;
        }
    }
    string_member(document.get(), "tok", &request->tok);
    return true;
}

SingleUtterance::SingleUtterance(std::string sn, DecoderPool& pool, UtteranceLog& log)
    : m_sn(std::move(sn)), m_log(log), m_recognizer(pool), m_last_activity(std::chrono::steady_clock::now()) {}

bool SingleUtterance::closed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

std::chrono::steady_clock::time_point SingleUtterance::last_activity() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last_activity;
}

void SingleUtterance::shutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutting_down = true;
    m_changed.notify_all();
}

SingleAnswer SingleUtterance::error_answer(const SingleRequest& request, int err_no, const std::string& reason) {
    m_log.record_text(m_sn, "error", "reason", reason);
    return SingleAnswer{200, single_answer(request.ptc, err_no, request.idx, kResTypeSingleFinish, std::string(),
                                           m_sn, reason)};
}

bool SingleUtterance::feed_in_order(std::string* reason) {
    for (auto next = m_waiting.find(m_next_index); next != m_waiting.end(); next = m_waiting.find(m_next_index)) {
        if (!next->second.empty() &&
            !m_recognizer.feed_package(reinterpret_cast<const uint8_t*>(next->second.data()), next->second.size(),
                                       reason)) {
            *reason = "piece " + std::to_string(m_next_index) + ": " + *reason;
            return false;
        }
        m_waiting.erase(next);
        ++m_next_index;
    }
    return true;
}

SingleAnswer SingleUtterance::finish(const SingleRequest& request, const FaultPlan& faults,
                                     std::unique_lock<std::mutex>& lock) {
    const bool complete = m_changed.wait_for(lock, kMissingPieceWait, [&] {
        return m_shutting_down || !m_failure.empty() || m_next_index > m_last_index;
    });
    m_closed = true;
    const std::string text = m_recognizer.finish();
    if (!m_failure.empty()) return error_answer(request, kErrRecognition, m_failure);
    if (!complete || m_shutting_down) return error_answer(request, kErrRecognition, "pieces missing before the last");
    m_log.record_number(m_sn, "samples", "count", static_cast<double>(m_recognizer.samples_decoded()));
    m_log.record_text(m_sn, "hypothesis", "text", text);
    if (faults.final_delay_ms > 0) {
        m_changed.wait_for(lock, std::chrono::milliseconds(faults.final_delay_ms), [&] { return m_shutting_down; });
    }
    int err_no = faults.final_err_no;
    if (err_no == 0 && text.empty()) err_no = kErrNoResult;
    std::string body =
        single_answer(request.ptc, err_no, request.idx, kResTypeSingleFinish, err_no == 0 ? text : "", m_sn);
    if (faults.bad_json) body = body.substr(0, body.size() / 2);
    return SingleAnswer{200, body};
}

SingleAnswer SingleUtterance::handle(const SingleRequest& request, const FaultPlan& faults) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_last_activity = std::chrono::steady_clock::now();
    if (request.idx < kUserCancelIndexBelow) {
        m_closed = true;
        m_recognizer.finish();  // gives the decoder back
        m_changed.notify_all();
        m_log.record_number(m_sn, "cancelled", "idx", request.idx);
        return SingleAnswer{200, single_answer(request.ptc, 0, request.idx, kResTypeEnd, "", m_sn)};
    }
    if (m_closed) return error_answer(request, kErrParams, "utterance already closed");
    const int index = request.idx < 0 ? -request.idx : request.idx;
    if (m_seen.count(index)) return error_answer(request, kErrParams, "index " + std::to_string(index) + " repeated");
    if (m_last_index != 0 && index > m_last_index) {
        return error_answer(request, kErrParams, "index " + std::to_string(index) + " after the last piece");
    }
    m_seen[index] = true;
    m_waiting[index] = request.audio;
    if (request.idx < 0) m_last_index = index;
    std::string reason;
    if (m_failure.empty() && !feed_in_order(&reason)) m_failure = reason;
    m_changed.notify_all();
    if (request.idx < 0) return finish(request, faults, lock);
    if (!m_failure.empty()) return error_answer(request, kErrRecognition, m_failure);
    int err_no = faults.partial_err_no;
    return SingleAnswer{200, single_answer(request.ptc, err_no, request.idx, kResTypePartial,
                                           m_recognizer.partial(), m_sn)};
}

}  // namespace refservice
}  // namespace vxs
