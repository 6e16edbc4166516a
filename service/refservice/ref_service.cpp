#include "ref_service.h"

#include <strings.h>

#include <chrono>
#include <cstdlib>

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include "answers.h"
#include "chunked_utterance.h"
#include "single_request.h"
#include "tlv_stream.h"

namespace vxs {
namespace refservice {

namespace {

// Request bodies other than the upload stream are small.
constexpr size_t kMaxRequestBody = 4u << 20;
constexpr const char* kStashedContentType = "X-Vxs-Stashed-Content-Type";
constexpr const char* kStashedContentEncoding = "X-Vxs-Stashed-Content-Encoding";
constexpr auto kSingleIdleLifetime = std::chrono::seconds(120);

// cpp-httplib acts on two request headers before a handler sees the body:
// it splits multipart bodies into parts and inflates bodies that declare
// "Content-Encoding: gzip". Both protocols need the body bytes as they came
// (chunked uploads declare gzip for a stream that is not one gzip member), so
// those headers are moved aside under names of our own first.
httplib::Server::HandlerResponse stash_body_headers(const httplib::Request& request, httplib::Response&) {
    auto& headers = const_cast<httplib::Request&>(request).headers;
    auto type = headers.find("Content-Type");
    if (type != headers.end() && strncasecmp(type->second.c_str(), "multipart/", 10) == 0) {
        const std::string value = type->second;
        headers.erase(type);
        headers.emplace(kStashedContentType, value);
    }
    auto encoding = headers.find("Content-Encoding");
    if (encoding != headers.end()) {
        const std::string value = encoding->second;
        headers.erase(encoding);
        headers.emplace(kStashedContentEncoding, value);
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

bool read_body(const httplib::ContentReader& reader, std::string* body) {
    bool within_limit = true;
    reader([&](const char* data, size_t size) {
        if (body->size() + size > kMaxRequestBody) {
            within_limit = false;
            return false;
        }
        body->append(data, size);
        return true;
    });
    return within_limit;
}

void answer_text(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text, "text/plain");
}

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

}  // namespace

struct RefService::Listener {
    ListenAddress address;
    std::unique_ptr<X509, X509Free> cert;
    std::unique_ptr<EVP_PKEY, PkeyFree> key;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
};

bool parse_listen_address(const std::string& text, ListenAddress* address, std::string* error) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        *error = "listen address must be ADDR:PORT: " + text;
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.back() != ']') {
            *error = "unclosed bracket in " + text;
            return false;
        }
        host = host.substr(1, host.size() - 2);
    }
    char* end = nullptr;
    const long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 0 || port > 65535 || host.empty()) {
        *error = "bad listen address " + text;
        return false;
    }
    address->host = host;
    address->port = static_cast<int>(port);
    return true;
}

