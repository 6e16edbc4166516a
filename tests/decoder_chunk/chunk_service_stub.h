// A scriptable stand-in for the recognition service's chunked protocol on
// 127.0.0.1: uploads ("/up") are recorded as their bytes arrive, whatever
// Content-Encoding they declare, and answered with a set status once their
// body ends; downloads ("/down") are answered from a queue of scripted
// replies (pieces with pauses, stalls, an error status, a body cut short).
//
// Threading: the server answers on its own threads; scripting, the readers
// and release_stalls() may be called from any thread; stop() must not run on
// a server thread.
#ifndef VXS_TESTS_DECODER_CHUNK_CHUNK_SERVICE_STUB_H
#define VXS_TESTS_DECODER_CHUNK_CHUNK_SERVICE_STUB_H

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_https_server.h"
#include "support/test_ca.h"

namespace httplib {
class SSLServer;
}

namespace chunktest {

struct StreamedUpload {
    std::string query;
    std::string body;
    bool ended = false;      // the body is over, complete or broken off
    bool completed = false;  // it ended with its closing chunk
};

class ChunkServiceStub {
  public:
    explicit ChunkServiceStub(const vxs_test::KeyAndCertificate& identity);
    ~ChunkServiceStub();
    ChunkServiceStub(const ChunkServiceStub&) = delete;
    ChunkServiceStub& operator=(const ChunkServiceStub&) = delete;

    bool start();
    void stop();
    // "https://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;

    // Download answers: one queued reply per download, in arrival order, then
    // the default one. Only status, chunked pieces, body and
    // close_after_bytes are used.
    void queue_download(const vxs_test::ScriptedReply& reply);
    void set_default_download(const vxs_test::ScriptedReply& reply);
    // The status that ends every later upload (default 200).
    void set_upload_status(int status);
    // Ends every kUntilReleased pause running now.
    void release_stalls();

    size_t downloads_arrived() const;
    bool wait_for_downloads(size_t count, std::chrono::milliseconds timeout) const;
    // The upload for serial number `sn` once its body has ended; false when
    // that did not happen within `timeout`.
    bool wait_for_upload(const std::string& sn, std::chrono::milliseconds timeout,
                         StreamedUpload* upload) const;
    // Every upload for `sn` seen so far, ended or not.
    std::vector<StreamedUpload> uploads(const std::string& sn) const;

  private:
    struct State;
    void install_handlers();

    std::shared_ptr<State> m_state;
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
};

}  // namespace chunktest

#endif  // VXS_TESTS_DECODER_CHUNK_CHUNK_SERVICE_STUB_H
