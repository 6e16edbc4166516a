#include "refservice_client.h"

#include <curl/curl.h>
#include <pocketsphinx.h>
#include <soxr.h>
#include <zlib.h>

#include <cjson/cJSON.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "audio/audio_encoder_factory.h"

namespace refclient {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct CurlHeaders {
    curl_slist* list = nullptr;
    ~CurlHeaders() { curl_slist_free_all(list); }
    void add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

void set_tls(CURL* curl, const std::string& ca_pem) {
    curl_blob blob{const_cast<char*>(ca_pem.data()), ca_pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 90L);
}

size_t append_to_string(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

uint32_t le32(const char* bytes) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

struct DownloadState {
    Clock::time_point start;
    std::mutex mutex;
    std::string bytes;
    std::vector<double> record_times;  // arrival time of each record completed
    size_t parsed = 0;
};

size_t on_download(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<DownloadState*>(user);
    std::lock_guard<std::mutex> lock(state->mutex);
    state->bytes.append(data, size * count);
    const double now = ms_since(state->start);
    while (state->bytes.size() - state->parsed >= 4) {
        const uint32_t length = le32(state->bytes.data() + state->parsed);
        if (state->bytes.size() - state->parsed - 4 < length) break;
        state->parsed += 4 + length;
        state->record_times.push_back(now);
    }
    return size * count;
}

struct UploadState {
    Clock::time_point start;
    const std::vector<std::string>* packets = nullptr;
    std::chrono::milliseconds pace{0};
    size_t index = 0;
    size_t offset = 0;
    Clock::time_point next_due;
    double finish_sent_ms = -1;
};

size_t on_upload(char* buffer, size_t size, size_t count, void* user) {
    auto* state = static_cast<UploadState*>(user);
    if (state->index >= state->packets->size()) return 0;
    const std::string& current = (*state->packets)[state->index];
    if (state->offset == 0 && current.size() > 4 && static_cast<uint8_t>(current[4]) == 1 && state->pace.count() > 0) {
        std::this_thread::sleep_until(state->next_due);
        state->next_due += state->pace;
    }
    const size_t n = std::min(size * count, current.size() - state->offset);
    std::memcpy(buffer, current.data() + state->offset, n);
    state->offset += n;
    if (state->offset == current.size()) {
        if (current.size() == 5 && static_cast<uint8_t>(current[4]) == 3) state->finish_sent_ms = ms_since(state->start);
        ++state->index;
        state->offset = 0;
    }
    return n;
}

}  // namespace

std::vector<int16_t> load_audio(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    size_t length = bytes.size();
    if (bytes.compare(0, 4, "RIFF") == 0) {
        for (size_t at = 12; at + 8 <= bytes.size();) {
            const uint32_t chunk = le32(bytes.data() + at + 4);
            if (bytes.compare(at, 4, "data") == 0) {
                start = at + 8;
                length = std::min<size_t>(chunk, bytes.size() - start);
                break;
            }
            at += 8 + chunk + (chunk & 1);
        }
    }
    std::vector<int16_t> pcm(length / 2);
    std::memcpy(pcm.data(), bytes.data() + start, pcm.size() * 2);
    return pcm;
}

std::vector<int16_t> resample(const std::vector<int16_t>& pcm, int from_rate, int to_rate) {
    std::vector<int16_t> out(pcm.size() * to_rate / from_rate + 64);
    size_t done = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    soxr_oneshot(from_rate, to_rate, 1, pcm.data(), pcm.size(), nullptr, out.data(), out.size(), &done, &io, nullptr,
                 nullptr);
    out.resize(done);
    return out;
}

std::vector<std::string> encode_packages(int compression, int rate, const std::vector<int16_t>& pcm,
                                         long* pcm_samples) {
    auto encoder = vxs::createAudioEncoder(compression, rate);
    std::vector<std::string> packages;
    if (!encoder) return packages;
    const size_t frame = static_cast<size_t>(encoder->getEncoderFrameSize_bytes());
    size_t package_bytes = static_cast<size_t>(rate * 0.16 * 2);
    package_bytes = (package_bytes + frame - 1) / frame * frame;
    std::vector<uint8_t> input(package_bytes);
    std::vector<uint8_t> output(package_bytes + 4);
    const size_t total = pcm.size() * 2;
    long fed = 0;
    for (size_t offset = 0; offset < total; offset += package_bytes) {
        const size_t chunk = std::min(package_bytes, total - offset);
        const size_t padded = (chunk + frame - 1) / frame * frame;
        std::memcpy(input.data(), reinterpret_cast<const uint8_t*>(pcm.data()) + offset, chunk);
        std::memset(input.data() + chunk, 0, padded - chunk);
        const int written = encoder->encodeSamples(input.data(), static_cast<int>(padded), output.data(),
                                                   static_cast<int>(output.size()));
        if (written <= 0) return {};
        packages.emplace_back(reinterpret_cast<const char*>(output.data()), static_cast<size_t>(written));
        fed += static_cast<long>(padded / 2);
    }
    if (pcm_samples) *pcm_samples = fed;
    return packages;
}

std::string marked_gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    out[0] = 0x75;
    out[1] = 0x7B;
    return out;
}

std::string packet(uint8_t type, const std::string& payload) {
    const uint32_t length = static_cast<uint32_t>(payload.size() + 1);
    std::string out;
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((length >> shift) & 0xFF));
    out.push_back(static_cast<char>(type));
    return out + payload;
}

