// The single-request protocol done by a minimal plain-libcurl client: one
// multipart POST per package (bodies built by the library's request builder,
// audio encoded by the library's encoders), sent by three worker threads as
// the single-request decoder allows three requests in flight. Each worker
// keeps its easy handle, with its connection and TLS session, across
// requests and utterances: the best a plain client can do.
//
// Threading: one utterance at a time. run() builds the bodies on the calling
// thread and queues them; the workers take them under one mutex.
#ifndef VXS_BENCH_DECODER_CURL_SINGLE_CLIENT_H
#define VXS_BENCH_DECODER_CURL_SINGLE_CLIENT_H

#include <curl/curl.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "utterance_client.h"

namespace decbench {

class CurlSingleClient : public UtteranceClient {
public:
    CurlSingleClient(const std::string& server_url, const std::string& ca_path, int package_ms);
    ~CurlSingleClient() override;
    CurlSingleClient(const CurlSingleClient&) = delete;
    CurlSingleClient& operator=(const CurlSingleClient&) = delete;

    std::string name() const override { return "plain libcurl, single request"; }
    UtteranceOutcome run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                         const Pacing& pacing) override;

    static constexpr int kWorkers = 3;

private:
    struct Body {
        int idx = 0;
        std::string bytes;
    };
    // The requests of one utterance, shared by run() and the workers.
    struct Exchange {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Body> waiting;
        bool all_queued = false;
        bool final_seen = false;
        Clock::time_point final_at;
        std::string final_text;
        std::string error;
    };

    void work(CURL* handle, Exchange* exchange);
    // Sends one body and records its answer.
    void send_one(CURL* handle, const Body& body, Exchange* exchange);

    std::string m_server_url;
    std::string m_ca_path;
    int m_package_ms;
    CURL* m_handles[kWorkers] = {};
    curl_slist* m_headers = nullptr;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_CURL_SINGLE_CLIENT_H
