// The synchronous request path: one libcurl easy transfer on the caller's
// thread, on an easy handle kept from an earlier transfer with the
// connections and TLS sessions it left.
#include <pthread.h>
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "core/log.h"
#include "net/address_pinning.h"
#include "net/http_request_maker.h"
#include "net/log_redaction.h"
#include "net/tls_settings.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;

namespace {

pthread_once_t g_curl_once = PTHREAD_ONCE_INIT;

// Easy handles between transfers. A finished transfer's handle is kept for
// the next one, on any thread, with the connections it left open and its TLS
// sessions: back-to-back requests to one server then skip the TCP and TLS
// handshakes (milliseconds each) and the making of a handle. libcurl reuses a
// connection only for the same host name, port and TLS settings (the CA
// bundle included). Nothing is shared between handles (no libcurl share):
// this libcurl cannot share connections between concurrent threads safely,
// and a TLS session resumed on two threads at once is kept alive by OpenSSL's
// internal counters, which the race checker cannot follow, so such sharing
// could not be shown to be safe. The pool is never destroyed: a host may
// clean libcurl up before the process ends, and no handle may be cleaned up
// after that.
class IdleHandles {
public:
    // A handle reset to its defaults, or a new one; null when none can be made.
    CURL* take(std::string* pinned) {
        Kept kept{nullptr, std::string()};
        {
            Threads::Synchronization::AppLock lock(&m_mutex);
            if (!m_idle.empty()) {
                kept = std::move(m_idle.back());
                m_idle.pop_back();
            }
        }
        *pinned = std::move(kept.pinned);
        if (kept.handle == nullptr) return curl_easy_init();
        curl_easy_reset(kept.handle);
        return kept.handle;
    }
    void give_back(CURL* handle, std::string pinned) {
        {
            Threads::Synchronization::AppLock lock(&m_mutex);
            if (m_idle.size() < kMaxIdle) {
                m_idle.push_back(Kept{handle, std::move(pinned)});
                return;
            }
        }
        curl_easy_cleanup(handle);
    }

private:
    // As many as there are transfers at once in a busy process.
    static constexpr size_t kMaxIdle = 16;
    struct Kept {
        CURL* handle;
        std::string pinned;  // "host:port" its last transfer pinned, or empty
    };
    Threads::Synchronization::AppMutex m_mutex{false};
    std::vector<Kept> m_idle;
};

IdleHandles* g_idle_handles = nullptr;

void init_curl_globally() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    g_idle_handles = new IdleHandles();
}

// Owns one libcurl string list.
class CurlList {
public:
    CurlList() = default;
    ~CurlList() { curl_slist_free_all(m_list); }
    CurlList(const CurlList&) = delete;
    CurlList& operator=(const CurlList&) = delete;

