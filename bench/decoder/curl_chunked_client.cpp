#include "curl_chunked_client.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "decoder/asr_request_builder.h"
#include "decoder/request_keys.h"
#include "request_material.h"

namespace decbench {

namespace {

using Upload = CurlChunkedClient::Upload;
using Download = CurlChunkedClient::Download;

constexpr auto kUtteranceLimit = std::chrono::seconds(30);
// How often a waiting read callback looks at the abort flag.
constexpr auto kAbortCheck = std::chrono::milliseconds(100);
constexpr uint8_t kRecordFinal = 0xF1;
// Record lengths come off the network; refuse absurd ones.
constexpr uint32_t kMaxRecordLength = 1024 * 1024;

size_t read_upload(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    std::unique_lock<std::mutex> lock(upload->mutex);
    for (;;) {
        if (upload->abort->load()) return CURL_READFUNC_ABORT;
        if (upload->offset < upload->pending.size() || upload->ended) break;
        upload->changed.wait_for(lock, kAbortCheck);
    }
    const size_t taken = std::min(upload->pending.size() - upload->offset, size * count);
    memcpy(buffer, upload->pending.data() + upload->offset, taken);
    upload->offset += taken;
    return taken;  // 0 once ended and drained: the body's last chunk
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

int abort_when_asked(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

// The final record's JSON: its first recognised word, or an error.
void take_final_record(const std::string& payload, Download* download) {
    cJSON* answer = cJSON_ParseWithLength(payload.data(), payload.size());
    const cJSON* err_no = cJSON_GetObjectItemCaseSensitive(answer, "err_no");
    const cJSON* words = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer, "result"), "word");
    const cJSON* first = cJSON_GetArrayItem(words, 0);
    if (!cJSON_IsNumber(err_no) || err_no->valuedouble != 0) {
        download->error = "final record: " + payload;
    } else if (cJSON_IsString(first)) {
        download->final_text = first->valuestring;
    }
    cJSON_Delete(answer);
    download->final_seen = true;
    download->final_at = Clock::now();
}

// Frames the records received so far; a partial record waits for more bytes.
void take_records(Download* download) {
    size_t at = 0;
    std::string& bytes = download->bytes;
    while (bytes.size() - at >= 5) {
        const auto* head = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        const uint32_t length = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<uint32_t>(head[3]) << 24);
        if (length == 0 || length > kMaxRecordLength) {
            download->error = "download record of length " + std::to_string(length);
            bytes.clear();
            return;
        }
        if (bytes.size() - at < length + 4u) break;
        if (head[4] == kRecordFinal) take_final_record(bytes.substr(at + 5, length - 1), download);
        at += length + 4u;
    }
    bytes.erase(0, at);
}

size_t write_download(char* data, size_t size, size_t count, void* user) {
    auto* download = static_cast<Download*>(user);
    std::lock_guard<std::mutex> lock(download->mutex);
    download->bytes.append(data, size * count);
    const bool had_final = download->final_seen;
    take_records(download);
    if (download->final_seen != had_final || !download->error.empty()) download->changed.notify_all();
    return size * count;
}

void set_common_options(CURL* handle, const std::string& url, const std::string& ca_path, curl_slist* headers,
                        std::atomic<bool>* abort) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_CAINFO, ca_path.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &abort_when_asked);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, abort);
}

}  // namespace

CurlChunkedClient::CurlChunkedClient(const std::string& server_url, const std::string& ca_path, int package_ms)
    : m_server_url(server_url),
      m_ca_path(ca_path),
      m_package_ms(package_ms),
      m_up(curl_easy_init()),
      m_down(curl_easy_init()) {
    m_up_headers = curl_slist_append(m_up_headers, "Transfer-Encoding: chunked");
    m_up_headers = curl_slist_append(m_up_headers, "Content-Type: application/octet-stream");
    m_up_headers = curl_slist_append(m_up_headers, "Expect:");
    m_down_headers = curl_slist_append(m_down_headers, "Content-Type: application/octet-stream");
    m_down_headers = curl_slist_append(m_down_headers, "Expect:");
}

CurlChunkedClient::~CurlChunkedClient() {
    curl_easy_cleanup(m_up);
    curl_easy_cleanup(m_down);
    curl_slist_free_all(m_up_headers);
    curl_slist_free_all(m_down_headers);
}

