#include "decoder_chunk/chunk_service_stub.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "support/header_stash.h"

namespace chunktest {

using vxs_test::ChunkPiece;
using vxs_test::kUntilReleased;
using vxs_test::ScriptedReply;

namespace {

// The upload declares gzip without being gzip; the encoding is moved aside
// so that the bytes are recorded as they came.
httplib::Server::HandlerResponse stash_content_encoding(const httplib::Request& request,
                                                        httplib::Response&) {
    vxs_test::stash_header(request, "Content-Encoding", "", "X-Declared-Content-Encoding");
    return httplib::Server::HandlerResponse::Unhandled;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string query_of(const httplib::Request& request) {
    const size_t question = request.target.find('?');
    return question == std::string::npos ? std::string() : request.target.substr(question + 1);
}

}  // namespace

struct ChunkServiceStub::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<ScriptedReply> queued;
    ScriptedReply default_download;
    int upload_status = 200;
    size_t downloads = 0;
    std::vector<StreamedUpload> uploads;
    unsigned long release_epoch = 0;
    bool stopping = false;

    // Waits `length` (kUntilReleased: until released); false once stopping.
    bool pause(std::chrono::milliseconds length) {
        std::unique_lock<std::mutex> lock(mutex);
        const unsigned long epoch = release_epoch;
        if (length == kUntilReleased) {
            changed.wait(lock, [&] { return stopping || release_epoch != epoch; });
        } else if (length.count() > 0) {
            changed.wait_for(lock, length, [&] { return stopping; });
        }
        return !stopping;
    }

    ScriptedReply next_download() {
        std::lock_guard<std::mutex> lock(mutex);
        ++downloads;
        changed.notify_all();
        if (queued.empty()) return default_download;
        ScriptedReply reply = std::move(queued.front());
        queued.pop_front();
        return reply;
    }

    size_t begin_upload(const std::string& query) {
        std::lock_guard<std::mutex> lock(mutex);
        StreamedUpload upload;
        upload.query = query;
        uploads.push_back(upload);
        changed.notify_all();
        return uploads.size() - 1;
    }

    void append(size_t index, const char* data, size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        uploads[index].body.append(data, length);
        changed.notify_all();
    }

    int end_upload(size_t index, bool completed) {
        std::lock_guard<std::mutex> lock(mutex);
        uploads[index].ended = true;
        uploads[index].completed = completed;
        changed.notify_all();
        return upload_status;
    }
};

ChunkServiceStub::ChunkServiceStub(const vxs_test::KeyAndCertificate& identity)
    : m_state(std::make_shared<State>()),
      m_server(std::make_unique<httplib::SSLServer>(identity.cert.get(), identity.key.get())) {
    m_server->set_keep_alive_timeout(1);
    m_server->set_tcp_nodelay(true);
    install_handlers();
}

ChunkServiceStub::~ChunkServiceStub() { stop(); }

void ChunkServiceStub::install_handlers() {
    std::shared_ptr<State> state = m_state;
    m_server->set_pre_routing_handler(&stash_content_encoding);
    m_server->Post(".*", [state](const httplib::Request& request, httplib::Response& response,
                                 const httplib::ContentReader& content) {
        if (ends_with(request.path, "/up")) {
            const size_t index = state->begin_upload(query_of(request));
            const bool completed = content([state, index](const char* data, size_t length) {
                state->append(index, data, length);
                return true;
            });
            response.status = state->end_upload(index, completed);
            response.set_content("ok", "text/plain");
            return;
        }
        content([](const char*, size_t) { return true; });
        const ScriptedReply reply = state->next_download();
        response.status = reply.status;
        if (reply.chunked) {
            response.set_chunked_content_provider(
                "application/octet-stream", [state, reply](size_t, httplib::DataSink& sink) {
                    for (const ChunkPiece& piece : reply.pieces) {
                        if (!state->pause(piece.pause_before)) return false;
                        if (!piece.bytes.empty() &&
                            !sink.write(piece.bytes.data(), piece.bytes.size()))
                            return false;
                    }
                    sink.done();
                    return true;
                });
        } else if (reply.close_after_bytes >= 0) {
            const size_t sent =
                std::min(static_cast<size_t>(reply.close_after_bytes), reply.body.size());
            response.set_content_provider(
                reply.body.size(), "application/octet-stream",
                [reply, sent](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset < sent) sink.write(reply.body.data() + offset, sent - offset);
                    return false;  // closes the connection
                });
        } else {
            response.set_content(reply.body, "application/octet-stream");
        }
    });
}

bool ChunkServiceStub::start() {
    if (!m_server->is_valid()) return false;
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_server->is_running();
}

void ChunkServiceStub::stop() {
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stopping = true;
        m_state->changed.notify_all();
    }
    if (m_server) m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

std::string ChunkServiceStub::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

void ChunkServiceStub::queue_download(const ScriptedReply& reply) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->queued.push_back(reply);
}

void ChunkServiceStub::set_default_download(const ScriptedReply& reply) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->default_download = reply;
}

void ChunkServiceStub::set_upload_status(int status) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->upload_status = status;
}

void ChunkServiceStub::release_stalls() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    ++m_state->release_epoch;
    m_state->changed.notify_all();
}

size_t ChunkServiceStub::downloads_arrived() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->downloads;
}

bool ChunkServiceStub::wait_for_downloads(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] { return m_state->downloads >= count; });
}

bool ChunkServiceStub::wait_for_upload(const std::string& sn, std::chrono::milliseconds timeout,
                                       StreamedUpload* upload) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] {
        for (const StreamedUpload& candidate : m_state->uploads) {
            if (candidate.query == "sn=" + sn && candidate.ended) {
                *upload = candidate;
                return true;
            }
        }
        return false;
    });
}

std::vector<StreamedUpload> ChunkServiceStub::uploads(const std::string& sn) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    std::vector<StreamedUpload> found;
    for (const StreamedUpload& upload : m_state->uploads) {
        if (upload.query == "sn=" + sn) found.push_back(upload);
    }
    return found;
}

}  // namespace chunktest
