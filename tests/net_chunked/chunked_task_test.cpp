// The chunked HTTP task against loopback HTTPS servers: upload bodies, download
// pieces and endings, the idle timer, cancel, TLS checks and address pinning.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_request_maker.h"
#include "net/http_task_impl.h"
#include "net/tls_settings.h"
#include "net_chunked/streaming_upload_server.h"
#include "support/loopback_https_server.h"
#include "support/trusted_loopback.h"
#include "support/test_ca.h"
#include "threads/global_thread_pool.h"

namespace {

using namespace std::chrono_literals;
using vxs::Memory::vxs_shared_ptr;
using vxs::Memory::vxs_shared_ptr_base;
using vxs::Networking::HTTP_REQUEST_CHUNK_REQ_ERROR;
using vxs::Networking::HTTP_REQUEST_ERROR;
using vxs::Networking::HTTP_REQUEST_HTTPS_REQ_ERROR;
using vxs::Networking::HTTP_REQUEST_HTTPS_REQ_SUC;
using vxs::Networking::HTTP_REQUEST_METHOD;
using vxs::Networking::HTTP_REQUEST_METHOD_CHUNK_DOWN;
using vxs::Networking::HTTP_REQUEST_METHOD_CHUNK_UP;
using vxs::Networking::HTTP_REQUEST_METHOD_GET;
using vxs::Networking::HTTP_REQUEST_METHOD_POST;
using vxs::Networking::HTTP_REQUEST_OK;
using vxs::Networking::HTTP_REQUEST_TIMEOUT;
using vxs::Networking::vxs_http_request_maker;
using vxs::Networking::vxs_HttpRequest;
using vxs::Networking::vxs_HttpResponse;
using vxs::Networking::vxs_HttpTask_impl;
using vxs_test::ChunkPiece;
using vxs_test::LoopbackHttpsServer;
using vxs_test::RecordedRequest;
using vxs_test::ScriptedReply;
using vxs_test::StreamingUploadServer;
using vxs_test::TestCa;

const char* const kTransferErrorText = "[vxs_Chunk_Connection]downStream encouter error.";
const char* const kIdleTimeoutText = "[vxs_httptask_impl] downStream timeout.";
// Generous: every wait ends as soon as its condition holds.
constexpr auto kLongWait = 20s;

// One report a task made to its owner.
struct Report {
    vxs_http_request_maker* maker;
    HTTP_REQUEST_ERROR error;
    int status;
    std::string body;
    std::string message;

    // Every report but a received piece ends the transfer.
    bool is_final() const { return error != HTTP_REQUEST_OK || status < 200 || status > 299; }
};

// The owner side: collects every report, in arrival order.
class Recorder {
public:
    static void callback(vxs_shared_ptr<vxs_http_request_maker> maker, vxs_shared_ptr<vxs_HttpResponse> response,
                         vxs_shared_ptr_base* userParam) {
        Recorder* recorder = static_cast<vxs_shared_ptr<Recorder>*>(userParam)->getPTR();
        ASSERT_NE(recorder, nullptr);
        Report report{maker.getPTR(), response->get_local_request_error(), response->get_http_status(),
                      std::string(response->get_response_data().getPTR(), response->body_length()),
                      response->getErrorMessage()};
        std::lock_guard<std::mutex> lock(recorder->m_mutex);
        recorder->m_reports.push_back(report);
        recorder->m_changed.notify_all();
    }

    bool wait_for_final(std::chrono::milliseconds timeout = kLongWait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const Report& report : m_reports) {
                if (report.is_final()) return true;
            }
            return false;
        });
    }
    bool wait_for_reports(size_t count, std::chrono::milliseconds timeout = kLongWait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_reports.size() >= count; });
    }
    std::vector<Report> reports() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }
    // The bytes of every received piece, in order.
    std::string pieces() {
        std::string all;
        for (const Report& report : reports()) {
            if (!report.is_final()) all += report.body;
        }
        return all;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Report> m_reports;
};

// A started task and the recorder it reports to.
struct Transfer {
    vxs_shared_ptr<vxs_http_request_maker> task;
    vxs_shared_ptr<Recorder> recorder;
};

Transfer start_transfer(HTTP_REQUEST_METHOD method, const std::string& url, const std::string& origin = "") {
    Transfer transfer{vxs_http_request_maker::get_instance(), vxs_shared_ptr<Recorder>(new Recorder())};
    auto request = vxs_HttpRequest::requestWithUrl(url);
    request->_METHOD = method;
    request->_origin_URL = origin;
    transfer.task->start_request(request, &Recorder::callback, &transfer.recorder);
    return transfer;
}

