#include "service_log.h"

#include <fstream>

#include <cjson/cJSON.h>

namespace decbench {

namespace {

// Packet and record type bytes as the service logs them.
constexpr double kFinalRecordType = 0xF1;

struct Marks {
    double last_audio = -1;
    double finish_packet = -1;
    double final_record = -1;
    double last_request = -1;
    double last_answer = -1;
};

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
        if (type == "audio") marks->last_audio = t;
        if (type == "finish") marks->finish_packet = t;
    } else if (event == "record_sent") {
        if (number_member(line, "type_byte", 0) == kFinalRecordType && marks->final_record < 0) marks->final_record = t;
    } else if (event == "request") {
        if (number_member(line, "idx", 0) < 0) marks->last_request = t;
    } else if (event == "answer") {
        if (number_member(line, "idx", 0) < 0) marks->last_answer = t;
    }
}

ServiceShare share_of(const Marks& marks) {
    ServiceShare share;
    const double end_start = marks.last_audio >= 0 ? marks.last_audio : marks.finish_packet;
    if (end_start >= 0 && marks.final_record >= end_start) share.chunked_ms = marks.final_record - end_start;
    if (marks.last_request >= 0 && marks.last_answer >= marks.last_request) {
        share.single_ms = marks.last_answer - marks.last_request;
    }
    return share;
}

}  // namespace

std::map<std::string, ServiceShare> read_service_shares(const std::string& path) {
    std::map<std::string, Marks> marks;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        cJSON* line = cJSON_Parse(text.c_str());
        if (cJSON_IsObject(line)) {
            const std::string sn = string_member(line, "sn");
            if (!sn.empty()) note_event(line, &marks[sn]);
        }
        cJSON_Delete(line);
    }
    std::map<std::string, ServiceShare> shares;
    for (const auto& entry : marks) shares[entry.first] = share_of(entry.second);
    return shares;
}

}  // namespace decbench
