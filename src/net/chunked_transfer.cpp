#include "net/chunked_transfer.h"

#include <time.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "core/log.h"
#include "net/address_pinning.h"
#include "net/log_redaction.h"
#include "net/tls_settings.h"
#include "threads/app_thread.h"
#include "threads/dispatch_task.h"
#include "threads/global_thread_pool.h"

namespace vxs {
namespace Networking {

using Memory::vxs_shared_ptr;
using Memory::vxs_shared_ptr_base;
using Threads::ASRDispatchTaskBase;
using Threads::ASRDispatchTaskWithResPointer;
using Threads::RefreshTimer;
using Threads::Synchronization::AppLock;

namespace {

// The error text of every failed chunked transfer, upload or download.
const char* const kTransferErrorText = "[vxs_Chunk_Connection]downStream encouter error.";
const char* const kIdleTimeoutText = "[vxs_httptask_impl] downStream timeout.";
// How long the upload reader sleeps between looks at an empty queue; every
// change of the queue also wakes it at once.
const long kUploadWaitNs = 10L * 1000 * 1000;
// The download's request body: one byte, valid for the whole transfer.
const char kDownloadBody[1] = {0};

std::atomic<int> g_idle_timeout_ms(kDefaultDownloadIdleTimeoutMs);

pthread_once_t g_curl_once = PTHREAD_ONCE_INIT;
void init_curl_globally() { curl_global_init(CURL_GLOBAL_DEFAULT); }

void fatal_if(bool failed, const char* what) {
    if (!failed) return;
    VXS_LOG_FATAL("%s", what);
    std::exit(-1);
}

// Counts the transfer threads that have not ended, so that teardown (and
// tests) can wait for them. Never destroyed: threads may end during exit.
class RunningTransfers {
public:
    static RunningTransfers& get() {
        static RunningTransfers* registry = new RunningTransfers();
        return *registry;
    }
    void add() { change(+1); }
    void remove() { change(-1); }
    int count() {
        pthread_mutex_lock(&m_mutex);
        const int value = m_count;
        pthread_mutex_unlock(&m_mutex);
        return value;
    }
    bool wait_until_empty(int timeoutMs) {
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        const long long ns = deadline.tv_nsec + static_cast<long long>(std::max(timeoutMs, 0) % 1000) * 1000000LL;
        deadline.tv_sec += std::max(timeoutMs, 0) / 1000 + static_cast<time_t>(ns / 1000000000LL);
        deadline.tv_nsec = static_cast<long>(ns % 1000000000LL);
        pthread_mutex_lock(&m_mutex);
        int rc = 0;
        while (m_count > 0 && rc == 0) rc = pthread_cond_timedwait(&m_cond, &m_mutex, &deadline);
        const bool empty = m_count == 0;
        pthread_mutex_unlock(&m_mutex);
        return empty;
    }

private:
    RunningTransfers() {
        pthread_condattr_t attributes;
        fatal_if(pthread_condattr_init(&attributes) != 0 ||
                     pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) != 0 ||
                     pthread_cond_init(&m_cond, &attributes) != 0 || pthread_mutex_init(&m_mutex, nullptr) != 0,
                 "[ChunkedTransfer] transfer registry locks not created");
        pthread_condattr_destroy(&attributes);
    }
    void change(int delta) {
        pthread_mutex_lock(&m_mutex);
        m_count += delta;
        pthread_cond_broadcast(&m_cond);
        pthread_mutex_unlock(&m_mutex);
    }

    pthread_mutex_t m_mutex;
    pthread_cond_t m_cond;
    int m_count = 0;
};

bool append_line(curl_slist*& list, const char* line) {
    curl_slist* grown = curl_slist_append(list, line);
    if (grown == nullptr) return false;
    list = grown;
    return true;
}

bool is_https_url(const std::string& url) {
    UrlAuthority parsed;
    return parse_url_authority(url, parsed) && parsed.scheme == "https";
}

}  // namespace

ChunkedTransfer::ChunkedTransfer(HTTP_REQUEST_METHOD method, const Owner& owner)
    : m_owner(owner), _method(method), m_idle_timeout_ms(idle_timeout_ms()) {
    m_owner.userParam = owner.userParam != nullptr ? owner.userParam->getRefPtr() : nullptr;
    pthread_condattr_t attributes;
    fatal_if(pthread_condattr_init(&attributes) != 0 || pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) != 0 ||
                 pthread_cond_init(&_cond, &attributes) != 0 || pthread_mutex_init(&_cond_mutex, nullptr) != 0,
             "[vxs_HttpTask_impl] upload queue locks not created");
    pthread_condattr_destroy(&attributes);
}