// Waits until every transfer thread has ended, so that nothing can be
// reported any more.
void expect_all_transfers_ended() {
    EXPECT_TRUE(vxs_HttpTask_impl::wait_for_transfers_to_end(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kLongWait).count())));
}

// The report sequence of a finished transfer: pieces, then exactly one final
// report, all from `task`. Returns the final report.
Report expect_one_final_report(const Transfer& transfer) {
    EXPECT_TRUE(transfer.recorder->wait_for_final());
    expect_all_transfers_ended();
    std::vector<Report> reports = transfer.recorder->reports();
    if (reports.empty()) return Report{};
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].maker, transfer.task.getPTR());
        EXPECT_EQ(reports[i].is_final(), i + 1 == reports.size()) << "report " << i << " of " << reports.size();
    }
    return reports.back();
}

std::string random_bytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xff);
    return bytes;
}


ScriptedReply chunked_reply(const std::vector<ChunkPiece>& pieces) {
    ScriptedReply reply;
    reply.chunked = true;
    reply.pieces = pieces;
    // Binary records: the server sends them as they are, uncompressed.
    reply.content_type = "application/octet-stream";
    return reply;
}

// The last recorded request for `path`.
RecordedRequest last_request_for(const LoopbackHttpsServer& server, const std::string& path) {
    std::vector<RecordedRequest> requests = server.requests();
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->path == path) return *it;
    }
    ADD_FAILURE() << "no request for " << path;
    return RecordedRequest();
}

// The upload for `path` and `query`, once its body has ended.
vxs_test::StreamedUpload ended_upload(const StreamingUploadServer& server, const std::string& path,
                                      const std::string& query) {
    auto matches = [&](const vxs_test::StreamedUpload& upload) {
        return upload.path == path && upload.query == query && upload.ended;
    };
    vxs_test::StreamedUpload found;
    const bool seen = server.wait_until(
        [&](const std::vector<vxs_test::StreamedUpload>& uploads) {
            for (const auto& upload : uploads) {
                if (matches(upload)) {
                    found = upload;
                    return true;
                }
            }
            return false;
        },
        kLongWait);
    EXPECT_TRUE(seen) << "no upload " << path << "?" << query;
    return found;
}

// A small pool for the whole binary: transfers must not depend on free pool
// threads (the idle timers and the owners' queues need them).
class SmallPoolEnvironment : public ::testing::Environment {
public:
    void SetUp() override { vxs::Threads::GlobalThreadPool::setGlobalPoolThreadCount(3); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SmallPoolEnvironment());

class ChunkedTaskTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_env = vxs_test::TrustedLoopback::start("vxs chunked test root").release();
        ASSERT_NE(s_env, nullptr);
        s_ca = &s_env->ca();
        s_server = &s_env->server();
        s_uploads = new StreamingUploadServer(s_ca->issue_loopback_certificate());
        ASSERT_TRUE(s_uploads->start());
    }
    static void TearDownTestSuite() {
        delete s_uploads;
        delete s_env;
        s_env = nullptr;
        s_uploads = nullptr;
        s_server = nullptr;
        s_ca = nullptr;
    }
    void SetUp() override {
        vxs::Networking::set_ca_bundle_path(s_env->caBundlePath());
        s_server->set_default_reply(ScriptedReply());
        s_uploads->set_status(200);
    }
    void TearDown() override {
        s_server->release_stalls();
        expect_all_transfers_ended();
        vxs_HttpTask_impl::set_idle_timeout_ms(0);
        vxs::Networking::set_ca_bundle_path("");
    }

    // Both loopback families where the host has IPv6.
    static std::vector<std::string> loopback_hosts() {
        std::vector<std::string> hosts = {"127.0.0.1"};
        if (s_server->has_ipv6() && s_uploads->has_ipv6()) hosts.push_back("[::1]");
        return hosts;
    }

    static vxs_test::TrustedLoopback* s_env;
    static TestCa* s_ca;
    static LoopbackHttpsServer* s_server;
    // Uploads go here: it records bodies as sent, declared encoding or not.
    static StreamingUploadServer* s_uploads;
};

vxs_test::TrustedLoopback* ChunkedTaskTest::s_env = nullptr;
TestCa* ChunkedTaskTest::s_ca = nullptr;
LoopbackHttpsServer* ChunkedTaskTest::s_server = nullptr;
StreamingUploadServer* ChunkedTaskTest::s_uploads = nullptr;

