// A loopback HTTPS endpoint for uploads that records each request body as it
// arrives, piece by piece, rather than once it is complete: it shows whether
// an upload is streamed and whether its body was ended or broken off. The
// body is recorded as sent whatever Content-Encoding the request declares.
//
// Threading: the server answers on its own threads; the readers and
// set_status() may be called from any thread.
#ifndef VXS_TESTS_NET_CHUNKED_STREAMING_UPLOAD_SERVER_H
#define VXS_TESTS_NET_CHUNKED_STREAMING_UPLOAD_SERVER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_ca.h"

namespace httplib {
class SSLServer;
}

namespace vxs_test {

struct StreamedUpload {
    std::string path;  // without the query
    std::string query;
    std::string host;               // the Host header
    std::string transfer_encoding;  // as declared
    std::string content_encoding;   // as declared
    std::string body;
    bool ended = false;      // the body is over, complete or broken off
    bool completed = false;  // it ended with its closing chunk
};

class StreamingUploadServer {
public:
    explicit StreamingUploadServer(const KeyAndCertificate& identity);
    ~StreamingUploadServer();
    StreamingUploadServer(const StreamingUploadServer&) = delete;
    StreamingUploadServer& operator=(const StreamingUploadServer&) = delete;

    // Listens on 127.0.0.1 on a free port and on ::1 on the same port when
    // the host has IPv6; false when no IPv4 port could be bound.
    bool start();
    bool has_ipv6() const { return m_v6_running; }
    // "https://" + host + ":" + port + path; host as in a URL ("[::1]").
    std::string url(const std::string& host, const std::string& path) const;
    int port() const { return m_port; }

    // The status of later answers (default 200).
    void set_status(int status);
    std::vector<StreamedUpload> uploads() const;
    // True once `done` holds for the uploads within `timeout`.
    bool wait_until(const std::function<bool(const std::vector<StreamedUpload>&)>& done,
                    std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<httplib::SSLServer> make_server(const KeyAndCertificate& identity);

    std::shared_ptr<State> m_state;
    std::unique_ptr<httplib::SSLServer> m_v4;
    std::unique_ptr<httplib::SSLServer> m_v6;
    std::thread m_v4_thread;
    std::thread m_v6_thread;
    bool m_v6_running = false;
    int m_port = 0;
};

}  // namespace vxs_test

#endif  // VXS_TESTS_NET_CHUNKED_STREAMING_UPLOAD_SERVER_H
