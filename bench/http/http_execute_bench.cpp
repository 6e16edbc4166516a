// Sequential synchronous HTTPS POSTs against the loopback server: the library's
// execute (one transfer per request, as the single-request decoder makes them,
// on a kept handle) against a minimal libcurl loop that keeps one easy handle,
// and with it the connection and TLS session, across requests; and, as a third
// figure, a fresh handle per request over a shared connection cache.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "net/http_request_maker.h"
#include "net/tls_settings.h"
#include "support/loopback_https_server.h"
#include "support/test_ca.h"

namespace {

using Clock = std::chrono::steady_clock;
using vxs::Networking::vxs_http_request_maker;
using vxs::Networking::vxs_HttpRequest;

constexpr int kRequests = 200;
constexpr int kWarmUp = 5;
constexpr size_t kBodyBytes = 5 * 1024;

double median_ms(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

double elapsed_ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

bool run_execute(const std::string& url, const std::string& body, std::vector<double>& samples) {
    for (int i = 0; i < kWarmUp + kRequests; ++i) {
        const Clock::time_point start = Clock::now();
        auto request = vxs_HttpRequest::requestWithUrl(url);
        request->_METHOD = vxs::Networking::HTTP_REQUEST_METHOD_POST;
        request->_TIMEOUT_MS = 15000;
        request->_HEADER_LIST["Content-Type"] = "application/octet-stream";
        request->_BODY_DATA = vxs::Memory::vxs_make_array<char>(body.size());
        std::copy(body.begin(), body.end(), request->_BODY_DATA.getPTR());
        request->_BODY_LENGTH = static_cast<int64_t>(body.size());
        auto response = vxs_http_request_maker::execute(request);
        if (!response || response->get_local_request_error() != 0 || response->get_http_status() != 200) {
            std::fprintf(stderr, "execute failed: %s\n", response ? response->getErrorMessage().c_str() : "none");
            return false;
        }
        if (i >= kWarmUp) samples.push_back(elapsed_ms(start));
    }
    return true;
}

size_t collect(char* bytes, size_t size, size_t count, void* userdata) {
    static_cast<std::string*>(userdata)->append(bytes, size * count);
    return size * count;
}

bool run_reused_handle(const std::string& url, const std::string& body, const std::string& ca_path,
                       std::vector<double>& samples) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca_path.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    bool ok = true;
    for (int i = 0; ok && i < kWarmUp + kRequests; ++i) {
        answer.clear();
        const Clock::time_point start = Clock::now();
        long status = 0;
        const CURLcode code = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        ok = code == CURLE_OK && status == 200;
        if (!ok) std::fprintf(stderr, "libcurl loop failed: %s\n", curl_easy_strerror(code));
        if (i >= kWarmUp) samples.push_back(elapsed_ms(start));
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return ok;
}

// What the single-request path could do without changing a byte on the wire:
// a fresh easy handle per request, as execute makes, attached to one libcurl
// share object that pools connections and TLS sessions.
class SharedConnectionCache {
public:
    SharedConnectionCache() : m_share(curl_share_init()) {
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &SharedConnectionCache::lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &SharedConnectionCache::unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
    ~SharedConnectionCache() { curl_share_cleanup(m_share); }
    CURLSH* get() const { return m_share; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<SharedConnectionCache*>(self)->m_locks[data % kLockSlots].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<SharedConnectionCache*>(self)->m_locks[data % kLockSlots].unlock();
    }
    static constexpr int kLockSlots = CURL_LOCK_DATA_LAST;
    CURLSH* m_share;
    std::mutex m_locks[kLockSlots];
};

bool run_fresh_handles_shared_cache(const std::string& url, const std::string& body, const std::string& ca_path,
                                    std::vector<double>& samples) {
    SharedConnectionCache cache;
    for (int i = 0; i < kWarmUp + kRequests; ++i) {
        const Clock::time_point start = Clock::now();
        CURL* curl = curl_easy_init();
        if (curl == nullptr) return false;
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
        std::string answer;
        curl_easy_setopt(curl, CURLOPT_SHARE, cache.get());
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca_path.c_str());
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
        long status = 0;
        const CURLcode code = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
        if (code != CURLE_OK || status != 200) {
            std::fprintf(stderr, "shared-cache loop failed: %s\n", curl_easy_strerror(code));
            return false;
        }
        if (i >= kWarmUp) samples.push_back(elapsed_ms(start));
    }
    return true;
}

}  // namespace

int main() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    vxs_test::TempDir dir;
    auto ca = vxs_test::TestCa::create("bench root");
    if (!ca || dir.path().empty() || !ca->write_cert_pem(dir.file("ca.pem"))) {
        std::fprintf(stderr, "could not make the test CA\n");
        return 1;
    }
    vxs_test::LoopbackHttpsServer server(ca->issue_loopback_certificate());
    vxs_test::ScriptedReply reply;
    reply.content_type = "application/json";
    reply.body = R"({"err_no":0,"result":["bench"],"idx":1})";
    server.set_default_reply(reply);
    if (!server.start()) {
        std::fprintf(stderr, "could not start the loopback server\n");
        return 1;
    }
    vxs::Networking::set_ca_bundle_path(dir.file("ca.pem"));

    const std::string url = server.url("localhost", "/v1/recognize");
    const std::string body(kBodyBytes, 'a');
    std::vector<double> execute_samples;
    std::vector<double> reused_samples;
    std::vector<double> shared_samples;
    if (!run_execute(url, body, execute_samples) ||
        !run_reused_handle(url, body, dir.file("ca.pem"), reused_samples) ||
        !run_fresh_handles_shared_cache(url, body, dir.file("ca.pem"), shared_samples)) {
        return 1;
    }
    const double execute_median = median_ms(execute_samples);
    const double reused_median = median_ms(reused_samples);
    std::printf("%d sequential HTTPS POSTs of %zu bytes to %s\n", kRequests, kBodyBytes, url.c_str());
    std::printf("execute (kept handles):           median %.3f ms\n", execute_median);
    std::printf("libcurl, one reused easy handle:  median %.3f ms\n", reused_median);
    std::printf("ratio execute / reused:           %.2f\n", execute_median / reused_median);
    std::printf("fresh handles, shared connection cache: median %.3f ms (ratio to reused %.2f)\n",
                median_ms(shared_samples), median_ms(shared_samples) / reused_median);
    server.stop();
    curl_global_cleanup();
    return 0;
}
