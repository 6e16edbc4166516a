// A scriptable HTTPS server on the loopback interfaces for tests: it listens on
// 127.0.0.1 and ::1 on one free port, records every request it receives and
// answers each as the test scripted it (a status and body, a chunked body in
// pieces with pauses, a stall, or a connection closed mid-body).
//
// Threading: the server answers on its own threads (std::thread, via
// cpp-httplib). Scripting, reading the record and release_stalls() may be done
// from any thread; stop() must not run on a server thread.
#ifndef VXS_TESTS_SUPPORT_LOOPBACK_HTTPS_SERVER_H
#define VXS_TESTS_SUPPORT_LOOPBACK_HTTPS_SERVER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_ca.h"

namespace httplib {
class SSLServer;
}

namespace vxs_test {

using Headers = std::vector<std::pair<std::string, std::string>>;

// A pause of this length lasts until release_stalls() or stop().
constexpr std::chrono::milliseconds kUntilReleased = std::chrono::milliseconds::max();

struct ChunkPiece {
    std::chrono::milliseconds pause_before{0};
    std::string bytes;
};

struct ScriptedReply {
    int status = 200;
    Headers headers;
    std::string content_type = "text/plain";
    // Sent with a Content-Length unless `chunked` is set.
    std::string body;
    // Sends `pieces` with chunked transfer encoding, each after its pause.
    bool chunked = false;
    std::vector<ChunkPiece> pieces;
    // Answers nothing until release_stalls() or stop(), then as scripted.
    bool stall = false;
    // When set (>= 0): announces the whole `body` but closes the connection
    // after this many of its bytes.
    long close_after_bytes = -1;
};

struct RecordedRequest {
    std::string method;
    std::string path;  // without the query
    std::string query;
    Headers headers;
    std::string body;
    std::string remote_address;
    // The first value of a header, matched without regard to case; "" if absent.
    std::string header(const std::string& name) const;
    bool has_header(const std::string& name) const;
};

class LoopbackHttpsServer {
public:
    // Serves TLS with `identity` (for example TestCa::issue_loopback_certificate()).
    explicit LoopbackHttpsServer(const KeyAndCertificate& identity);
    ~LoopbackHttpsServer();
    LoopbackHttpsServer(const LoopbackHttpsServer&) = delete;
    LoopbackHttpsServer& operator=(const LoopbackHttpsServer&) = delete;

    // Binds 127.0.0.1 on a free port and ::1 on the same port (when the host
    // has IPv6) and starts answering. False when no IPv4 port could be bound.
    bool start();
    void stop();

    int port() const { return m_port; }
    bool has_ipv6() const { return m_v6 != nullptr; }
    // "https://" + host + ":" + port + path; host as in a URL ("[::1]").
    std::string url(const std::string& host, const std::string& path) const;

    // The answer to every request that finds no queued reply.
    void set_default_reply(const ScriptedReply& reply);
    // Answers for the next requests, one each, in arrival order.
    void queue_reply(const ScriptedReply& reply);
    // Ends every stall and every kUntilReleased pause running now.
    void release_stalls();

    std::vector<RecordedRequest> requests() const;
    // True once at least `count` requests have arrived within `timeout`.
    bool wait_for_requests(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct State;
    bool start_family(httplib::SSLServer& server, std::thread& thread);
    void install_handlers(httplib::SSLServer& server);

    KeyAndCertificate m_identity;
    std::shared_ptr<State> m_state;
    std::unique_ptr<httplib::SSLServer> m_v4;
    std::unique_ptr<httplib::SSLServer> m_v6;
    std::thread m_v4_thread;
    std::thread m_v6_thread;
    int m_port = 0;
};

}  // namespace vxs_test

#endif  // VXS_TESTS_SUPPORT_LOOPBACK_HTTPS_SERVER_H