std::string https_url(const ListenAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return "https://" + (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

RefService::RefService(ServiceOptions options)
    : m_options(std::move(options)),
      m_pool(m_options.model_dir, m_options.max_decoders),
      m_tokens(m_options.client_id, m_options.client_secret),
      m_faults(m_options.faults) {
    if (m_options.listen.empty()) m_options.listen = {{"127.0.0.1", 8443}, {"::1", 8443}};
}

RefService::~RefService() { stop(); }

bool RefService::start(std::string* error) {
    if (!m_listeners.empty()) return true;
    if (!m_options.log_path.empty() && !m_log.open_file(m_options.log_path)) {
        *error = "cannot open the log file " + m_options.log_path;
        return false;
    }
    if (!m_pool.warm_up(error)) return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = false;
    }
    for (const ListenAddress& wanted : m_options.listen) {
        auto listener = std::make_unique<Listener>();
        BIO* cert_bio = BIO_new_mem_buf(m_options.cert_pem.data(), static_cast<int>(m_options.cert_pem.size()));
        BIO* key_bio = BIO_new_mem_buf(m_options.key_pem.data(), static_cast<int>(m_options.key_pem.size()));
        listener->cert.reset(cert_bio ? PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr) : nullptr);
        listener->key.reset(key_bio ? PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr) : nullptr);
        BIO_free(cert_bio);
        BIO_free(key_bio);
        if (!listener->cert || !listener->key) {
            *error = "the certificate or key is not valid PEM";
            stop();
            return false;
        }
        X509* cert = listener->cert.get();
        EVP_PKEY* key = listener->key.get();
        listener->server = std::make_unique<httplib::SSLServer>([cert, key](SSL_CTX& ctx) {
            SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
            return SSL_CTX_use_certificate(&ctx, cert) == 1 && SSL_CTX_use_PrivateKey(&ctx, key) == 1 &&
                   SSL_CTX_check_private_key(&ctx) == 1;
        });
        httplib::SSLServer& server = *listener->server;
        // Every utterance holds two connections for its whole life.
        server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        server.set_read_timeout(60, 0);
        server.set_write_timeout(30, 0);
        server.set_keep_alive_timeout(2);
        server.set_tcp_nodelay(true);
        // The library's default also sets SO_REUSEPORT, which lets a second
        // service bind a port in use and split one utterance's connections.
        server.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        install_routes(server);
        listener->address = wanted;
        if (wanted.port == 0) {
            listener->address.port = server.bind_to_any_port(wanted.host);
        } else if (!server.bind_to_port(wanted.host, wanted.port)) {
            listener->address.port = -1;
        }
        if (listener->address.port <= 0) {
            *error = "cannot listen on " + https_url(wanted);
            stop();
            return false;
        }
        listener->thread = std::thread([&server] { server.listen_after_bind(); });
        for (int i = 0; i < 500 && !server.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_listeners.push_back(std::move(listener));
    }
    return true;
}

void RefService::stop() {
    std::vector<std::shared_ptr<ChunkedUtterance>> chunked;
    std::vector<std::shared_ptr<SingleUtterance>> single;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (auto& entry : m_chunked) chunked.push_back(entry.second);
        for (auto& entry : m_single) single.push_back(entry.second);
    }
    for (auto& utterance : chunked) utterance->shutdown();
    for (auto& utterance : single) utterance->shutdown();
    for (auto& listener : m_listeners) listener->server->stop();
    for (auto& listener : m_listeners) {
        if (listener->thread.joinable()) listener->thread.join();
    }
    m_listeners.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chunked.clear();
    m_single.clear();
}

std::vector<ListenAddress> RefService::addresses() const {
    std::vector<ListenAddress> bound;
    for (const auto& listener : m_listeners) bound.push_back(listener->address);
    return bound;
}

std::string RefService::base_url() const {
    return m_listeners.empty() ? std::string() : https_url(m_listeners.front()->address);
}

void RefService::set_faults(const FaultPlan& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

std::vector<std::string> RefService::utterance_events(const std::string& sn) const { return m_log.events(sn); }

std::vector<std::string> RefService::serial_numbers() const { return m_log.serial_numbers(); }

void RefService::install_routes(httplib::SSLServer& server) {
    using httplib::ContentReader;
    using httplib::Request;
    using httplib::Response;
    server.set_pre_routing_handler(&stash_body_headers);
    server.set_payload_max_length(kMaxRequestBody);
    // Registration order is match order: the token path and the two chunked
    // suffixes before the catch-all single-request route.
    server.Post(R"(.*/oauth/2\.0/token)", [this](const Request& q, Response& r, const ContentReader& c) {
        handle_token(q, r, c);
    });
    server.Post(R"(.*/up)", [this](const Request& q, Response& r, const ContentReader& c) { handle_upload(q, r, c); });
    server.Post(R"(.*/down)",
                [this](const Request& q, Response& r, const ContentReader& c) { handle_download(q, r, c); });
    server.Post(R"(.*)", [this](const Request& q, Response& r, const ContentReader& c) { handle_single(q, r, c); });
}

FaultPlan RefService::faults_for(const httplib::Request& request, std::string* error) const {
    FaultPlan plan;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        plan = m_faults;
    }
    FaultPlan own;
    const std::string from_path = fault_text_from_path(request.path);
    if (!from_path.empty() && !parse_fault_plan(from_path, &own, error)) return plan;
    if (request.has_header(kFaultHeader) && !parse_fault_plan(request.get_header_value(kFaultHeader), &own, error)) {
        return plan;
    }
    plan.merge(own);
    return plan;
}

