// One long-lived chunked HTTP(S) transfer over libcurl: an upload connection
// whose body is fed from a byte queue as the owner produces it, or a download
// connection whose received pieces go to the owner one by one, guarded by an
// idle timer. It is the working half of vxs_HttpTask_impl; the task object is
// the owner's handle and ChunkedTransfer outlives it only until its thread
// notices that the task is gone.
//
// Threading: each transfer runs on a thread of its own (not the shared pool:
// a transfer lasts as long as an utterance, and the pool must stay free for
// the queues and timers the transfer depends on). queue_upload() and cancel()
// come from the owner's thread; the upload reader, the download receiver and
// the final report run on the transfer's thread; the idle time-out runs as a
// timer task on a pool thread. `_cond_mutex` guards the upload queue and its
// flags, `_timer_mutex` guards `_timer`; they are never held together, and no
// lock of this file is held while the owner is called.
#ifndef VXS_NET_CHUNKED_TRANSFER_H
#define VXS_NET_CHUNKED_TRANSFER_H

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <string>

#include <curl/curl.h>

#include "audio/pcm_queue.h"
#include "core/shared_ptr.h"
#include "net/http_request.h"
#include "net/http_request_maker.h"
#include "net/http_response.h"
#include "threads/app_mutex.h"
#include "threads/refresh_timer.h"

namespace vxs {
namespace Networking {

// The idle time-out of download connections unless changed.
constexpr int kDefaultDownloadIdleTimeoutMs = 12000;

class ChunkedTransfer {
public:
    // Who hears about the transfer: the reporting task (weak, so that the
    // transfer never keeps its owner's handle alive), the callback and a copy
    // of the owner's parameter (owned here).
    struct Owner {
        Memory::vxs_weak_ptr<vxs_http_request_maker> maker;
        vxs_http_request_callback callback = nullptr;
        Memory::vxs_shared_ptr_base* userParam = nullptr;
    };

    // Starts the transfer `request` names (HTTP_REQUEST_METHOD_CHUNK_UP or
    // _CHUNK_DOWN) on a new thread and returns at once. Any other method
    // starts nothing and gives an empty pointer. A transfer that cannot be
    // set up reports its failure to the owner like a transport error.
    static Memory::vxs_shared_ptr<ChunkedTransfer> start(const vxs_HttpRequest& request, const Owner& owner);

    ~ChunkedTransfer();
    ChunkedTransfer(const ChunkedTransfer&) = delete;
    ChunkedTransfer& operator=(const ChunkedTransfer&) = delete;

    // Upload only: appends bytes to the body; isLast ends the body once every
    // byte before it has been sent. Bytes after the end are refused (logged).
    void queue_upload(const char* bytes, size_t length, bool isLast);
    // Stops every report to the owner and ends the transfer: an upload at
    // once (the body is aborted, not ended, so the peer never takes it for
    // complete), a download at libcurl's next progress call. Idempotent.
    void cancel();

    // Download connections started afterwards use `timeoutMs` as their idle
    // time-out; 0 or less restores the default.
    static void set_idle_timeout_ms(int timeoutMs);
    static int idle_timeout_ms();
    // Transfers whose thread has not ended yet, process-wide.
    static int running_count();
    // Waits until no transfer thread is left, at most `timeoutMs`; true when
    // none is.
    static bool wait_until_none_running(int timeoutMs);

private:
    // What one transfer hands to its thread: the handle and the lists libcurl
    // reads while it runs (all owned, freed by performRequest).
    struct wrap_params {
        CURL* curl = nullptr;
        curl_slist* headers = nullptr;
        curl_slist* resolve = nullptr;
        std::string url;
        char errorBuffer[CURL_ERROR_SIZE] = {0};
    };

    ChunkedTransfer(HTTP_REQUEST_METHOD method, const Owner& owner);

    bool is_upload() const { return _method == HTTP_REQUEST_METHOD_CHUNK_UP; }
    bool launch_thread(const Memory::vxs_shared_ptr<ChunkedTransfer>& self);
    static void thread_body(Memory::vxs_shared_ptr_base* parameter);

    // Set-up on the transfer's thread; false (logged) when libcurl refuses.
    bool prepare(wrap_params& params);
    CURLcode apply_options(wrap_params& params);
    void performRequest(wrap_params& params);
    void start_idle_timer();
    void stop_idle_timer();
    void release(wrap_params& params);

    // The final report: exactly one per transfer, none after cancel().
    void report_end(CURLcode code, long status);
    // A failure report; `claimed` when the caller already holds the claim.
    void report_failure(HTTP_REQUEST_ERROR error, bool claimed);
    void report_launch_failure(Memory::vxs_shared_ptr_base* parameter);
    bool claim_final_report() { return !_is_canceled.exchange(true); }
    // Calls the owner; false when the owner's task is gone.
    bool deliver(const Memory::vxs_shared_ptr<vxs_HttpResponse>& response);

    void timer_callback(Memory::vxs_shared_ptr_base* parameter);
    static size_t read_callback(char* buffer, size_t size, size_t count, void* userdata);
    size_t read_upload(char* buffer, size_t maxBytes);
    static size_t write_callback(char* bytes, size_t size, size_t count, void* userdata);
    size_t receive_download(const char* bytes, size_t length);
    static size_t discard_callback(char* bytes, size_t size, size_t count, void* userdata);
    static int chunk_probe(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    static bool is_success(long status) { return status >= 200 && status <= 299; }

    Owner m_owner;
    const HTTP_REQUEST_METHOD _method;
    std::string m_url;
    std::string m_origin_url;
    int m_idle_timeout_ms;

    // Upload body waiting for libcurl, and its end.
    PCMQueuePtr _upload_data;
    bool _is_last = false;
    bool m_upload_broken = false;  // bytes were lost: the body must not end normally
    pthread_mutex_t _cond_mutex;
    pthread_cond_t _cond;

    Memory::vxs_shared_ptr<Threads::RefreshTimer> _timer;
    Threads::Synchronization::AppMutex _timer_mutex{false};

    // Set once, by cancel() or by whichever final report comes first.
    std::atomic<bool> _is_canceled{false};
    // Download: a piece reached the owner (a later failure is then not a
    // failed connection but a broken stream).
    bool m_delivered_piece = false;
    // Download: the body of an answer outside 2xx, kept for the final report
    // rather than handed over as records.
    Memory::vxs_shared_ptr<vxs_HttpResponse> m_error_body;
    CURL* m_curl = nullptr;  // valid on the transfer's thread while it runs

    Memory::vxs_weak_ptr<ChunkedTransfer> m_self;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_CHUNKED_TRANSFER_H