void CurlChunkedClient::configure_upload(const std::string& sn, Upload* upload) {
    curl_easy_reset(m_up);
    set_common_options(m_up, m_server_url + "/up?sn=" + sn, m_ca_path, m_up_headers, upload->abort);
    curl_easy_setopt(m_up, CURLOPT_POST, 1L);
    curl_easy_setopt(m_up, CURLOPT_READFUNCTION, &read_upload);
    curl_easy_setopt(m_up, CURLOPT_READDATA, upload);
    curl_easy_setopt(m_up, CURLOPT_WRITEFUNCTION, &discard);
}

void CurlChunkedClient::configure_download(const std::string& sn, Download* download) {
    curl_easy_reset(m_down);
    set_common_options(m_down, m_server_url + "/down?sn=" + sn, m_ca_path, m_down_headers, download->abort);
    curl_easy_setopt(m_down, CURLOPT_POSTFIELDS, "1");
    curl_easy_setopt(m_down, CURLOPT_POSTFIELDSIZE, 1L);
    curl_easy_setopt(m_down, CURLOPT_WRITEFUNCTION, &write_download);
    curl_easy_setopt(m_down, CURLOPT_WRITEDATA, download);
}

UtteranceOutcome CurlChunkedClient::run(const Utterance& utterance, const CodecSetting& setting,
                                        const std::string& sn, const Pacing& pacing) {
    UtteranceOutcome outcome;
    vxs::ParamMapPtr params = start_params(setting, m_package_ms, sn, m_server_url);
    size_t length = 0;
    vxs::RequestBuildError build_error;
    auto param_packet = vxs::ASRRequestBuilder::buildChunkUpParams(params, length, build_error);
    PackageEncoder encoder(setting, utterance.packages.front().size());
    if (!param_packet || !encoder.valid()) {
        outcome.error = "parameter packet: " + build_error.description;
        return outcome;
    }
    std::atomic<bool> abort{false};
    Upload upload;
    Download download;
    upload.abort = &abort;
    download.abort = &abort;
    upload.pending.assign(param_packet.getPTR(), length);
    configure_upload(sn, &upload);
    configure_download(sn, &download);
    // The protocol ignores the upload's answer; the download tells the outcome.
    std::thread uploader([this] { curl_easy_perform(m_up); });
    std::thread downloader([&] {
        const CURLcode result = curl_easy_perform(m_down);
        long status = 0;
        curl_easy_getinfo(m_down, CURLINFO_RESPONSE_CODE, &status);
        std::lock_guard<std::mutex> lock(download.mutex);
        if (download.error.empty() && result != CURLE_OK) download.error = curl_easy_strerror(result);
        if (download.error.empty() && status != 200) download.error = "download status " + std::to_string(status);
        download.done = true;
        download.changed.notify_all();
    });

    const Clock::time_point start = Clock::now();
    const size_t count = utterance.packages.size();
    Clock::time_point first_handed, last_handed;
    for (size_t i = 0; i < count; ++i) {
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
        auto packet = vxs::ASRRequestBuilder::buildChunkData(encoded.data(), encoded.size(), vxs::TYPE_UPLOAD_AUDIO,
                                                             length);
        std::lock_guard<std::mutex> lock(upload.mutex);
        upload.pending.append(packet.getPTR(), length);
        if (last) {
            auto finish = vxs::ASRRequestBuilder::buildChunkData(nullptr, 0, vxs::TYPE_UPLOAD_FINISH, length);
            upload.pending.append(finish.getPTR(), length);
            upload.ended = true;
        }
        upload.changed.notify_all();
    }
    {
        std::unique_lock<std::mutex> lock(download.mutex);
        download.changed.wait_until(lock, start + kUtteranceLimit, [&] {
            return download.final_seen || download.done || !download.error.empty() || !outcome.error.empty();
        });
        if (outcome.error.empty()) outcome.error = download.error;
        if (outcome.error.empty() && !download.final_seen) outcome.error = "no final record";
        if (!outcome.error.empty()) abort = true;
        outcome.span_ms = ms_between(first_handed, last_handed);
        outcome.client_ms = ms_between(last_handed, download.final_at);
        outcome.text = download.final_text;
    }
    upload.changed.notify_all();
    downloader.join();
    uploader.join();
    outcome.ok = outcome.error.empty();
    return outcome;
}

}  // namespace decbench
