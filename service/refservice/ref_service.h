// The reference recognition service: an HTTPS server that speaks both
// recognition protocols (chunked up/down and single requests, under any base
// path) and the token endpoint, recognising speech with pocketsphinx. Tests
// start it in-process; the vxs-refservice program wraps it.
//
// Threading: start() and stop() from one controlling thread (never from a
// server thread); set_faults() and the queries from any thread. Requests are
// answered on the servers' own thread pools.
#ifndef VXS_SERVICE_REFSERVICE_REF_SERVICE_H
#define VXS_SERVICE_REFSERVICE_REF_SERVICE_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fault_plan.h"
#include "recognizer.h"
#include "token_service.h"
#include "utterance_log.h"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace vxs {
namespace refservice {

class ChunkedUtterance;
class SingleUtterance;

struct ListenAddress {
    std::string host;  // "127.0.0.1", "::1", ...
    int port = 0;      // 0 picks a free port
};

// Parses "ADDR:PORT" or "[ADDR]:PORT".
bool parse_listen_address(const std::string& text, ListenAddress* address, std::string* error);
// "https://ADDR:PORT" with IPv6 addresses in brackets.
std::string https_url(const ListenAddress& address);

struct ServiceOptions {
    std::vector<ListenAddress> listen;  // empty: 127.0.0.1 and ::1 on port 8443
    std::string cert_pem;
    std::string key_pem;
    std::string client_id;
    std::string client_secret;
    bool require_token = false;
    std::string model_dir = kDefaultModelDir;
    size_t max_decoders = 16;
    std::string log_path;  // JSON lines; empty for none
    FaultPlan faults;
};

class RefService {
public:
    explicit RefService(ServiceOptions options);
    ~RefService();
    RefService(const RefService&) = delete;
    RefService& operator=(const RefService&) = delete;

    // Loads the model, binds every address and starts answering; false with
    // a reason when any of it fails (nothing is left running then).
    bool start(std::string* error);
    void stop();

    // The bound addresses, ports resolved, in the order asked for.
    std::vector<ListenAddress> addresses() const;
    // The base URL on the first address, e.g. "https://127.0.0.1:41234".
    std::string base_url() const;

    // Faults for every utterance from now on (replacing the earlier set).
    void set_faults(const FaultPlan& faults);
    // The events logged for one utterance (JSON lines) and the serial
    // numbers seen.
    std::vector<std::string> utterance_events(const std::string& sn) const;
    std::vector<std::string> serial_numbers() const;

private:
    struct Listener;

    void install_routes(httplib::SSLServer& server);
    void handle_token(const httplib::Request& request, httplib::Response& response,
                      const httplib::ContentReader& reader);
    void handle_upload(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader);
    void handle_download(const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& reader);
    void handle_single(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader);

    FaultPlan faults_for(const httplib::Request& request, std::string* error) const;
    std::shared_ptr<ChunkedUtterance> chunked_utterance(const std::string& sn);
    // The common start of both chunked connections: the serial number, the
    // fault plan and the utterance they belong to; null once an error answer
    // has been given.
    std::shared_ptr<ChunkedUtterance> open_chunked_connection(const httplib::Request& request,
                                                              httplib::Response& response, const char* event,
                                                              FaultPlan* plan);
    std::shared_ptr<SingleUtterance> single_utterance(const std::string& sn);
    void forget_finished();

    ServiceOptions m_options;
    DecoderPool m_pool;
    UtteranceLog m_log;
    TokenService m_tokens;
    std::vector<std::unique_ptr<Listener>> m_listeners;

    mutable std::mutex m_mutex;
    FaultPlan m_faults;
    std::map<std::string, std::shared_ptr<ChunkedUtterance>> m_chunked;
    std::map<std::string, std::shared_ptr<SingleUtterance>> m_single;
    bool m_stopping = false;
};

// The text of "vxs-refservice --help".
std::string help_text();

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_REF_SERVICE_H
