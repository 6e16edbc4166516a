// The single-request protocol: each POST carries one multipart body
// ("\r\n--" B "\r\n" document "\r\n--" B "\r\n" audio "\r\n--" B "--\r\n",
// B = "--VX**VR++LIB", no part headers) with a marked compressed document
// ("idx", "glb", "pdt", "ptc", "tok") and one encoded audio package. The
// requests of one utterance (same "glb") may arrive concurrently and out of
// order; their audio is put back in index order before it is recognised.
//
// Threading: parse_single_request is a pure function. A SingleUtterance is
// shared by the server threads of its requests and guards itself.
#ifndef VXS_SERVICE_REFSERVICE_SINGLE_REQUEST_H
#define VXS_SERVICE_REFSERVICE_SINGLE_REQUEST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "fault_plan.h"
#include "recognizer.h"
#include "utterance_log.h"

namespace vxs {
namespace refservice {

constexpr const char* kMultipartBoundary = "--VX**VR++LIB";
// A negative index below this marks the closing request of a user-cancelled
// utterance (the client subtracts 10000 from the closing index).
constexpr int kUserCancelIndexBelow = -10000;

struct SingleRequest {
    std::string document_text;
    int idx = 0;
    std::string glb;
    std::string pdt;
    std::string ptc;
    std::string tok;
    std::string audio;
};

// Splits the body and reads the document. False with a reason for a body of
// another shape, a document that does not inflate or parse, or a missing or
// malformed "idx", "glb", "pdt" or "ptc".
bool parse_single_request(const std::string& body, SingleRequest* request, std::string* error);

struct SingleAnswer {
    int status = 200;
    std::string body;
};

class SingleUtterance {
public:
    SingleUtterance(std::string sn, DecoderPool& pool, UtteranceLog& log);

    // Answers one request: a partial result for a piece, the final result
    // for the last piece (after every earlier piece has arrived), an error
    // for a bad or repeated index.
    SingleAnswer handle(const SingleRequest& request, const FaultPlan& faults);
    // The utterance is over (final answered or cancelled).
    bool closed() const;
    std::chrono::steady_clock::time_point last_activity() const;
    void shutdown();

private:
    SingleAnswer error_answer(const SingleRequest& request, int err_no, const std::string& reason);
    // Feeds every piece that is next in order; false on a decoding error.
    bool feed_in_order(std::string* reason);
    SingleAnswer finish(const SingleRequest& request, const FaultPlan& faults, std::unique_lock<std::mutex>& lock);

    const std::string m_sn;
    UtteranceLog& m_log;
    UtteranceRecognizer m_recognizer;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int, std::string> m_waiting;  // audio by index, not yet fed
    std::map<int, bool> m_seen;
    int m_next_index = 1;
    int m_last_index = 0;  // absolute index of the last piece once known
    bool m_closed = false;
    bool m_shutting_down = false;
    std::string m_failure;
    std::chrono::steady_clock::time_point m_last_activity;
};

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_SINGLE_REQUEST_H