std::string chunk_params_json(const std::string& sn, int rate) {
    std::ostringstream json;
    json << "{\"key\":\"test-key\",\"cuid\":\"test-device\",\"pfm\":\"Linux&1\",\"ver\":\"Core_3.0.0\","
         << "\"pid\":1536,\"smr\":" << rate << ",\"sn\":\"" << sn << "\",\"fun\":262145}";
    return json.str();
}

std::vector<std::string> utterance_packets(const std::string& sn, int rate, const std::vector<std::string>& audio) {
    std::vector<std::string> packets;
    packets.push_back(packet(0, marked_gzip(chunk_params_json(sn, rate))));
    for (const std::string& package : audio) packets.push_back(packet(1, package));
    packets.push_back(packet(3, ""));
    return packets;
}

std::vector<DownloadRecord> parse_records(const std::string& bytes, std::string* trailing) {
    std::vector<DownloadRecord> records;
    size_t at = 0;
    while (bytes.size() - at >= 5) {
        const uint32_t length = le32(bytes.data() + at);
        if (length == 0 || bytes.size() - at - 4 < length) break;
        DownloadRecord record;
        record.type = static_cast<uint8_t>(bytes[at + 4]);
        record.payload = bytes.substr(at + 5, length - 1);
        records.push_back(record);
        at += 4 + length;
    }
    if (trailing) *trailing = bytes.substr(at);
    return records;
}

ChunkedOutcome run_chunked(const ChunkedRequest& request) {
    ChunkedOutcome outcome;
    const Clock::time_point start = Clock::now();
    DownloadState download;
    download.start = start;
    std::thread download_thread([&] {
        CURL* curl = curl_easy_init();
        CurlHeaders headers;
        for (const std::string& line : request.headers) headers.add(line);
        const std::string url = request.base_url + "/down?sn=" + request.sn;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        set_tls(curl, request.ca_pem);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "1");
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_download);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
        outcome.download_curl_code = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.download_status);
        curl_easy_cleanup(curl);
    });

    UploadState upload;
    upload.start = start;
    upload.packets = &request.packets;
    upload.pace = request.pace;
    upload.next_due = start;
    CURL* curl = curl_easy_init();
    CurlHeaders headers;
    for (const std::string& line : request.headers) headers.add(line);
    headers.add("Transfer-Encoding: chunked");
    // Declared by the library's uploads too, although the stream is not one
    // gzip member: the service must take the bytes as they come.
    headers.add("Content-Encoding: gzip");
    headers.add("Expect:");
    const std::string url = request.base_url + "/up?sn=" + request.sn;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    set_tls(curl, request.ca_pem);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &on_upload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append_to_string);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &outcome.upload_body);
    curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.upload_status);
    curl_easy_cleanup(curl);
    download_thread.join();

    outcome.finish_sent_ms = upload.finish_sent_ms;
    outcome.records = parse_records(download.bytes, &outcome.trailing);
    for (size_t i = 0; i < outcome.records.size() && i < download.record_times.size(); ++i) {
        outcome.records[i].at_ms = download.record_times[i];
        if (outcome.records[i].type == 0xF3) outcome.end_record_ms = download.record_times[i];
    }
    return outcome;
}