TEST_F(ChunkedTaskTest, UploadBodyIsEverySendDataInOrderAndEndsAfterTheLast) {
    const std::vector<std::string> pieces = {"param-packet", random_bytes(70000, 1), "", random_bytes(1, 2),
                                             random_bytes(3000, 3)};
    struct Ending {
        const char* what;
        bool empty_last_call;  // the end comes as a call of its own with no bytes
    };
    const Ending endings[] = {{"last flag on the final bytes", false}, {"empty call with the last flag", true}};
    int serial = 0;
    for (const std::string& host : loopback_hosts()) {
        for (const Ending& ending : endings) {
            SCOPED_TRACE(host + ", " + ending.what);
            const std::string sn = "sn=" + std::to_string(++serial);
            // The server is the loopback certificate's IP address here.
            Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url(host, "/up?" + sn));
            std::string sent;
            for (size_t i = 0; i < pieces.size(); ++i) {
                const bool last = !ending.empty_last_call && i + 1 == pieces.size();
                upload.task->send_data(pieces[i].data(), pieces[i].size(), last);
                sent += pieces[i];
                std::this_thread::sleep_for(5ms);
            }
            if (ending.empty_last_call) upload.task->send_data(nullptr, 0, true);
            // Bytes after the end are not part of the body.
            upload.task->send_data("late", 4, false);

            const Report end = expect_one_final_report(upload);
            EXPECT_EQ(end.error, HTTP_REQUEST_HTTPS_REQ_SUC);
            EXPECT_EQ(end.status, 200);
            const vxs_test::StreamedUpload received = ended_upload(*s_uploads, "/up", sn);
            EXPECT_TRUE(received.completed);
            EXPECT_EQ(received.transfer_encoding, "chunked");
            EXPECT_EQ(received.content_encoding, "gzip");
            EXPECT_EQ(received.body.size(), sent.size());
            EXPECT_TRUE(received.body == sent) << "body differs from the bytes sent";
        }
    }
}

TEST_F(ChunkedTaskTest, UploadReportsItsEndOnceWithTheServersStatus) {
    struct Case {
        int status;
        HTTP_REQUEST_ERROR expected;
    };
    const Case cases[] = {{200, HTTP_REQUEST_HTTPS_REQ_SUC}, {204, HTTP_REQUEST_HTTPS_REQ_SUC},
                          {500, HTTP_REQUEST_OK}, {404, HTTP_REQUEST_OK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        s_uploads->set_status(c.status);
        Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url("localhost", "/up"));
        upload.task->send_data("abc", 3, true);
        const Report end = expect_one_final_report(upload);
        EXPECT_EQ(end.error, c.expected);
        EXPECT_EQ(end.status, c.status);
        EXPECT_EQ(upload.recorder->reports().size(), 1u);
    }
}

// Waits until the upload with `query` holds at least `count` bytes.
bool wait_for_upload_bytes(const StreamingUploadServer& server, const std::string& query, size_t count) {
    return server.wait_until(
        [&](const std::vector<vxs_test::StreamedUpload>& uploads) {
            for (const auto& upload : uploads) {
                if (upload.query == query && upload.body.size() >= count) return true;
            }
            return false;
        },
        kLongWait);
}

TEST_F(ChunkedTaskTest, UploadBytesLeaveBeforeTheBodyEnds) {
    Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url("localhost", "/up?sn=s1"));
    const std::string first = random_bytes(5000, 4);
    upload.task->send_data(first.data(), first.size(), false);
    // The server sees the first bytes while the body is still open.
    ASSERT_TRUE(wait_for_upload_bytes(*s_uploads, "sn=s1", first.size()));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(upload.recorder->reports().empty());

    upload.task->send_data("tail", 4, true);
    const Report end = expect_one_final_report(upload);
    EXPECT_EQ(end.error, HTTP_REQUEST_HTTPS_REQ_SUC);
    const vxs_test::StreamedUpload received = ended_upload(*s_uploads, "/up", "sn=s1");
    EXPECT_TRUE(received.completed);
    EXPECT_TRUE(received.body == first + "tail");
}

