#include "decoder_single/indexed_answer_server.h"

#include <cjson/cJSON.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <zlib.h>

#include <cstdlib>

#include "support/header_stash.h"

namespace decoder_single {

namespace {

constexpr const char* kStashedContentType = "X-Vxs-Stashed-Content-Type";
const std::string kSeparator = "\r\n----VX**VR++LIB\r\n";

// The marked document (75 7B in place of the gzip magic) inflated.
bool inflate_marked(std::string bytes, std::string* text) {
    if (bytes.size() < 2 || bytes[0] != 'u' || bytes[1] != '{') return false;
    bytes[0] = '\x1f';
    bytes[1] = '\x8b';
    z_stream stream{};
    if (inflateInit2(&stream, 31) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(&bytes[0]);
    stream.avail_in = static_cast<uInt>(bytes.size());
    char buffer[4096];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof(buffer);
        status = inflate(&stream, Z_NO_FLUSH);
        text->append(buffer, sizeof(buffer) - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

std::string string_member(const cJSON* document, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(document, name);
    return cJSON_IsString(item) ? item->valuestring : "";
}

// Reads a body "\r\n--B\r\n" document "\r\n--B\r\n" audio "\r\n--B--\r\n".
bool read_body(const std::string& body, IndexedRequest* request) {
    if (body.compare(0, kSeparator.size(), kSeparator) != 0) return false;
    const size_t second = body.find(kSeparator, kSeparator.size());
    const std::string terminator = "\r\n----VX**VR++LIB--\r\n";
    if (second == std::string::npos || body.size() < second + kSeparator.size() + terminator.size())
        return false;
    if (!inflate_marked(body.substr(kSeparator.size(), second - kSeparator.size()),
                        &request->document))
        return false;
    request->audio_bytes = body.size() - terminator.size() - (second + kSeparator.size());
    cJSON* document = cJSON_Parse(request->document.c_str());
    if (document == nullptr) return false;
    request->idx = std::atoi(string_member(document, "idx").c_str());
    request->glb = string_member(document, "glb");
    request->tok = string_member(document, "tok");
    cJSON_Delete(document);
    return true;
}

std::unique_ptr<httplib::SSLServer> make_server(const vxs_test::KeyAndCertificate& identity) {
    X509* cert = identity.cert.get();
    EVP_PKEY* key = identity.key.get();
    auto server = std::make_unique<httplib::SSLServer>([cert, key](SSL_CTX& ctx) {
        return SSL_CTX_use_certificate(&ctx, cert) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1;
    });
    server->set_keep_alive_timeout(1);
    server->set_tcp_nodelay(true);
    return server;
}

}  // namespace

std::string search_answer(int idx, int res_type, const std::string& text, int err_no) {
    return "{\"result\":{\"err_no\":" + std::to_string(err_no) + ",\"idx\":" + std::to_string(idx) +
           ",\"res_type\":" + std::to_string(res_type) + "},\"content\":{\"item\":[\"" + text +
           "\"]}}";
}

struct IndexedAnswerServer::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<IndexedRequest> requests;
    std::map<int, IndexedReply> scripted;
    std::set<int> released;
    bool hold_all = false;
    bool release_everything = false;
    bool stopping = false;

    IndexedReply answer(const IndexedRequest& request) {
        std::unique_lock<std::mutex> lock(mutex);
        requests.push_back(request);
        changed.notify_all();
        IndexedReply reply;
        auto found = scripted.find(request.idx);
        if (found != scripted.end()) {
            reply = found->second;
        } else {
            const bool last = request.idx < 0;
            const std::string text =
                request.glb + (last ? ":final" : ":piece " + std::to_string(request.idx));
            reply.body = search_answer(request.idx, last ? 3 : 1, text);
        }
        if (reply.hold || hold_all) {
            changed.wait(lock, [&] {
                return stopping || release_everything || released.count(request.idx) > 0;
            });
            if (stopping) reply.status = 503;
        }
        return reply;
    }
};

IndexedAnswerServer::IndexedAnswerServer(const vxs_test::KeyAndCertificate& identity)
    : m_state(std::make_shared<State>()) {
    auto share = [](const vxs_test::KeyAndCertificate& from) {
        vxs_test::KeyAndCertificate copy;
        if (EVP_PKEY_up_ref(from.key.get()) == 1) copy.key.reset(from.key.get());
        if (X509_up_ref(from.cert.get()) == 1) copy.cert.reset(from.cert.get());
        return copy;
    };
    m_identity = share(identity);
}

IndexedAnswerServer::~IndexedAnswerServer() { stop(); }

bool IndexedAnswerServer::start() {
    std::shared_ptr<State> state = m_state;
    auto handler = [state](const httplib::Request& request, httplib::Response& response) {
        IndexedRequest recorded;
        recorded.host = request.get_header_value("Host");
        recorded.user_agent = request.get_header_value("User-Agent");
        recorded.content_type = request.get_header_value(kStashedContentType);
        if (!read_body(request.body, &recorded)) {
            response.status = 400;
            return;
        }
        const IndexedReply reply = state->answer(recorded);
        response.status = reply.status;
        response.set_content(reply.body, "application/json");
    };
    for (const char* host : {"127.0.0.1", "::1"}) {
        auto server = make_server(m_identity);
        if (!server->is_valid()) return false;
        server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
            vxs_test::stash_header(request, "Content-Type", "multipart/", kStashedContentType);
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server->Post(".*", handler);
        if (m_port == 0) {
            m_port = server->bind_to_any_port(host);
            if (m_port <= 0) return false;
        } else if (!server->bind_to_port(host, m_port)) {
            continue;  // no IPv6 loopback here
        }
        httplib::SSLServer* raw = server.get();
        m_threads.emplace_back([raw] { raw->listen_after_bind(); });
        for (int i = 0; i < 500 && !raw->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_servers.push_back(std::move(server));
    }
    return !m_servers.empty();
}

void IndexedAnswerServer::stop() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stopping = true;
        m_state->changed.notify_all();
    }
    for (auto& server : m_servers) server->stop();
    for (auto& thread : m_threads) {
        if (thread.joinable()) thread.join();
    }
    m_servers.clear();
    m_threads.clear();
}

std::string IndexedAnswerServer::url(const std::string& host, const std::string& path) const {
    return "https://" + host + ":" + std::to_string(m_port) + path;
}

void IndexedAnswerServer::script(int idx, const IndexedReply& reply) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->scripted[idx] = reply;
}

void IndexedAnswerServer::hold_all(bool hold) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->hold_all = hold;
}

void IndexedAnswerServer::release(int idx) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->released.insert(idx);
    m_state->changed.notify_all();
}

void IndexedAnswerServer::release_all() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->release_everything = true;
    m_state->changed.notify_all();
}

std::vector<IndexedRequest> IndexedAnswerServer::requests() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->requests;
}

std::vector<int> IndexedAnswerServer::indexes() const {
    std::vector<int> indexes;
    for (const IndexedRequest& request : requests()) indexes.push_back(request.idx);
    return indexes;
}

bool IndexedAnswerServer::wait_for_requests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout,
                                     [&] { return m_state->requests.size() >= count; });
}

}  // namespace decoder_single