ChunkedTransfer::~ChunkedTransfer() {
    delete m_owner.userParam;
    pthread_cond_destroy(&_cond);
    pthread_mutex_destroy(&_cond_mutex);
}

void ChunkedTransfer::set_idle_timeout_ms(int timeoutMs) {
    g_idle_timeout_ms.store(timeoutMs > 0 ? timeoutMs : kDefaultDownloadIdleTimeoutMs);
}

int ChunkedTransfer::idle_timeout_ms() { return g_idle_timeout_ms.load(); }

int ChunkedTransfer::running_count() { return RunningTransfers::get().count(); }

bool ChunkedTransfer::wait_until_none_running(int timeoutMs) {
    return RunningTransfers::get().wait_until_empty(timeoutMs);
}

vxs_shared_ptr<ChunkedTransfer> ChunkedTransfer::start(const vxs_HttpRequest& request, const Owner& owner) {
    if (request._METHOD != HTTP_REQUEST_METHOD_CHUNK_UP && request._METHOD != HTTP_REQUEST_METHOD_CHUNK_DOWN) {
        VXS_LOG_DEBUG("[vxs_HttpTask_impl::start_request] method %d is not a chunked one, nothing started",
                      static_cast<int>(request._METHOD));
        return vxs_shared_ptr<ChunkedTransfer>();
    }
    vxs_shared_ptr<ChunkedTransfer> transfer(new ChunkedTransfer(request._METHOD, owner));
    transfer->m_self = transfer;
    if (request._URL.getPTR() != nullptr) transfer->m_url = request._URL.getPTR();
    transfer->m_origin_url = request._origin_URL;
    if (transfer->is_upload()) {
        transfer->_upload_data = PCMQueue::newQueue(0);
        transfer->m_upload_broken = !transfer->_upload_data;
    }
    if (!transfer->launch_thread(transfer)) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::start_request] no thread for the transfer");
        // Reported from the pool so that the owner is never called from
        // inside its own start_request.
        vxs_shared_ptr<ASRDispatchTaskBase> report(new ASRDispatchTaskWithResPointer<ChunkedTransfer>(
            transfer, &ChunkedTransfer::report_launch_failure, nullptr));
        if (!Threads::GlobalThreadPool::instance()->runTaskAsync(report)) {
            VXS_LOG_ERROR("[vxs_HttpTask_impl::start_request] the failure cannot be reported");
        }
    }
    return transfer;
}

bool ChunkedTransfer::launch_thread(const vxs_shared_ptr<ChunkedTransfer>& self) {
    vxs_shared_ptr<Threads::AppThread> thread(new Threads::AppThread());
    thread->selfPtr = thread;
    thread->iThreadFunction = &ChunkedTransfer::thread_body;
    thread->iThreadParameter2 = new vxs_shared_ptr<ChunkedTransfer>(self);
    RunningTransfers::get().add();
    if (!thread->run()) {
        RunningTransfers::get().remove();
        return false;
    }
    thread->detach();
    return true;
}

void ChunkedTransfer::thread_body(vxs_shared_ptr_base* parameter) {
    auto* holder = static_cast<vxs_shared_ptr<ChunkedTransfer>*>(parameter);
    ChunkedTransfer* transfer = holder->getPTR();
    if (transfer != nullptr) {
        wrap_params params;
        if (transfer->prepare(params)) {
            transfer->performRequest(params);
        } else {
            transfer->release(params);
            transfer->report_launch_failure(nullptr);
        }
    }
    // The transfer goes before the thread counts as ended.
    *holder = vxs_shared_ptr<ChunkedTransfer>();
    RunningTransfers::get().remove();
}