TEST_F(ChunkedTaskTest, CancelledUploadIsBrokenOffWithoutAnyReport) {
    Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url("localhost", "/up?sn=c1"));
    upload.task->send_data("audio", 5, false);
    ASSERT_TRUE(wait_for_upload_bytes(*s_uploads, "sn=c1", 5));

    // The reader is waiting for more bytes when the cancel comes.
    upload.task->cancel();
    upload.task->cancel();
    expect_all_transfers_ended();
    // The peer must not take a cancelled body for a finished one.
    const vxs_test::StreamedUpload received = ended_upload(*s_uploads, "/up", "sn=c1");
    EXPECT_FALSE(received.completed);
    EXPECT_EQ(received.body, "audio");
    upload.task->send_data("more", 4, true);
    EXPECT_TRUE(upload.recorder->reports().empty());
}

TEST_F(ChunkedTaskTest, DownloadHandsOverPiecesInOrderThenItsEnd) {
    const std::vector<std::string> records = {"rec-1", std::string("\x00\x01\x02", 3), random_bytes(40000, 5),
                                              "rec-4"};
    int serial = 0;
    for (const std::string& host : loopback_hosts()) {
        SCOPED_TRACE(host);
        std::vector<ChunkPiece> pieces;
        std::string expected;
        for (const std::string& record : records) {
            pieces.push_back(ChunkPiece{30ms, record});
            expected += record;
        }
        s_server->queue_reply(chunked_reply(pieces));
        const std::string path = "/down" + std::to_string(++serial);
        Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url(host, path + "?sn=9"));

        const Report end = expect_one_final_report(download);
        EXPECT_EQ(end.error, HTTP_REQUEST_HTTPS_REQ_SUC);
        EXPECT_EQ(end.status, 200);
        EXPECT_TRUE(download.recorder->pieces() == expected) << "pieces differ from the stream sent";
        for (const Report& report : download.recorder->reports()) {
            if (!report.is_final()) {
                EXPECT_EQ(report.status, 200);
            }
        }

        const RecordedRequest request = last_request_for(*s_server, path);
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.body, std::string(1, '\0'));
        EXPECT_EQ(request.header("Content-Type"), "application/octet-stream");
        EXPECT_NE(request.header("Accept-Encoding").find("gzip"), std::string::npos);
    }
}

TEST_F(ChunkedTaskTest, EveryEndOfADownloadIsReportedOnce) {
    ScriptedReply no_content;
    no_content.status = 204;
    ScriptedReply refused;
    refused.status = 503;
    refused.body = "busy";
    ScriptedReply cut;
    cut.body = std::string(64, 'r');
    cut.content_type = "application/octet-stream";
    cut.close_after_bytes = 20;
    ScriptedReply redirect;
    redirect.status = 302;
    redirect.headers = {{"Location", s_server->url("localhost", "/elsewhere")}};
    ScriptedReply compressed;  // text is sent gzip-compressed to a client that accepts it
    compressed.body = std::string(2000, 'x') + "end";
    compressed.content_type = "text/plain";

    struct Case {
        const char* what;
        ScriptedReply reply;
        std::string url;
        HTTP_REQUEST_ERROR error;
        int status;
        std::string pieces;
        std::string final_body;
    };
    const std::string refused_url = "https://127.0.0.1:" + std::to_string(vxs_test::unused_loopback_port()) + "/down";
    const Case cases[] = {
        {"2xx without a body", no_content, "", HTTP_REQUEST_HTTPS_REQ_SUC, 204, "", ""},
        {"error status: its body is no stream of records", refused, "", HTTP_REQUEST_OK, 503, "", "busy"},
        {"peer closes mid-body", cut, "", HTTP_REQUEST_CHUNK_REQ_ERROR, 200, std::string(20, 'r'), ""},
        {"redirect, not followed", redirect, "", HTTP_REQUEST_OK, 302, "", ""},
        {"compressed body", compressed, "", HTTP_REQUEST_HTTPS_REQ_SUC, 200, compressed.body, ""},
        {"nothing listening", ScriptedReply(), refused_url, HTTP_REQUEST_HTTPS_REQ_ERROR, 200, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.url.empty()) s_server->queue_reply(c.reply);
        Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN,
                                           c.url.empty() ? s_server->url("localhost", "/down") : c.url);
        const Report end = expect_one_final_report(download);
        EXPECT_EQ(end.error, c.error);
        EXPECT_EQ(end.status, c.status);
        EXPECT_EQ(end.body, c.final_body);
        EXPECT_EQ(download.recorder->pieces(), c.pieces);
        if (c.error == HTTP_REQUEST_CHUNK_REQ_ERROR || c.error == HTTP_REQUEST_HTTPS_REQ_ERROR) {
            EXPECT_EQ(end.message, kTransferErrorText);
        }
    }
    for (const RecordedRequest& request : s_server->requests()) EXPECT_NE(request.path, "/elsewhere");
}

