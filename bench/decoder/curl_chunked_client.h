// The chunked protocol done by a minimal plain-libcurl client: the upload
// POST "/up?sn=SN" on one thread, its read callback waiting for the same
// packets the chunked decoder sends (built by the library's request builder,
// audio encoded by the library's encoders), and the download POST
// "/down?sn=SN" on another, read record by record up to the final and end
// records. Each of the two easy handles is kept, with its connection and TLS
// session, across utterances: the best a plain client can do.
//
// Threading: one utterance at a time. run() hands packets over from the
// calling thread; the two transfers run on threads of their own, and the
// state they share with run() is guarded by one mutex per transfer.
#ifndef VXS_BENCH_DECODER_CURL_CHUNKED_CLIENT_H
#define VXS_BENCH_DECODER_CURL_CHUNKED_CLIENT_H

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "utterance_client.h"

namespace decbench {

class CurlChunkedClient : public UtteranceClient {
public:
    // `server_url` is the base URL ("https://127.0.0.1:PORT/v2"); `ca_path`
    // the service's CA.
    CurlChunkedClient(const std::string& server_url, const std::string& ca_path, int package_ms);
    ~CurlChunkedClient() override;
    CurlChunkedClient(const CurlChunkedClient&) = delete;
    CurlChunkedClient& operator=(const CurlChunkedClient&) = delete;

    std::string name() const override { return "plain libcurl, chunked"; }
    UtteranceOutcome run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                         const Pacing& pacing) override;

    // The upload body still to send; the read callback waits on it.
    struct Upload {
        std::mutex mutex;
        std::condition_variable changed;
        std::string pending;
        size_t offset = 0;
        bool ended = false;  // the finish packet is queued: end the body after it
        std::atomic<bool>* abort = nullptr;
    };
    // What the download brought; run() waits on it.
    struct Download {
        std::mutex mutex;
        std::condition_variable changed;
        std::string bytes;  // not yet framed
        bool final_seen = false;
        bool done = false;  // the transfer returned
        std::string error;
        std::string final_text;
        Clock::time_point final_at;
        std::atomic<bool>* abort = nullptr;
    };

private:
    void configure_upload(const std::string& sn, Upload* upload);
    void configure_download(const std::string& sn, Download* download);

    std::string m_server_url;
    std::string m_ca_path;
    int m_package_ms;
    CURL* m_up = nullptr;
    CURL* m_down = nullptr;
    curl_slist* m_up_headers = nullptr;
    curl_slist* m_down_headers = nullptr;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_CURL_CHUNKED_CLIENT_H