bool ChunkedTransfer::prepare(wrap_params& params) {
    pthread_once(&g_curl_once, &init_curl_globally);
    if (m_url.empty()) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::start_request] URL is NULL or empty");
        return false;
    }
    params.curl = curl_easy_init();
    if (params.curl == nullptr) {
        VXS_LOG_ERROR("init curl failed");
        return false;
    }
    params.url = m_url;
    // The owner may connect to an address it resolved itself; TLS and the
    // Host header then still carry the real name, on the real port.
    AddressPin pin;
    if (is_https_url(m_url) && !m_origin_url.empty() && make_address_pin(m_origin_url, m_url, pin)) {
        params.url = pin.connect_url;
        if (!append_line(params.resolve, pin.resolve_entry.c_str())) return false;
    }
    const bool listed = is_upload() ? append_line(params.headers, "Transfer-Encoding: chunked") &&
                                          append_line(params.headers, "Content-Encoding: gzip")
                                    : append_line(params.headers, "Content-Type: application/octet-stream");
    if (!listed) return false;
    const CURLcode code = apply_options(params);
    if (code != CURLE_OK) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::start_request] option refused: %s", curl_easy_strerror(code));
        return false;
    }
    return true;
}

CURLcode ChunkedTransfer::apply_options(wrap_params& params) {
    CURL* curl = params.curl;
    CURLcode code = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK) code = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_ERRORBUFFER, params.errorBuffer);
    set(CURLOPT_URL, params.url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_VERBOSE, 0L);
    // The upload carries the client key and the audio: a redirect must not
    // send them anywhere else.
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_HTTPHEADER, params.headers);
    if (params.resolve != nullptr) set(CURLOPT_RESOLVE, params.resolve);
    if (code == CURLE_OK) code = configure_tls_verification(curl);
    set(CURLOPT_POST, 1L);
    if (is_upload()) {
        set(CURLOPT_READFUNCTION, &ChunkedTransfer::read_callback);
        set(CURLOPT_READDATA, static_cast<void*>(this));
        set(CURLOPT_WRITEFUNCTION, &ChunkedTransfer::discard_callback);
        set(CURLOPT_HEADER, 0L);
    } else {
        set(CURLOPT_POSTFIELDS, kDownloadBody);
        set(CURLOPT_POSTFIELDSIZE, 1L);
        set(CURLOPT_WRITEFUNCTION, &ChunkedTransfer::write_callback);
        set(CURLOPT_WRITEDATA, static_cast<void*>(this));
        // libcurl both announces and decodes, so records are never parsed
        // from compressed bytes.
        set(CURLOPT_ACCEPT_ENCODING, "gzip,deflate");
    }
    set(CURLOPT_XFERINFOFUNCTION, &ChunkedTransfer::chunk_probe);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, 0L);
    return code;
}

void ChunkedTransfer::performRequest(wrap_params& params) {
    m_curl = params.curl;
    if (!is_upload()) start_idle_timer();
    const CURLcode code = curl_easy_perform(params.curl);
    long status = 0;
    curl_easy_getinfo(params.curl, CURLINFO_RESPONSE_CODE, &status);
    if (!is_upload()) stop_idle_timer();
    if (code != CURLE_OK) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::performRequest]this=%p, %s, curl_code=%d: %s", static_cast<void*>(this),
                      is_upload() ? "upload" : "download", static_cast<int>(code),
                      params.errorBuffer[0] != '\0' ? params.errorBuffer : curl_easy_strerror(code));
    }
    m_curl = nullptr;
    release(params);
    report_end(code, status);
}

void ChunkedTransfer::release(wrap_params& params) {
    if (params.curl != nullptr) curl_easy_cleanup(params.curl);
    curl_slist_free_all(params.headers);
    curl_slist_free_all(params.resolve);
    params.curl = nullptr;
    params.headers = nullptr;
    params.resolve = nullptr;
}

void ChunkedTransfer::start_idle_timer() {
    vxs_shared_ptr<ChunkedTransfer> self = m_self.getPTR();
    vxs_shared_ptr<ASRDispatchTaskBase> task(
        new ASRDispatchTaskWithResPointer<ChunkedTransfer>(self, &ChunkedTransfer::timer_callback, nullptr));
    vxs_shared_ptr<RefreshTimer> timer = RefreshTimer::createTimerWithTask(task, m_idle_timeout_ms);
    if (!timer) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::performRequest]this=%p, no idle timer", static_cast<void*>(this));
        return;
    }
    bool cancelled_meanwhile = false;
    {
        AppLock lock(&_timer_mutex);
        // cancel() sets the flag before it looks for the timer, so one of the
        // two always sees the other.
        cancelled_meanwhile = _is_canceled.load();
        if (!cancelled_meanwhile) _timer = timer;
    }
    if (cancelled_meanwhile) {
        timer->cancel();
        return;
    }
    VXS_LOG_TRACE("[vxs_HttpTask_impl::performRequest]this=%p, set timer", static_cast<void*>(this));
}