TEST_F(ChunkedTaskTest, StalledDownloadTimesOutOnceAndStops) {
    vxs_HttpTask_impl::set_idle_timeout_ms(400);
    ScriptedReply stall;
    stall.stall = true;
    s_server->queue_reply(stall);
    Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url("localhost", "/down"));

    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(download.recorder->wait_for_final());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
    // The transfer aborts itself; its own ending is not reported again.
    expect_all_transfers_ended();
    const std::vector<Report> reports = download.recorder->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error, HTTP_REQUEST_TIMEOUT);
    EXPECT_EQ(reports[0].message, kIdleTimeoutText);
}

TEST_F(ChunkedTaskTest, EveryPieceRefreshesTheIdleTimer) {
    vxs_HttpTask_impl::set_idle_timeout_ms(1500);
    // Lasts well past the time-out, with no gap near it.
    std::vector<ChunkPiece> pieces(8, ChunkPiece{400ms, "beat"});
    s_server->queue_reply(chunked_reply(pieces));
    Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url("localhost", "/down"));
    const Report end = expect_one_final_report(download);
    EXPECT_EQ(end.error, HTTP_REQUEST_HTTPS_REQ_SUC);
    std::string expected;
    for (const ChunkPiece& piece : pieces) expected += piece.bytes;
    EXPECT_EQ(download.recorder->pieces(), expected);
}

TEST_F(ChunkedTaskTest, CancelledDownloadEndsWithoutFurtherReports) {
    std::vector<ChunkPiece> pieces = {ChunkPiece{0ms, "first"}, ChunkPiece{vxs_test::kUntilReleased, "never"}};
    s_server->queue_reply(chunked_reply(pieces));
    Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url("localhost", "/down"));
    ASSERT_TRUE(download.recorder->wait_for_reports(1));

    download.task->cancel();
    expect_all_transfers_ended();
    download.task->cancel();
    s_server->release_stalls();
    const std::vector<Report> reports = download.recorder->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].body, "first");
}

TEST_F(ChunkedTaskTest, DroppingTheTaskEndsItsTransfers) {
    ScriptedReply stall;
    stall.stall = true;
    s_server->queue_reply(stall);
    const size_t before = s_server->requests().size();
    Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url("localhost", "/down"));
    Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url("localhost", "/up?sn=d1"));
    upload.task->send_data("open", 4, false);
    ASSERT_TRUE(s_server->wait_for_requests(before + 1, kLongWait));
    ASSERT_TRUE(wait_for_upload_bytes(*s_uploads, "sn=d1", 4));

    // The owner goes without cancelling.
    download.task = vxs_shared_ptr<vxs_http_request_maker>();
    upload.task = vxs_shared_ptr<vxs_http_request_maker>();
    expect_all_transfers_ended();
    EXPECT_TRUE(download.recorder->reports().empty());
    EXPECT_TRUE(upload.recorder->reports().empty());
    EXPECT_FALSE(ended_upload(*s_uploads, "/up", "sn=d1").completed);
}

TEST_F(ChunkedTaskTest, ServersThatCannotProveTheirNameAreRefused) {
    const std::vector<vxs_test::UntrustedIdentity> cases = s_env->untrustedIdentities();
    ASSERT_EQ(cases.size(), 2u);
    for (const vxs_test::UntrustedIdentity& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpsServer impostor(c.identity);
        ASSERT_TRUE(impostor.start());
        Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, impostor.url("localhost", "/down"));
        Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, impostor.url("localhost", "/up"));
        upload.task->send_data("secret", 6, true);
        EXPECT_EQ(expect_one_final_report(download).error, HTTP_REQUEST_HTTPS_REQ_ERROR);
        EXPECT_EQ(expect_one_final_report(upload).error, HTTP_REQUEST_CHUNK_REQ_ERROR);
        EXPECT_TRUE(impostor.requests().empty());
    }
}

