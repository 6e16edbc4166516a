#include "utterance_log.h"

#include "marked_document.h"

namespace vxs {
namespace refservice {

UtteranceLog::~UtteranceLog() {
    if (m_file) fclose(m_file);
}

bool UtteranceLog::open_file(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file) fclose(m_file);
    m_file = fopen(path.c_str(), "a");
    return m_file != nullptr;
}

void UtteranceLog::record(const std::string& sn, const char* event, cJSON* fields) {
    cJSON* line = cJSON_CreateObject();
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_entries.find(sn);
    if (found == m_entries.end()) {
        found = m_entries.emplace(sn, Entry{now, {}}).first;
        m_order.push_back(sn);
        if (m_order.size() > kKeptUtterances) {
            m_entries.erase(m_order.front());
            m_order.pop_front();
        }
    }
    const double elapsed_ms = std::chrono::duration<double, std::milli>(now - found->second.start).count();
    cJSON_AddNumberToObject(line, "t_ms", static_cast<double>(static_cast<long long>(elapsed_ms * 10)) / 10);
    cJSON_AddStringToObject(line, "sn", sn.c_str());
    cJSON_AddStringToObject(line, "event", event);
    if (fields) {
        while (cJSON* member = fields->child) {
            cJSON_DetachItemViaPointer(fields, member);
            cJSON_AddItemToObject(line, member->string, member);
        }
        cJSON_Delete(fields);
    }
    std::string text = print_compact(line);
    cJSON_Delete(line);
    if (m_file) {
        fprintf(m_file, "%s\n", text.c_str());
        fflush(m_file);
    }
    found->second.lines.push_back(std::move(text));
}

void UtteranceLog::record_text(const std::string& sn, const char* event, const char* name, const std::string& value) {
    cJSON* fields = cJSON_CreateObject();
    cJSON_AddStringToObject(fields, name, value.c_str());
    record(sn, event, fields);
}

void UtteranceLog::record_number(const std::string& sn, const char* event, const char* name, double value) {
    cJSON* fields = cJSON_CreateObject();
    cJSON_AddNumberToObject(fields, name, value);
    record(sn, event, fields);
}

std::vector<std::string> UtteranceLog::events(const std::string& sn) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_entries.find(sn);
    return found == m_entries.end() ? std::vector<std::string>() : found->second.lines;
}

std::vector<std::string> UtteranceLog::serial_numbers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<std::string>(m_order.begin(), m_order.end());
}

}  // namespace refservice
}  // namespace vxs
