#include "support/loopback_https_server.h"

#include "support/header_stash.h"

#include <strings.h>

#include <functional>

#include <httplib.h>
#include <openssl/ssl.h>

namespace vxs_test {

namespace {

// cpp-httplib parses multipart bodies into parts and keeps no raw bytes; the
// type is moved aside under this name before the body is read, so that every
// body is recorded byte for byte.
constexpr const char* kStashedContentType = "X-Vxs-Stashed-Content-Type";

httplib::Server::HandlerResponse stash_multipart_type(const httplib::Request& request, httplib::Response&) {
    stash_header(request, "Content-Type", "multipart/", kStashedContentType);
    return httplib::Server::HandlerResponse::Unhandled;
}

}  // namespace

struct LoopbackHttpsServer::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<RecordedRequest> requests;
    std::deque<ScriptedReply> queued;
    ScriptedReply default_reply;
    unsigned long release_epoch = 0;
    bool stopping = false;

    // Waits `pause` (kUntilReleased: until released); false when the server stops.
    bool pause(std::chrono::milliseconds pause_length) {
        std::unique_lock<std::mutex> lock(mutex);
        const unsigned long epoch = release_epoch;
        auto done = [&] { return stopping || release_epoch != epoch; };
        if (pause_length == kUntilReleased) {
            changed.wait(lock, done);
        } else if (pause_length.count() > 0) {
            changed.wait_for(lock, pause_length, [&] { return stopping; });
        }
        return !stopping;
    }

    ScriptedReply record_and_pick(const httplib::Request& request) {
        RecordedRequest recorded;
        recorded.method = request.method;
        recorded.path = request.path;
        const size_t question = request.target.find('?');
        if (question != std::string::npos) recorded.query = request.target.substr(question + 1);
        for (const auto& header : request.headers) {
            const bool stashed = strcasecmp(header.first.c_str(), kStashedContentType) == 0;
            recorded.headers.emplace_back(stashed ? "Content-Type" : header.first, header.second);
        }
        recorded.body = request.body;
        recorded.remote_address = request.remote_addr;
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(std::move(recorded));
        changed.notify_all();
        if (queued.empty()) return default_reply;
        ScriptedReply reply = std::move(queued.front());
        queued.pop_front();
        return reply;
    }
};

namespace {

KeyAndCertificate share(const KeyAndCertificate& identity) {
    KeyAndCertificate copy;
    if (identity.key && EVP_PKEY_up_ref(identity.key.get()) == 1) copy.key.reset(identity.key.get());
    if (identity.cert && X509_up_ref(identity.cert.get()) == 1) copy.cert.reset(identity.cert.get());
    return copy;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& entry : headers) {
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) return entry.second;
    }
    return std::string();
}

bool RecordedRequest::has_header(const std::string& name) const {
    for (const auto& entry : headers) {
        if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

LoopbackHttpsServer::LoopbackHttpsServer(const KeyAndCertificate& identity)
    : m_identity(share(identity)), m_state(std::make_shared<State>()) {}

LoopbackHttpsServer::~LoopbackHttpsServer() { stop(); }

std::string LoopbackHttpsServer::url(const std::string& host, const std::string& path) const {
    return "https://" + host + ":" + std::to_string(m_port) + path;
}

void LoopbackHttpsServer::set_default_reply(const ScriptedReply& reply) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->default_reply = reply;
}

void LoopbackHttpsServer::queue_reply(const ScriptedReply& reply) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->queued.push_back(reply);
}

void LoopbackHttpsServer::release_stalls() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    ++m_state->release_epoch;
    m_state->changed.notify_all();
}

std::vector<RecordedRequest> LoopbackHttpsServer::requests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}

bool LoopbackHttpsServer::wait_for_requests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->requests.size() >= count; });
}