HttpAnswer post(const std::string& url, const std::string& ca_pem, const std::string& body,
                const std::vector<std::string>& headers) {
    HttpAnswer answer;
    CURL* curl = curl_easy_init();
    CurlHeaders list;
    for (const std::string& line : headers) list.add(line);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    set_tls(curl, ca_pem);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append_to_string);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    answer.curl_code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(curl);
    return answer;
}

std::string multipart_body(const std::string& document_text, const std::string& audio) {
    const std::string boundary = "--VX**VR++LIB";
    return "\r\n--" + boundary + "\r\n" + marked_gzip(document_text) + "\r\n--" + boundary + "\r\n" + audio +
           "\r\n--" + boundary + "--\r\n";
}

std::string single_document_json(int idx, const std::string& glb, const std::string& ptc, const std::string& token) {
    std::ostringstream json;
    json << "{";
    if (idx == 1 || idx == -1) json << "\"uid\":\"test-device\",\"pfm\":\"Linux&1\",\"ver\":\"Core_3.0.0\",";
    json << "\"idx\":\"" << idx << "\",\"pdt\":\"1536\",\"glb\":\"" << glb << "\",\"enc\":\"utf-8\",\"rtn\":\"json\","
         << "\"ptc\":\"" << ptc << "\",";
    if (!token.empty()) json << "\"tok\":\"" << token << "\",";
    json << "\"fun\":\"262145\"}";
    return json.str();
}

namespace {

const cJSON* walk(const cJSON* root, const std::string& dotted) {
    std::istringstream names(dotted);
    std::string name;
    const cJSON* item = root;
    while (item && std::getline(names, name, '.')) item = cJSON_GetObjectItemCaseSensitive(item, name.c_str());
    return item;
}

}  // namespace

std::string first_word(const std::string& json, const char* object, const char* array) {
    cJSON* root = cJSON_Parse(json.c_str());
    const cJSON* words = walk(root, std::string(object) + "." + array);
    const cJSON* first = cJSON_IsArray(words) ? cJSON_GetArrayItem(words, 0) : nullptr;
    std::string text = cJSON_IsString(first) ? first->valuestring : "";
    cJSON_Delete(root);
    return text;
}

double number_at(const std::string& json, const std::string& dotted) {
    cJSON* root = cJSON_Parse(json.c_str());
    const cJSON* item = walk(root, dotted);
    const double value = cJSON_IsNumber(item) ? item->valuedouble : -99999;
    cJSON_Delete(root);
    return value;
}

std::string recognize_directly(const std::vector<int16_t>& pcm16k) {
    static std::mutex mutex;
    static ps_decoder_t* decoder = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    if (!decoder) {
        const std::string model = "/usr/share/pocketsphinx/model/en-us";
        cmd_ln_t* config =
            cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (model + "/en-us").c_str(), "-lm",
                        (model + "/en-us.lm.bin").c_str(), "-dict", (model + "/cmudict-en-us.dict").c_str(), "-logfn",
                        "/dev/null", nullptr);
        decoder = ps_init(config);
        cmd_ln_free_r(config);
        if (!decoder) return "<no decoder>";
    }
    ps_start_utt(decoder);
    // The same 2560-sample steps as the service's 160 ms packages.
    for (size_t at = 0; at < pcm16k.size(); at += 2560) {
        ps_process_raw(decoder, pcm16k.data() + at, std::min<size_t>(2560, pcm16k.size() - at), FALSE, FALSE);
    }
    ps_end_utt(decoder);
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(decoder, &score);
    return hypothesis ? hypothesis : "";
}

}  // namespace refclient