void RefService::forget_finished() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_chunked.begin(); it != m_chunked.end();) {
        it = it->second->finished(now) ? m_chunked.erase(it) : std::next(it);
    }
    for (auto it = m_single.begin(); it != m_single.end();) {
        // Closed utterances stay a while, so that late pieces are refused
        // rather than taken for a new utterance.
        const bool idle = now - it->second->last_activity() > kSingleIdleLifetime;
        it = idle ? m_single.erase(it) : std::next(it);
    }
}

std::shared_ptr<ChunkedUtterance> RefService::chunked_utterance(const std::string& sn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return nullptr;
    forget_finished();
    auto found = m_chunked.find(sn);
    if (found != m_chunked.end()) return found->second;
    auto utterance = std::make_shared<ChunkedUtterance>(sn, m_pool, m_log, FaultPlan());
    m_chunked.emplace(sn, utterance);
    return utterance;
}

std::shared_ptr<SingleUtterance> RefService::single_utterance(const std::string& sn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return nullptr;
    forget_finished();
    auto found = m_single.find(sn);
    if (found != m_single.end()) return found->second;
    auto utterance = std::make_shared<SingleUtterance>(sn, m_pool, m_log);
    m_single.emplace(sn, utterance);
    return utterance;
}

void RefService::handle_token(const httplib::Request&, httplib::Response& response,
                              const httplib::ContentReader& reader) {
    std::string body;
    if (!read_body(reader, &body)) return answer_text(response, 413, "body too large");
    const TokenAnswer answer = m_tokens.answer(body);
    m_log.record_number("token:" + answer.client_id, "token_request", "status", answer.status);
    response.status = answer.status;
    response.set_content(answer.body, "application/json");
}

std::shared_ptr<ChunkedUtterance> RefService::open_chunked_connection(const httplib::Request& request,
                                                                     httplib::Response& response,
                                                                     const char* event, FaultPlan* plan) {
    const std::string sn = request.get_param_value("sn");
    if (sn.empty()) {
        answer_text(response, 400, "missing sn");
        return nullptr;
    }
    std::string fault_error;
    *plan = faults_for(request, &fault_error);
    if (!fault_error.empty()) {
        answer_text(response, 400, fault_error);
        return nullptr;
    }
    std::shared_ptr<ChunkedUtterance> utterance = chunked_utterance(sn);
    if (!utterance) {
        answer_text(response, 503, "stopping");
        return nullptr;
    }
    utterance->add_faults(*plan);
    m_log.record_text(sn, event, "path", request.path);
    return utterance;
}

void RefService::handle_upload(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
    FaultPlan plan;
    std::shared_ptr<ChunkedUtterance> utterance = open_chunked_connection(request, response, "upload_open", &plan);
    if (!utterance) return;
    const std::string sn = request.get_param_value("sn");
    if (plan.up_status != 0) {
        utterance->upload_refused(plan.up_status);
        // The body is read to its end first: a client still sending would
        // see a broken connection instead of the status.
        reader([](const char*, size_t) { return true; });
        return answer_text(response, plan.up_status, "upload refused by fault injection");
    }
    utterance->upload_started();
    TlvStreamReader packets([&](uint8_t type, const uint8_t* payload, size_t size) {
        return utterance->on_packet(type, payload, size);
    });
    bool stopped_early = false;
    reader([&](const char* data, size_t size) {
        if (stopped_early) return true;  // read the rest so the answer can go out
        if (!packets.feed(reinterpret_cast<const uint8_t*>(data), size)) stopped_early = true;
        return true;
    });
    std::string stream_error;
    if (!stopped_early && packets.pending() > 0) stream_error = "upload ended inside a packet";
    if (stopped_early && !packets.error().empty() && packets.error() != "packet refused") stream_error = packets.error();
    utterance->upload_ended(stream_error);
    const std::string failure = utterance->error();
    m_log.record(sn, "upload_closed", nullptr);
    if (!failure.empty()) return answer_text(response, 400, failure);
    answer_text(response, 200, "");
}