    bool append(const std::string& line) {
        curl_slist* grown = curl_slist_append(m_list, line.c_str());
        if (grown == nullptr) return false;
        m_list = grown;
        return true;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

// The easy handle of one synchronous transfer, from the idle ones and back.
// A handle remembers the names it was told to pin, so the pin of its previous
// transfer is taken back at the next one (unpin_entry()).
class CurlEasy {
public:
    CurlEasy() : m_handle(g_idle_handles->take(&m_pinned)) {}
    ~CurlEasy() {
        if (m_handle != nullptr) g_idle_handles->give_back(m_handle, std::move(m_pinned));
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CURL* get() const { return m_handle; }

    // The CURLOPT_RESOLVE line that removes the previous transfer's pin, or
    // an empty string; `pinned` ("host:port", or empty) is this transfer's.
    std::string unpin_entry(const std::string& pinned) {
        std::string previous;
        previous.swap(m_pinned);
        m_pinned = pinned;
        return previous.empty() ? previous : "-" + previous;
    }

private:
    std::string m_pinned;
    CURL* m_handle;
};

size_t receive_body(char* bytes, size_t size, size_t count, void* userdata) {
    auto* response = static_cast<vxs_HttpResponse*>(userdata);
    const size_t length = size * count;
    if (response == nullptr) {
        VXS_LOG_ERROR("[ASRHttpTask::http_receive_data_cb] response is NULL");
        return length;
    }
    if (length == 0) return 0;
    // A refused body (over the cap, out of memory) ends the transfer at once
    // instead of downloading the rest for nothing.
    return response->receive_new_data(bytes, length) ? length : 0;
}

int probe_cancellation(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* request = static_cast<vxs_HttpRequest*>(userdata);
    return (request == nullptr || request->isCancelled()) ? 1 : 0;
}

size_t parse_header_line(char* line, size_t size, size_t count, void* userdata) {
    auto* response = static_cast<vxs_HttpResponse*>(userdata);
    const size_t length = size * count;
    if (response == nullptr) return length;
    const std::string text(line, length);
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        // The status line and the empty line that ends the headers.
        response->setResponseHeader(text.substr(0, text.find_first_of("\r\n")), std::string());
        return length;
    }
    const std::string name = text.substr(0, colon);
    size_t value_begin = text.find_first_not_of(" \t", colon + 1);
    if (value_begin == std::string::npos) value_begin = text.size();
    size_t value_end = text.find_first_of("\r\n", value_begin);
    if (value_end == std::string::npos) value_end = text.size();
    const std::string value = text.substr(value_begin, value_end - value_begin);
    if (can_log(kLogTrace)) {
        // Cookies and the like may carry session secrets.
        const std::string shown = redact_for_log(value.data(), value.size());
        VXS_LOG_TRACE("HEADER_KEY: %s, VALUE: %s", name.c_str(), shown.c_str());
    }
    response->setResponseHeader(name, value);
    return length;
}

bool is_accept_encoding(const std::string& name) { return strcasecmp(name.c_str(), "Accept-Encoding") == 0; }

// "Accept-Encoding" goes to libcurl rather than onto the wire as it stands, so
// that libcurl also decodes what the server compressed.
bool build_header_list(const vxs_HttpRequest& request, CurlList& headers, std::string& accept_encoding,
                       bool& has_accept_encoding) {
    for (const auto& entry : request._HEADER_LIST) {
        if (is_accept_encoding(entry.first)) {
            accept_encoding = entry.second;
            has_accept_encoding = true;
            continue;
        }
        if (!headers.append(entry.first + ": " + entry.second)) return false;
    }
    return true;
}

struct TransferSetup {
    std::string url;
    std::string accept_encoding;
    bool has_accept_encoding = false;
    CurlList headers;
    CurlList resolve;
};

// "host:port" of a "host:port:address" line.
std::string pinned_name(const std::string& resolve_entry) {
    const size_t port_end = resolve_entry.find(':', resolve_entry.find(':') + 1);
    return port_end == std::string::npos ? std::string() : resolve_entry.substr(0, port_end);
}

bool prepare_transfer(const vxs_HttpRequest& request, CurlEasy& curl, TransferSetup& setup) {
    setup.url = request._URL.getPTR();
    if (!build_header_list(request, setup.headers, setup.accept_encoding, setup.has_accept_encoding)) return false;
    AddressPin pin;
    const bool pinned = !request._origin_URL.empty() && make_address_pin(request._origin_URL, setup.url, pin);
    const std::string unpin = curl.unpin_entry(pinned ? pinned_name(pin.resolve_entry) : std::string());
    if (!unpin.empty() && !setup.resolve.append(unpin)) return false;
    if (pinned) {
        setup.url = pin.connect_url;
        if (!setup.resolve.append(pin.resolve_entry)) return false;
    }
    return true;
}

CURLcode apply_options(CURL* curl, vxs_HttpRequest& request, vxs_HttpResponse& response, TransferSetup& setup,
                       char* error_buffer) {
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK) code = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_ERRORBUFFER, error_buffer);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_URL, setup.url.c_str());
    set(CURLOPT_VERBOSE, 0L);
    // Names are resolved afresh for every request, as with a new handle.
    set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    // Only web protocols: a URL from configuration must not read local files.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    if (request._TIMEOUT_MS > 0) set(CURLOPT_TIMEOUT_MS, static_cast<long>(request._TIMEOUT_MS));
    set(CURLOPT_HTTPHEADER, setup.headers.get());
    if (setup.resolve.get() != nullptr) set(CURLOPT_RESOLVE, setup.resolve.get());
    if (setup.has_accept_encoding) set(CURLOPT_ACCEPT_ENCODING, setup.accept_encoding.c_str());
    if (code == CURLE_OK) code = configure_tls_verification(curl);

    if (request._BODY_LENGTH > 0 && request._BODY_DATA.getPTR() != nullptr) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request._BODY_LENGTH));
        set(CURLOPT_POSTFIELDS, static_cast<const char*>(request._BODY_DATA.getPTR()));
    } else if (request._METHOD == HTTP_REQUEST_METHOD_POST) {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        set(CURLOPT_POSTFIELDS, "");
    }

    set(CURLOPT_WRITEFUNCTION, &receive_body);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&response));
    set(CURLOPT_XFERINFOFUNCTION, &probe_cancellation);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&request));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_HEADERFUNCTION, &parse_header_line);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&response));
    return code;
}