TEST_F(ChunkedTaskTest, PinnedAddressOnANonDefaultPortKeepsTheRealName) {
    // Certified for the name only: an address in SNI or Host would fail.
    const vxs_test::KeyAndCertificate identity = s_ca->issue_server_certificate({"speech.vxs.test"}, {});
    LoopbackHttpsServer downloads(identity);
    StreamingUploadServer uploads(identity);
    ASSERT_TRUE(downloads.start());
    ASSERT_TRUE(uploads.start());
    // As the decoder builds them: the origin is the configured base URL.
    const std::string down_name = "speech.vxs.test:" + std::to_string(downloads.port());
    const std::string up_name = "speech.vxs.test:" + std::to_string(uploads.port());
    std::vector<std::string> addresses = {"127.0.0.1"};
    if (downloads.has_ipv6() && uploads.has_ipv6()) addresses.push_back("[::1]");
    int serial = 0;
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        const std::string sn = "sn=" + std::to_string(++serial);
        downloads.queue_reply(chunked_reply({ChunkPiece{0ms, "record"}}));
        Transfer download = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, downloads.url(address, "/v2/down?" + sn),
                                           "https://" + down_name + "/v2");
        Transfer upload = start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, uploads.url(address, "/v2/up?" + sn),
                                         "https://" + up_name + "/v2");
        upload.task->send_data("packet", 6, true);

        EXPECT_EQ(expect_one_final_report(download).error, HTTP_REQUEST_HTTPS_REQ_SUC);
        EXPECT_EQ(download.recorder->pieces(), "record");
        const RecordedRequest down_request = last_request_for(downloads, "/v2/down");
        EXPECT_EQ(down_request.header("Host"), down_name);
        EXPECT_EQ(down_request.query, sn);

        EXPECT_EQ(expect_one_final_report(upload).error, HTTP_REQUEST_HTTPS_REQ_SUC);
        const vxs_test::StreamedUpload up_request = ended_upload(uploads, "/v2/up", sn);
        EXPECT_EQ(up_request.host, up_name);
        EXPECT_EQ(up_request.body, "packet");

        // The address alone fails the host-name check.
        Transfer bare = start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, downloads.url(address, "/v2/down?sn=0"));
        EXPECT_EQ(expect_one_final_report(bare).error, HTTP_REQUEST_HTTPS_REQ_ERROR);
    }
}

TEST_F(ChunkedTaskTest, OtherMethodsStartNothing) {
    const size_t before = s_server->requests().size();
    for (HTTP_REQUEST_METHOD method : {HTTP_REQUEST_METHOD_GET, HTTP_REQUEST_METHOD_POST}) {
        Transfer transfer = start_transfer(method, s_server->url("localhost", "/down"));
        transfer.task->send_data("x", 1, true);
        transfer.task->cancel();
        EXPECT_EQ(vxs_HttpTask_impl::running_transfer_count(), 0);
        EXPECT_TRUE(transfer.recorder->reports().empty());
    }
    EXPECT_EQ(s_server->requests().size(), before);
}

TEST_F(ChunkedTaskTest, TenUtterancesStreamAtOnceOnASmallPool) {
    constexpr int kUtterances = 10;
    const std::vector<std::string> hosts = loopback_hosts();
    std::vector<Transfer> uploads;
    std::vector<Transfer> downloads;
    s_server->set_default_reply(chunked_reply({ChunkPiece{50ms, "rec-a"}, ChunkPiece{50ms, "rec-b"}}));
    for (int i = 0; i < kUtterances; ++i) {
        const std::string& host = hosts[i % hosts.size()];
        const std::string sn = "?sn=ten" + std::to_string(i);
        uploads.push_back(start_transfer(HTTP_REQUEST_METHOD_CHUNK_UP, s_uploads->url(host, "/up" + sn)));
        downloads.push_back(start_transfer(HTTP_REQUEST_METHOD_CHUNK_DOWN, s_server->url(host, "/down" + sn)));
    }
    // Every upload streams while all twenty transfers are open.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kUtterances; ++i) {
            const std::string packet = "u" + std::to_string(i) + "-" + std::to_string(round);
            uploads[i].task->send_data(packet.data(), packet.size(), round == 2);
        }
        std::this_thread::sleep_for(20ms);
    }
    for (int i = 0; i < kUtterances; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(uploads[i].recorder->wait_for_final());
        EXPECT_TRUE(downloads[i].recorder->wait_for_final());
        EXPECT_EQ(uploads[i].recorder->reports().back().error, HTTP_REQUEST_HTTPS_REQ_SUC);
        EXPECT_EQ(downloads[i].recorder->reports().back().error, HTTP_REQUEST_HTTPS_REQ_SUC);
        EXPECT_EQ(downloads[i].recorder->pieces(), "rec-arec-b");
    }
    expect_all_transfers_ended();
    for (int i = 0; i < kUtterances; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(ended_upload(*s_uploads, "/up", "sn=ten" + n).body, "u" + n + "-0u" + n + "-1u" + n + "-2");
    }
}

}  // namespace
