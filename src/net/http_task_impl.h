// The libcurl-based asynchronous HTTP task behind vxs_http_request_maker: one
// long-lived chunked connection per task, either an upload fed by send_data()
// or a download whose received pieces go to the owner's callback in order.
//
// Reports to the owner (callback(maker, response, userParam)):
// - download, per received piece: HTTP_REQUEST_OK with the piece and the
//   answer's 2xx status;
// - then exactly one final report per transfer, unless the owner cancelled:
//   HTTP_REQUEST_HTTPS_REQ_SUC (any 2xx end, upload or download);
//   HTTP_REQUEST_OK with a status outside 2xx (a download's error body
//   attached); HTTP_REQUEST_TIMEOUT (download idle for the idle time-out);
//   HTTP_REQUEST_HTTPS_REQ_ERROR (a download that failed before any piece,
//   including one that could not be set up: safe to retry);
//   HTTP_REQUEST_CHUNK_REQ_ERROR (any other transport failure).
//
// Threading: start_request, send_data and cancel may come from any thread
// (the owner's, usually); a task mutex guards the transfer handle. The owner
// is called from the transfer's own thread, or from a pool thread for the
// idle time-out, with no lock of the task held; it must hand the work to its
// own queue. Dropping the last reference to the task cancels its transfer.
#ifndef VXS_NET_HTTP_TASK_IMPL_H
#define VXS_NET_HTTP_TASK_IMPL_H

#include <cstddef>

#include "core/shared_ptr.h"
#include "net/chunked_transfer.h"
#include "net/http_request_maker.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

class vxs_HttpTask_impl : public vxs_http_request_maker {
public:
    // A new task with its self reference set.
    static Memory::vxs_shared_ptr<vxs_HttpTask_impl> create();

    // Cancels the transfer: its thread ends at the next look at the flag.
    ~vxs_HttpTask_impl() override;

    // Starts the chunked transfer of the request's `_METHOD` on a thread of
    // its own and returns at once. Reads `_URL`, `_origin_URL` and `_METHOD`;
    // with an https `_URL` holding a numeric address in place of
    // `_origin_URL`'s host, the connection goes to that address while TLS and
    // the Host header keep the real name and port. Certificates and host
    // names are always checked; redirects are never followed. A method other
    // than the two chunked ones starts and reports nothing; a second call is
    // ignored.
    void start_request(Memory::vxs_shared_ptr<vxs_HttpRequest> request, vxs_http_request_callback callback,
                       Memory::vxs_shared_ptr_base* userParam) override;
    // Upload only: queues bytes for the body, sent as soon as libcurl takes
    // them; isLast ends the body after them (0 bytes allowed). Bytes before
    // start_request or after the end are dropped (logged).
    void send_data(const char* bytes, size_t length, bool isLast) override;
    // No report reaches the owner from then on (a piece being handed over at
    // that moment may still arrive); the transfer ends. A second call does
    // nothing.
    void cancel() override;

    // Idle time-out of download connections started afterwards, process-wide
    // (default 12000 ms); 0 or less restores the default.
    static void set_idle_timeout_ms(int timeoutMs) { ChunkedTransfer::set_idle_timeout_ms(timeoutMs); }
    static int idle_timeout_ms() { return ChunkedTransfer::idle_timeout_ms(); }
    // For teardown: waits at most `timeoutMs` until every transfer thread of
    // the process has ended; true when none is left.
    static bool wait_for_transfers_to_end(int timeoutMs) {
        return ChunkedTransfer::wait_until_none_running(timeoutMs);
    }
    static int running_transfer_count() { return ChunkedTransfer::running_count(); }

private:
    vxs_HttpTask_impl() = default;

    Memory::vxs_weak_ptr<vxs_HttpTask_impl> selfRef;
    Threads::Synchronization::AppMutex m_mutex{false};
    Memory::vxs_shared_ptr<ChunkedTransfer> m_transfer;
    bool m_started = false;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_HTTP_TASK_IMPL_H
