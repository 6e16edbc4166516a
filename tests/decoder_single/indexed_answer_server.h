// A loopback HTTPS server that speaks the single-request protocol well enough
// to test a client: it reads each multipart body's marked, compressed document
// ("idx", "glb", "tok"), records the request and answers by package index. A
// test scripts the answer to each index (status, body) and may hold any index
// until it releases it, so that answers can be made to arrive in any order.
// Without a script, a piece gets a search-mode partial answer with the text
// "GLB:piece N" and the last piece (negative index) a final one, "GLB:final".
//
// Threading: requests are answered on cpp-httplib's threads; scripting,
// releasing and reading the record may be done from any thread (one mutex).
#ifndef VXS_TESTS_DECODER_SINGLE_INDEXED_ANSWER_SERVER_H
#define VXS_TESTS_DECODER_SINGLE_INDEXED_ANSWER_SERVER_H

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_ca.h"

namespace httplib {
class SSLServer;
}

namespace decoder_single {

struct IndexedRequest {
    int idx = 0;
    std::string glb;
    std::string tok;
    std::string document;  // the inflated JSON text
    size_t audio_bytes = 0;
    std::string host;        // the Host header
    std::string user_agent;  // the User-Agent header
    std::string content_type;
};

struct IndexedReply {
    int status = 200;
    std::string body;
    bool hold = false;  // answer only once released
};

// A search-mode answer: {"result":{"err_no":..,"idx":..,"res_type":..},"content":{"item":[text]}}.
std::string search_answer(int idx, int res_type, const std::string& text, int err_no = 0);

class IndexedAnswerServer {
  public:
    explicit IndexedAnswerServer(const vxs_test::KeyAndCertificate& identity);
    ~IndexedAnswerServer();
    IndexedAnswerServer(const IndexedAnswerServer&) = delete;
    IndexedAnswerServer& operator=(const IndexedAnswerServer&) = delete;

    // Listens on 127.0.0.1 on a free port and on ::1 on the same port (when
    // the host has IPv6); false when no IPv4 port could be bound.
    bool start();
    void stop();
    int port() const { return m_port; }
    std::string url(const std::string& host, const std::string& path) const;

    // The answer to the request with this index (negative for the last piece).
    void script(int idx, const IndexedReply& reply);
    // Every request from now on is held until released (release_all or release).
    void hold_all(bool hold);
    void release(int idx);
    void release_all();

    std::vector<IndexedRequest> requests() const;
    std::vector<int> indexes() const;
    // True once `count` requests arrived within `timeout`.
    bool wait_for_requests(size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct State;
    vxs_test::KeyAndCertificate m_identity;
    std::shared_ptr<State> m_state;
    std::vector<std::unique_ptr<httplib::SSLServer>> m_servers;  // 127.0.0.1 and ::1
    std::vector<std::thread> m_threads;
    int m_port = 0;
};

}  // namespace decoder_single

#endif  // VXS_TESTS_DECODER_SINGLE_INDEXED_ANSWER_SERVER_H
