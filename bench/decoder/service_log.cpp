#include "service_log.h"

#include <cjson/cJSON.h>

namespace decbench {

namespace {

using Marks = ServiceLogFollower::Marks;

// The record type byte of a final result, as the service logs it.
constexpr double kFinalRecordType = 0xF1;
constexpr double kPartialRecordType = 0xF0;

std::string string_member(const cJSON* line, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(line, name);
    return cJSON_IsString(item) ? item->valuestring : "";
}

double number_member(const cJSON* line, const char* name, double fallback) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(line, name);
    return cJSON_IsNumber(item) ? item->valuedouble : fallback;
}

void note_event(const cJSON* line, Marks* marks) {
    const std::string event = string_member(line, "event");
    const double t = number_member(line, "t_ms", -1);
    if (event == "packet") {
        const std::string type = string_member(line, "type");
        if (type == "audio" && marks->first_audio < 0) marks->first_audio = t;
        if (type == "audio") {
            marks->last_audio = t;
            ++marks->audio_packets;
            marks->partial_since_last_audio = false;
        }
        if (type == "finish") marks->finish_packet = t;
    } else if (event == "record_sent") {
        const double type = number_member(line, "type_byte", 0);
        if (type == kFinalRecordType && marks->final_record < 0) marks->final_record = t;
        if (type == kPartialRecordType) marks->partial_since_last_audio = true;
    } else if (event == "request") {
        if (marks->first_request < 0) marks->first_request = t;
        if (number_member(line, "idx", 0) < 0) marks->last_request = t;
    } else if (event == "answer") {
        const double idx = number_member(line, "idx", 0);
        if (idx < 0) marks->last_answer = t;
        if (idx > marks->highest_answered) marks->highest_answered = static_cast<int>(idx);
    }
}

ServiceShare share_of(const Marks& marks) {
    ServiceShare share;
    const double end_start = marks.last_audio >= 0 ? marks.last_audio : marks.finish_packet;
    if (end_start >= 0 && marks.final_record >= end_start) share.chunked_ms = marks.final_record - end_start;
    if (marks.first_audio >= 0) share.chunked_audio_span_ms = marks.last_audio - marks.first_audio;
    if (marks.last_request >= 0 && marks.last_answer >= marks.last_request) {
        share.single_ms = marks.last_answer - marks.last_request;
    }
    if (marks.first_request >= 0 && marks.last_request >= 0) {
        share.single_audio_span_ms = marks.last_request - marks.first_request;
    }
    return share;
}

}  // namespace

ServiceLogFollower::~ServiceLogFollower() {
    if (m_file) fclose(m_file);
}

void ServiceLogFollower::read_new_lines() {
    if (!m_file) m_file = fopen(m_path.c_str(), "r");
    if (!m_file) return;
    char chunk[4096];
    for (;;) {
        const size_t got = fread(chunk, 1, sizeof chunk, m_file);
        if (got == 0) break;
        m_partial_line.append(chunk, got);
    }
    clearerr(m_file);  // the service keeps appending: read on from here next time
    size_t start = 0;
    for (size_t end = m_partial_line.find('\n'); end != std::string::npos; end = m_partial_line.find('\n', start)) {
        const std::string text = m_partial_line.substr(start, end - start);
        start = end + 1;
        cJSON* line = cJSON_Parse(text.c_str());
        const std::string sn = cJSON_IsObject(line) ? string_member(line, "sn") : "";
        if (!sn.empty()) note_event(line, &m_marks[sn]);
        cJSON_Delete(line);
    }
    m_partial_line.erase(0, start);
}

bool ServiceLogFollower::has_taken(const std::string& sn, bool chunked, size_t packages, bool* done) const {
    auto found = m_marks.find(sn);
    if (found == m_marks.end()) return false;
    const Marks& marks = found->second;
    if (!chunked) {
        *done = true;
        return marks.highest_answered >= static_cast<int>(packages);
    }
    *done = marks.audio_packets == packages && marks.partial_since_last_audio;
    return marks.audio_packets >= packages;
}

bool ServiceLogFollower::share(const std::string& sn, ServiceShare* share) const {
    auto found = m_marks.find(sn);
    if (found == m_marks.end()) return false;
    *share = share_of(found->second);
    return true;
}

}  // namespace decbench