void RefService::handle_download(const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& reader) {
    std::string ignored;
    read_body(reader, &ignored);
    FaultPlan plan;
    std::shared_ptr<ChunkedUtterance> utterance = open_chunked_connection(request, response, "download_open", &plan);
    if (!utterance) return;
    if (plan.down_status != 0) {
        utterance->download_refused(plan.down_status);
        return answer_text(response, plan.down_status, "download refused by fault injection");
    }
    response.status = 200;
    response.set_chunked_content_provider("application/octet-stream", [utterance](size_t, httplib::DataSink& sink) {
        const bool normal = utterance->serve_download([&sink](const std::string& bytes) {
            return sink.write(bytes.data(), bytes.size());
        });
        if (!normal) return false;  // drops the connection without the last chunk
        sink.done();
        return true;
    });
}

void RefService::handle_single(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
    std::string body;
    if (!read_body(reader, &body)) return answer_text(response, 413, "body too large");
    std::string fault_error;
    const FaultPlan plan = faults_for(request, &fault_error);
    if (!fault_error.empty()) return answer_text(response, 400, fault_error);
    SingleRequest parsed;
    std::string reason;
    if (!parse_single_request(body, &parsed, &reason)) {
        m_log.record_text("unparsed", "error", "reason", reason);
        response.status = 400;
        response.set_content(single_answer("", kErrParams, 0, kResTypeSingleFinish, "", "", reason),
                             "application/json");
        return;
    }
    cJSON* fields = cJSON_CreateObject();
    cJSON_AddNumberToObject(fields, "idx", parsed.idx);
    cJSON_AddNumberToObject(fields, "audio_bytes", static_cast<double>(parsed.audio.size()));
    cJSON_AddStringToObject(fields, "ptc", parsed.ptc.c_str());
    cJSON_AddStringToObject(fields, "pdt", parsed.pdt.c_str());
    cJSON_AddStringToObject(fields, "document", parsed.document_text.c_str());
    m_log.record(parsed.glb, "request", fields);
    if (m_options.require_token && !m_tokens.is_valid(parsed.tok)) {
        const std::string why = parsed.tok.empty() ? "missing access token" : "invalid access token";
        m_log.record_text(parsed.glb, "error", "reason", why);
        response.status = 401;
        response.set_content(single_answer(parsed.ptc, kErrAppUnknown, parsed.idx, kResTypeSingleFinish, "",
                                           parsed.glb, why),
                             "application/json");
        return;
    }
    if (plan.request_status != 0) {
        m_log.record_number(parsed.glb, "request_refused", "status", plan.request_status);
        return answer_text(response, plan.request_status, "request refused by fault injection");
    }
    std::shared_ptr<SingleUtterance> utterance = single_utterance(parsed.glb);
    if (!utterance) return answer_text(response, 503, "stopping");
    const SingleAnswer answer = utterance->handle(parsed, plan);
    cJSON* sent = cJSON_CreateObject();
    cJSON_AddNumberToObject(sent, "idx", parsed.idx);
    cJSON_AddNumberToObject(sent, "status", answer.status);
    cJSON_AddStringToObject(sent, "body", answer.body.c_str());
    m_log.record(parsed.glb, "answer", sent);
    response.status = answer.status;
    response.set_content(answer.body, "application/json");
}

}  // namespace refservice
}  // namespace vxs