void ChunkedTransfer::stop_idle_timer() {
    vxs_shared_ptr<RefreshTimer> timer;
    {
        AppLock lock(&_timer_mutex);
        timer = _timer;
        _timer = vxs_shared_ptr<RefreshTimer>();
    }
    // Released outside the lock: the timer's task holds a reference to this
    // transfer.
    if (timer) timer->cancel();
}

void ChunkedTransfer::cancel() {
    if (_is_canceled.exchange(true)) return;
    pthread_mutex_lock(&_cond_mutex);
    pthread_cond_broadcast(&_cond);
    pthread_mutex_unlock(&_cond_mutex);
    stop_idle_timer();
}

void ChunkedTransfer::queue_upload(const char* bytes, size_t length, bool isLast) {
    if (!is_upload()) {
        VXS_LOG_WARN("[vxs_HttpTask_impl::send_data] not an upload connection, %zu bytes dropped", length);
        return;
    }
    if (bytes == nullptr && length > 0) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::send_data] null bytes with length %zu", length);
        return;
    }
    pthread_mutex_lock(&_cond_mutex);
    if (_is_last) {
        pthread_mutex_unlock(&_cond_mutex);
        VXS_LOG_WARN("[vxs_HttpTask_impl::send_data] the body has ended, %zu bytes dropped", length);
        return;
    }
    if (length > 0 && !m_upload_broken) {
        const size_t room = static_cast<size_t>(INT_MAX - _upload_data->length());
        if (length > room ||
            _upload_data->queueAudio(reinterpret_cast<const uint8_t*>(bytes), static_cast<int>(length)) < 0) {
            // A body with a hole must not reach the peer as if complete.
            m_upload_broken = true;
            VXS_LOG_ERROR("[vxs_HttpTask_impl::send_data] %zu bytes could not be queued, upload aborted", length);
        }
    }
    _is_last = isLast;
    pthread_cond_broadcast(&_cond);
    pthread_mutex_unlock(&_cond_mutex);
}

size_t ChunkedTransfer::read_callback(char* buffer, size_t size, size_t count, void* userdata) {
    return static_cast<ChunkedTransfer*>(userdata)->read_upload(buffer, size * count);
}

size_t ChunkedTransfer::read_upload(char* buffer, size_t maxBytes) {
    if (maxBytes < 1) {
        VXS_LOG_ERROR("[vxs_HttpTask_impl::read_callback] max_bytes < 1");
        return 0;
    }
    pthread_mutex_lock(&_cond_mutex);
    for (;;) {
        if (_is_canceled.load() || m_upload_broken) break;
        const int held = _upload_data->length();
        if (held > 0) {
            const int wanted = static_cast<int>(std::min(maxBytes, static_cast<size_t>(held)));
            const int taken = _upload_data->dequeSamples(reinterpret_cast<uint8_t*>(buffer), wanted, false);
            pthread_mutex_unlock(&_cond_mutex);
            return static_cast<size_t>(taken);
        }
        if (_is_last) {
            pthread_mutex_unlock(&_cond_mutex);
            return 0;  // ends the chunked body
        }
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_nsec += kUploadWaitNs;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        pthread_cond_timedwait(&_cond, &_cond_mutex, &deadline);
    }
    pthread_mutex_unlock(&_cond_mutex);
    return CURL_READFUNC_ABORT;
}

size_t ChunkedTransfer::write_callback(char* bytes, size_t size, size_t count, void* userdata) {
    return static_cast<ChunkedTransfer*>(userdata)->receive_download(bytes, size * count);
}

