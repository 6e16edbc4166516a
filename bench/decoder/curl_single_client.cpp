#include "curl_single_client.h"

#include <cjson/cJSON.h>

#include <thread>
#include <vector>

#include "decoder/asr_request_builder.h"
#include "decoder/request_keys.h"
#include "request_material.h"

namespace decbench {

namespace {

constexpr auto kUtteranceLimit = std::chrono::seconds(30);
constexpr long kRequestTimeoutMs = 15000;

size_t collect_answer(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// "result.err_no" of a search-mode answer, and its first "content.item".
bool read_search_answer(const std::string& body, std::string* text, std::string* error) {
    cJSON* answer = cJSON_ParseWithLength(body.data(), body.size());
    const cJSON* err_no = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer, "result"), "err_no");
    const cJSON* items = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer, "content"), "item");
    const cJSON* first = cJSON_GetArrayItem(items, 0);
    const bool good = cJSON_IsNumber(err_no) && err_no->valuedouble == 0;
    if (!good) *error = "answer: " + body;
    if (good && cJSON_IsString(first)) *text = first->valuestring;
    cJSON_Delete(answer);
    return good;
}

}  // namespace

CurlSingleClient::CurlSingleClient(const std::string& server_url, const std::string& ca_path, int package_ms)
    : m_server_url(server_url), m_ca_path(ca_path), m_package_ms(package_ms) {
    for (CURL*& handle : m_handles) handle = curl_easy_init();
    const std::string content_type =
        std::string("Content-Type: multipart/form-data; boundary=") + vxs::ASR_REQUEST_CONTENT_BOUNDARY;
    m_headers = curl_slist_append(m_headers, content_type.c_str());
    m_headers = curl_slist_append(m_headers, "Expect:");
}

CurlSingleClient::~CurlSingleClient() {
    for (CURL* handle : m_handles) curl_easy_cleanup(handle);
    curl_slist_free_all(m_headers);
}

void CurlSingleClient::send_one(CURL* handle, const Body& body, Exchange* exchange) {
    std::string answer;
    curl_easy_reset(handle);
    curl_easy_setopt(handle, CURLOPT_URL, m_server_url.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.bytes.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.bytes.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &collect_answer);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(handle, CURLOPT_CAINFO, m_ca_path.c_str());
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, kRequestTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    const CURLcode result = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    std::string text, error;
    if (result != CURLE_OK) error = curl_easy_strerror(result);
    else if (status != 200) error = "HTTP status " + std::to_string(status);
    else read_search_answer(answer, &text, &error);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(exchange->mutex);
    if (!error.empty() && exchange->error.empty()) exchange->error = "request " + std::to_string(body.idx) + ": " + error;
    if (body.idx < 0) {
        exchange->final_seen = true;
        exchange->final_at = now;
        exchange->final_text = text;
    }
    exchange->changed.notify_all();
}

void CurlSingleClient::work(CURL* handle, Exchange* exchange) {
    for (;;) {
        Body body;
        {
            std::unique_lock<std::mutex> lock(exchange->mutex);
            exchange->changed.wait(lock, [&] { return !exchange->waiting.empty() || exchange->all_queued; });
            if (exchange->waiting.empty()) return;
            body = std::move(exchange->waiting.front());
            exchange->waiting.pop_front();
        }
        send_one(handle, body, exchange);
    }
}

UtteranceOutcome CurlSingleClient::run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                                       const Pacing& pacing) {
    UtteranceOutcome outcome;
    vxs::ParamMapPtr params = start_params(setting, m_package_ms, sn, m_server_url);
    vxs::JsonDocumentPtr recycled;
    PackageEncoder encoder(setting, utterance.packages.front().size());
    Exchange exchange;
    std::vector<std::thread> workers;
    for (CURL* handle : m_handles) workers.emplace_back([this, handle, &exchange] { work(handle, &exchange); });

    const Clock::time_point start = Clock::now();
    const size_t count = utterance.packages.size();
    Clock::time_point first_handed, last_handed;
    for (size_t i = 0; i < count && outcome.error.empty(); ++i) {
        std::this_thread::sleep_until(package_due(start, i, count, pacing));
        pass_gate(pacing, sn, i, count);
        const bool last = i + 1 == count;
        if (i == 0) first_handed = Clock::now();
        if (last) last_handed = Clock::now();
        std::string encoded;
        if (!encoder.encode(utterance.packages[i], &encoded)) {
            outcome.error = "encoder failed";
            break;
        }
        const int idx = last ? -static_cast<int>(i + 1) : static_cast<int>(i + 1);
        size_t length = 0;
        vxs::RequestBuildError build_error;
        auto body = vxs::ASRRequestBuilder::buildRequest(encoded.data(), encoded.size(), length, idx, params, recycled,
                                                         build_error, nullptr);
        if (!body) {
            outcome.error = "body: " + build_error.description;
            break;
        }
        std::lock_guard<std::mutex> lock(exchange.mutex);
        exchange.waiting.push_back(Body{idx, std::string(body.getPTR(), length)});
        exchange.changed.notify_all();
    }
    {
        std::unique_lock<std::mutex> lock(exchange.mutex);
        exchange.all_queued = true;
        exchange.changed.notify_all();
        if (outcome.error.empty()) {
            exchange.changed.wait_until(lock, start + kUtteranceLimit, [&] { return exchange.final_seen; });
            outcome.error = exchange.error;
            if (outcome.error.empty() && !exchange.final_seen) outcome.error = "no answer to the last package";
        }
        outcome.span_ms = ms_between(first_handed, last_handed);
        outcome.client_ms = ms_between(last_handed, exchange.final_at);
        outcome.text = exchange.final_text;
    }
    for (std::thread& worker : workers) worker.join();
    outcome.ok = outcome.error.empty();
    return outcome;
}

}  // namespace decbench
