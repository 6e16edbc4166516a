// A plain libcurl client of the reference service for its tests and its
// benchmark, written from the wire formats (not with the library's request
// code): parameter documents, type/length/value packets, multipart bodies,
// the chunked up/down pair and download record parsing. Also audio loading,
// package encoding and pocketsphinx run directly for comparison.
//
// Threading: functions may be called from any thread; run_chunked uses two
// threads of its own for the two connections.
#ifndef VXS_TESTS_REFSERVICE_REFSERVICE_CLIENT_H
#define VXS_TESTS_REFSERVICE_REFSERVICE_CLIENT_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace refclient {

constexpr const char* kTestData = "/usr/share/pocketsphinx/test/data";

// 16-bit mono PCM from a raw file or from the data chunk of a WAV file.
std::vector<int16_t> load_audio(const std::string& path);
// `pcm` at `from_rate` resampled to `to_rate`.
std::vector<int16_t> resample(const std::vector<int16_t>& pcm, int from_rate, int to_rate);

// The encoded 160 ms packages of `pcm` (the first with the format header),
// for compression type 1 PCM, 2 BV32 or 3 AMR; `pcm_samples` receives the
// samples fed (the last package padded to whole frames).
std::vector<std::string> encode_packages(int compression, int rate, const std::vector<int16_t>& pcm,
                                         long* pcm_samples = nullptr);

// The JSON text compressed as one gzip member with the magic replaced by 75 7B.
std::string marked_gzip(const std::string& text);
// One upload packet.
std::string packet(uint8_t type, const std::string& payload);
// A complete, valid parameter document of the chunked protocol.
std::string chunk_params_json(const std::string& sn, int rate);

struct DownloadRecord {
    uint8_t type = 0;
    std::string payload;
    double at_ms = 0;  // since the upload started
};

struct ChunkedOutcome {
    long upload_status = 0;
    long download_status = 0;
    int download_curl_code = 0;
    std::vector<DownloadRecord> records;
    std::string trailing;  // bytes after the last whole record
    double finish_sent_ms = -1;
    double end_record_ms = -1;
    std::string upload_body;
};

struct ChunkedRequest {
    std::string base_url;  // "https://127.0.0.1:PORT/v2"
    std::string ca_pem;
    std::string sn;
    std::vector<std::string> packets;  // whole upload body, packet by packet
    std::chrono::milliseconds pace{0}; // pause before each audio packet
    std::vector<std::string> headers;  // extra headers for both connections
};

ChunkedOutcome run_chunked(const ChunkedRequest& request);
// The parameter packet, the audio packets and the finish packet.
std::vector<std::string> utterance_packets(const std::string& sn, int rate, const std::vector<std::string>& audio);

// Splits download bytes into records; the rest goes to `trailing`.
std::vector<DownloadRecord> parse_records(const std::string& bytes, std::string* trailing);

struct HttpAnswer {
    long status = 0;
    int curl_code = 0;
    std::string body;
};

HttpAnswer post(const std::string& url, const std::string& ca_pem, const std::string& body,
                const std::vector<std::string>& headers = {});
// "\r\n--B\r\n" document "\r\n--B\r\n" audio "\r\n--B--\r\n".
std::string multipart_body(const std::string& document_text, const std::string& audio);
// A single-request document.
std::string single_document_json(int idx, const std::string& glb, const std::string& ptc,
                                 const std::string& token = std::string());

// The first string of "result.word" (chunked) or "content.item" (single).
std::string first_word(const std::string& json, const char* object, const char* array);
// A numeric member reached through dotted names ("result.err_no"); -99999 if absent.
double number_at(const std::string& json, const std::string& dotted);

// pocketsphinx on 16 kHz PCM with the default US-English model.
std::string recognize_directly(const std::vector<int16_t>& pcm16k);

}  // namespace refclient

#endif  // VXS_TESTS_REFSERVICE_REFSERVICE_CLIENT_H