namespace {

std::unique_ptr<httplib::SSLServer> make_server(const KeyAndCertificate& identity) {
    X509* cert = identity.cert.get();
    EVP_PKEY* key = identity.key.get();
    auto server = std::make_unique<httplib::SSLServer>([cert, key](SSL_CTX& ctx) {
        SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
        return SSL_CTX_use_certificate(&ctx, cert) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1 &&
               SSL_CTX_check_private_key(&ctx) == 1;
    });
    // Bounds how long stop() waits for an idle kept-alive connection.
    server->set_keep_alive_timeout(1);
    // Small answers go out at once rather than waiting on delayed ACKs.
    server->set_tcp_nodelay(true);
    return server;
}

// `pause` waits as State::pause does.
void send_chunked(httplib::Response& response, const ScriptedReply& reply,
                  const std::function<bool(std::chrono::milliseconds)>& pause) {
    response.set_chunked_content_provider(reply.content_type, [reply, pause](size_t, httplib::DataSink& sink) {
        for (const ChunkPiece& piece : reply.pieces) {
            if (!pause(piece.pause_before)) return false;
            if (!piece.bytes.empty() && !sink.write(piece.bytes.data(), piece.bytes.size())) return false;
        }
        sink.done();
        return true;
    });
}

void send_cut_short(httplib::Response& response, const ScriptedReply& reply) {
    const size_t sent = std::min(static_cast<size_t>(reply.close_after_bytes), reply.body.size());
    response.set_content_provider(reply.body.size(), reply.content_type,
                                  [reply, sent](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset < sent) sink.write(reply.body.data() + offset, sent - offset);
                                      return false;  // closes the connection
                                  });
}

}  // namespace

void LoopbackHttpsServer::install_handlers(httplib::SSLServer& server) {
    std::shared_ptr<State> state = m_state;
    auto handler = [state](const httplib::Request& request, httplib::Response& response) {
        const ScriptedReply reply = state->record_and_pick(request);
        if (reply.stall && !state->pause(kUntilReleased)) {
            response.status = 503;
            return;
        }
        response.status = reply.status;
        for (const auto& header : reply.headers) response.set_header(header.first.c_str(), header.second.c_str());
        if (reply.chunked) {
            send_chunked(response, reply, [state](std::chrono::milliseconds length) { return state->pause(length); });
        } else if (reply.close_after_bytes >= 0) {
            send_cut_short(response, reply);
        } else {
            response.set_content(reply.body, reply.content_type.c_str());
        }
    };
    server.set_pre_routing_handler(&stash_multipart_type);
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
}

bool LoopbackHttpsServer::start_family(httplib::SSLServer& server, std::thread& thread) {
    install_handlers(server);
    thread = std::thread([&server] { server.listen_after_bind(); });
    for (int i = 0; i < 500 && !server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server.is_running();
}

bool LoopbackHttpsServer::start() {
    if (m_v4) return true;
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto v4 = make_server(m_identity);
        if (!v4->is_valid()) return false;
        const int port = v4->bind_to_any_port("127.0.0.1");
        if (port <= 0) continue;
        auto v6 = make_server(m_identity);
        const bool v6_bound = v6->bind_to_port("::1", port);
        // Another process may hold the port on ::1 only; try another one,
        // and after a few attempts accept a host without IPv6.
        if (!v6_bound && attempt < 5) continue;
        m_port = port;
        m_v4 = std::move(v4);
        if (!start_family(*m_v4, m_v4_thread)) {
            stop();
            return false;
        }
        if (v6_bound) {
            m_v6 = std::move(v6);
            if (!start_family(*m_v6, m_v6_thread)) m_v6.reset();
        }
        return true;
    }
    return false;
}

void LoopbackHttpsServer::stop() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stopping = true;
        m_state->changed.notify_all();
    }
    if (m_v4) m_v4->stop();
    if (m_v6) m_v6->stop();
    if (m_v4_thread.joinable()) m_v4_thread.join();
    if (m_v6_thread.joinable()) m_v6_thread.join();
    m_v4.reset();
    m_v6.reset();
}

}  // namespace vxs_test
