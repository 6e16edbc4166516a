#include "net_chunked/streaming_upload_server.h"

#include <httplib.h>

#include "support/header_stash.h"

namespace vxs_test {

namespace {

// The declared encoding is moved aside before the body is read, so that the
// server records the bytes as they came instead of trying to decode them.
constexpr const char* kDeclaredEncoding = "X-Vxs-Declared-Content-Encoding";

httplib::Server::HandlerResponse stash_content_encoding(const httplib::Request& request, httplib::Response&) {
    stash_header(request, "Content-Encoding", "", kDeclaredEncoding);
    return httplib::Server::HandlerResponse::Unhandled;
}

}  // namespace

struct StreamingUploadServer::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<StreamedUpload> uploads;
    int status = 200;

    size_t begin(const httplib::Request& request) {
        StreamedUpload upload;
        upload.path = request.path;
        const size_t question = request.target.find('?');
        if (question != std::string::npos) upload.query = request.target.substr(question + 1);
        upload.host = request.get_header_value("Host");
        upload.transfer_encoding = request.get_header_value("Transfer-Encoding");
        upload.content_encoding = request.get_header_value(kDeclaredEncoding);
        std::lock_guard<std::mutex> lock(mutex);
        uploads.push_back(upload);
        changed.notify_all();
        return uploads.size() - 1;
    }
    void append(size_t index, const char* data, size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        uploads[index].body.append(data, length);
        changed.notify_all();
    }
    int end(size_t index, bool completed) {
        std::lock_guard<std::mutex> lock(mutex);
        uploads[index].ended = true;
        uploads[index].completed = completed;
        changed.notify_all();
        return status;
    }
};

StreamingUploadServer::StreamingUploadServer(const KeyAndCertificate& identity)
    : m_state(std::make_shared<State>()), m_v4(make_server(identity)), m_v6(make_server(identity)) {}

StreamingUploadServer::~StreamingUploadServer() {
    m_v4->stop();
    m_v6->stop();
    if (m_v4_thread.joinable()) m_v4_thread.join();
    if (m_v6_thread.joinable()) m_v6_thread.join();
}

std::unique_ptr<httplib::SSLServer> StreamingUploadServer::make_server(const KeyAndCertificate& identity) {
    auto server = std::make_unique<httplib::SSLServer>(identity.cert.get(), identity.key.get());
    std::shared_ptr<State> state = m_state;
    server->set_pre_routing_handler(&stash_content_encoding);
    server->Post(".*", [state](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& content) {
        const size_t index = state->begin(request);
        const bool completed = content([state, index](const char* data, size_t length) {
            state->append(index, data, length);
            return true;
        });
        response.status = state->end(index, completed);
        response.set_content("ok", "text/plain");
    });
    server->set_keep_alive_timeout(1);
    server->set_tcp_nodelay(true);
    return server;
}

bool StreamingUploadServer::start() {
    if (!m_v4->is_valid()) return false;
    m_port = m_v4->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) return false;
    auto run = [](httplib::SSLServer& server, std::thread& thread) {
        thread = std::thread([&server] { server.listen_after_bind(); });
        for (int i = 0; i < 500 && !server.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return server.is_running();
    };
    if (m_v6->is_valid() && m_v6->bind_to_port("::1", m_port)) m_v6_running = run(*m_v6, m_v6_thread);
    return run(*m_v4, m_v4_thread);
}

std::string StreamingUploadServer::url(const std::string& host, const std::string& path) const {
    return "https://" + host + ":" + std::to_string(m_port) + path;
}

void StreamingUploadServer::set_status(int status) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->status = status;
}

std::vector<StreamedUpload> StreamingUploadServer::uploads() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->uploads;
}

bool StreamingUploadServer::wait_until(const std::function<bool(const std::vector<StreamedUpload>&)>& done,
                                       std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return done(m_state->uploads); });
}

}  // namespace vxs_test
