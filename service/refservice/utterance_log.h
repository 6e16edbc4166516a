// What the service received and answered, per utterance: one JSON object per
// event ({"t_ms": ms since the utterance began, "sn": ..., "event": ..., and
// the event's own members}), kept in memory for queries from tests and
// optionally appended to a file as JSON lines.
//
// Threading: safe from any thread.
#ifndef VXS_SERVICE_REFSERVICE_UTTERANCE_LOG_H
#define VXS_SERVICE_REFSERVICE_UTTERANCE_LOG_H

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <cjson/cJSON.h>

namespace vxs {
namespace refservice {

class UtteranceLog {
public:
    UtteranceLog() = default;
    ~UtteranceLog();
    UtteranceLog(const UtteranceLog&) = delete;
    UtteranceLog& operator=(const UtteranceLog&) = delete;

    // Also appends every event to `path`; false when it cannot be opened.
    bool open_file(const std::string& path);

    // Records one event; `fields` (an object, may be null) is consumed.
    void record(const std::string& sn, const char* event, cJSON* fields);
    // Shorthands for one string or number member.
    void record_text(const std::string& sn, const char* event, const char* name, const std::string& value);
    void record_number(const std::string& sn, const char* event, const char* name, double value);

    // The events of one utterance as JSON lines, oldest first.
    std::vector<std::string> events(const std::string& sn) const;
    // Serial numbers seen, oldest first.
    std::vector<std::string> serial_numbers() const;

private:
    struct Entry {
        std::chrono::steady_clock::time_point start;
        std::vector<std::string> lines;
    };
    // The oldest utterances are forgotten past this count.
    static constexpr size_t kKeptUtterances = 2000;

    mutable std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
    std::deque<std::string> m_order;
    FILE* m_file = nullptr;
};

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_UTTERANCE_LOG_H