void record_failure(vxs_HttpResponse& response, CURLcode code, long status, const char* error_buffer) {
    response.set_http_status(static_cast<int32_t>(status));
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        response.set_local_request_error(HTTP_REQUEST_ABORTED);
        response.setErrorMessage(curl_easy_strerror(code));
        VXS_LOG_DEBUG("[ASRHttpTask::execute] curl is aborted by call back");
        return;
    }
    VXS_LOG_ERROR("[ASRHttpTask::execute][curl_code=%d] curl error!", static_cast<int>(code));
    // A body refused while receiving keeps its own error and text.
    if (response.get_local_request_error() != HTTP_REQUEST_OK) return;
    response.set_local_request_error(code == CURLE_OPERATION_TIMEDOUT ? HTTP_REQUEST_TIMEOUT
                                                                      : HTTP_REQUEST_HTTPS_REQ_ERROR);
    response.setErrorMessage(error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code));
}

void log_outcome(CURLcode code, const vxs_HttpResponse& response) {
    if (!can_log(kLogDebug)) return;
    const std::string shown = redact_for_log(response.get_response_data().getPTR(), response.body_length());
    VXS_LOG_DEBUG("[ASRHttpTask::execute] curl_code=%d, http_status=%d, body_len=%zu, body=%s",
                  static_cast<int>(code), static_cast<int>(response.get_http_status()), response.body_length(),
                  shown.c_str());
}

}  // namespace

vxs_shared_ptr<vxs_HttpResponse> vxs_http_request_maker::execute(vxs_shared_ptr<vxs_HttpRequest> request) {
    if (!request) {
        VXS_LOG_ERROR("[ASRHttpTask::execute] request is NULL");
        return vxs_shared_ptr<vxs_HttpResponse>();
    }
    if (request->_URL.getPTR() == nullptr || request->_URL.getPTR()[0] == '\0') {
        VXS_LOG_ERROR("[ASRHttpTask::execute] URL is NULL or empty");
        return vxs_shared_ptr<vxs_HttpResponse>();
    }
    pthread_once(&g_curl_once, &init_curl_globally);

    vxs_shared_ptr<vxs_HttpResponse> response = vxs_HttpResponse::alloc();
    if (!response) return response;

    CurlEasy curl;
    TransferSetup setup;
    char error_buffer[CURL_ERROR_SIZE] = {0};
    CURLcode code = CURLE_FAILED_INIT;
    if (curl.get() == nullptr) {
        VXS_LOG_ERROR("[ASRHttpTask::execute] init curl failed");
    } else if (!prepare_transfer(*request, curl, setup)) {
        code = CURLE_OUT_OF_MEMORY;
    } else {
        code = apply_options(curl.get(), *request, *response, setup, error_buffer);
        if (code == CURLE_OK) code = curl_easy_perform(curl.get());
    }

    long status = 0;
    if (curl.get() != nullptr) curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK) {
        response->set_http_status(static_cast<int32_t>(status));
    } else {
        record_failure(*response, code, status, error_buffer);
    }
    log_outcome(code, *response);
    return response;
}

}  // namespace Networking
}  // namespace vxs