size_t ChunkedTransfer::receive_download(const char* bytes, size_t length) {
    {
        AppLock lock(&_timer_mutex);
        if (_timer) {
            _timer->refresh();
            VXS_LOG_TRACE("[vxs_HttpTask_impl::write_callback]this=%p, refresh timer", static_cast<void*>(this));
        } else {
            VXS_LOG_TRACE("[vxs_HttpTask_impl::write_callback]this=%p, no timer", static_cast<void*>(this));
        }
    }
    if (length == 0) return 0;
    if (_is_canceled.load()) {
        if (can_log(kLogDebug)) {
            const std::string shown = redact_for_log(bytes, std::min<size_t>(length, 32));
            VXS_LOG_DEBUG("[vxs_HttpTask_impl::write_callback]this=%p, cancelled, %zu bytes dropped: %s",
                          static_cast<void*>(this), length, shown.c_str());
        }
        return 0;
    }
    long status = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &status);
    if (!is_success(status)) {
        // An error page is not a stream of records: keep it for the final
        // report (bounded by the response's own cap).
        if (!m_error_body) m_error_body = vxs_HttpResponse::alloc();
        if (m_error_body) m_error_body->receive_new_data(bytes, length);
        return length;
    }
    vxs_shared_ptr<vxs_HttpResponse> response = vxs_HttpResponse::alloc();
    if (!response || !response->receive_new_data(bytes, length)) return 0;
    response->set_http_status(static_cast<int32_t>(status));
    if (!deliver(response)) return 0;
    m_delivered_piece = true;
    return length;
}

size_t ChunkedTransfer::discard_callback(char*, size_t size, size_t count, void*) { return size * count; }

int ChunkedTransfer::chunk_probe(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<ChunkedTransfer*>(userdata);
    return (transfer == nullptr || transfer->_is_canceled.load()) ? 1 : 0;
}

void ChunkedTransfer::timer_callback(vxs_shared_ptr_base*) {
    if (_is_canceled.load()) return;
    vxs_shared_ptr<vxs_HttpResponse> response = vxs_HttpResponse::alloc();
    if (!response) return;
    response->set_local_request_error(HTTP_REQUEST_TIMEOUT);
    response->setErrorMessage(kIdleTimeoutText);
    // Claiming the final report also makes the probe abort the transfer,
    // whose own ending is then not reported a second time.
    if (!claim_final_report()) return;
    VXS_LOG_WARN("[vxs_HttpTask_impl::timer_callback]this=%p, download idle for %d ms", static_cast<void*>(this),
                 m_idle_timeout_ms);
    deliver(response);
}

void ChunkedTransfer::report_end(CURLcode code, long status) {
    if (!claim_final_report()) return;  // cancelled, or the idle timer reported
    vxs_shared_ptr<vxs_HttpResponse> response;
    if (code != CURLE_OK) {
        // A download that never delivered a piece failed to connect: the
        // owner may retry it without having lost anything.
        report_failure(!is_upload() && !m_delivered_piece ? HTTP_REQUEST_HTTPS_REQ_ERROR
                                                          : HTTP_REQUEST_CHUNK_REQ_ERROR,
                       /*claimed=*/true);
        return;
    }
    if (is_success(status)) {
        response = vxs_HttpResponse::alloc();
        if (!response) return;
        response->set_local_request_error(HTTP_REQUEST_HTTPS_REQ_SUC);
    } else {
        response = m_error_body ? m_error_body : vxs_HttpResponse::alloc();
        if (!response) return;
        response->set_local_request_error(HTTP_REQUEST_OK);
    }
    response->set_http_status(static_cast<int32_t>(status));
    deliver(response);
}

void ChunkedTransfer::report_failure(HTTP_REQUEST_ERROR error, bool claimed) {
    if (!claimed && !claim_final_report()) return;
    vxs_shared_ptr<vxs_HttpResponse> response = vxs_HttpResponse::alloc();
    if (!response) return;
    response->set_local_request_error(error);
    response->setErrorMessage(kTransferErrorText);
    response->set_http_status(200);
    deliver(response);
}

void ChunkedTransfer::report_launch_failure(vxs_shared_ptr_base*) {
    report_failure(is_upload() ? HTTP_REQUEST_CHUNK_REQ_ERROR : HTTP_REQUEST_HTTPS_REQ_ERROR, false);
}

bool ChunkedTransfer::deliver(const vxs_shared_ptr<vxs_HttpResponse>& response) {
    vxs_shared_ptr<vxs_http_request_maker> maker = m_owner.maker.getPTR();
    if (!maker) return false;  // the owner has let the task go
    if (m_owner.callback != nullptr) m_owner.callback(maker, response, m_owner.userParam);
    return true;
}

}  // namespace Networking
}  // namespace vxs
