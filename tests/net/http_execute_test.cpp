#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/log.h"
#include "net/http_request_maker.h"
#include "net/tls_settings.h"
#include "support/loopback_https_server.h"
#include "support/trusted_loopback.h"
#include "support/test_ca.h"

namespace {

using namespace std::chrono_literals;
using vxs::Memory::vxs_shared_ptr;
using vxs::Networking::HTTP_REQUEST_ABORTED;
using vxs::Networking::HTTP_REQUEST_HTTPS_REQ_ERROR;
using vxs::Networking::HTTP_REQUEST_METHOD_POST;
using vxs::Networking::HTTP_REQUEST_OK;
using vxs::Networking::HTTP_REQUEST_TIMEOUT;
using vxs::Networking::HTTP_REQUEST_UNDEFINED_ERROR;
using vxs::Networking::vxs_http_request_maker;
using vxs::Networking::vxs_HttpRequest;
using vxs::Networking::vxs_HttpResponse;
using vxs_test::ChunkPiece;
using vxs_test::LoopbackHttpsServer;
using vxs_test::ScriptedReply;
using vxs_test::TestCa;

std::string body_of(const vxs_shared_ptr<vxs_HttpResponse>& response) {
    return std::string(response->get_response_data().getPTR(), response->body_length());
}

vxs_shared_ptr<vxs_HttpResponse> get(const std::string& url, int64_t timeout_ms = 20000) {
    auto request = vxs_HttpRequest::requestWithUrl(url);
    request->_TIMEOUT_MS = timeout_ms;
    return vxs_http_request_maker::execute(request);
}

void set_body(vxs_HttpRequest& request, const std::string& body) {
    request._BODY_DATA = vxs::Memory::vxs_make_array<char>(body.size());
    std::copy(body.begin(), body.end(), request._BODY_DATA.getPTR());
    request._BODY_LENGTH = static_cast<int64_t>(body.size());
}


// One throw-away CA trusted through the CA bundle setting, and a loopback
// server with a certificate from it.
class HttpExecuteTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_env = vxs_test::TrustedLoopback::start("vxs test root").release();
        ASSERT_NE(s_env, nullptr);
        s_ca = &s_env->ca();
        s_server = &s_env->server();
    }
    static void TearDownTestSuite() {
        delete s_env;
        s_env = nullptr;
        s_server = nullptr;
        s_ca = nullptr;
    }
    void SetUp() override {
        vxs::Networking::set_ca_bundle_path(s_env->caBundlePath());
        s_server->set_default_reply(ScriptedReply());
    }
    void TearDown() override {
        s_server->release_stalls();
        vxs::Networking::set_ca_bundle_path("");
    }

    static std::string url(const std::string& path) { return s_server->url("localhost", path); }
    static size_t request_count() { return s_server->requests().size(); }

    static vxs_test::TrustedLoopback* s_env;
    static TestCa* s_ca;
    static LoopbackHttpsServer* s_server;
};

vxs_test::TrustedLoopback* HttpExecuteTest::s_env = nullptr;
TestCa* HttpExecuteTest::s_ca = nullptr;
LoopbackHttpsServer* HttpExecuteTest::s_server = nullptr;

TEST_F(HttpExecuteTest, GetSendsHeadersInOrderAndParsesTheAnswer) {
    ScriptedReply reply;
    reply.status = 201;
    reply.body = "{\"ok\":true}";
    reply.content_type = "application/json";
    reply.headers = {{"X-Trace", "\t  abc: def"}, {"X-Empty", ""}};
    s_server->queue_reply(reply);

    auto request = vxs_HttpRequest::requestWithUrl(url("/oauth/2.0/token?grant=1"));
    request->_HEADER_LIST = {{"User-Agent", "vxs-test/1"}, {"X-B", "two"}, {"X-A", "one"}};
    auto response = vxs_http_request_maker::execute(request);

    ASSERT_TRUE(response);
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(response->get_http_status(), 201);
    EXPECT_EQ(body_of(response), "{\"ok\":true}");
    const auto& headers = response->getResponseHeaders();
    EXPECT_EQ(headers.at("Content-Type"), "application/json");
    EXPECT_EQ(headers.at("X-Trace"), "abc: def");
    EXPECT_EQ(headers.at("Content-Length"), "11");
    EXPECT_EQ(headers.count("HTTP/1.1 201 Created"), 1u);

    const auto recorded = s_server->requests().back();
    EXPECT_EQ(recorded.method, "GET");
    EXPECT_EQ(recorded.path, "/oauth/2.0/token");
    EXPECT_EQ(recorded.query, "grant=1");
    EXPECT_EQ(recorded.header("User-Agent"), "vxs-test/1");
    EXPECT_EQ(recorded.header("X-A"), "one");
    EXPECT_EQ(recorded.header("X-B"), "two");
    EXPECT_TRUE(recorded.body.empty());
}

TEST_F(HttpExecuteTest, PostCarriesTheExactBodyBytes) {
    std::string body = "--VX**VR++LIB\r\nContent-Disposition: form-data\r\n\r\n";
    body += std::string("\0\x01\xff\x7f", 4) + std::string(5000, 'p');
    auto request = vxs_HttpRequest::requestWithUrl(url("/v1/recognize"));
    request->_METHOD = HTTP_REQUEST_METHOD_POST;
    request->_HEADER_LIST["Content-Type"] = "multipart/form-data; boundary=--VX**VR++LIB";
    set_body(*request, body);
    auto response = vxs_http_request_maker::execute(request);

    ASSERT_TRUE(response);
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(response->get_http_status(), 200);
    const auto recorded = s_server->requests().back();
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.header("Content-Type"), "multipart/form-data; boundary=--VX**VR++LIB");
    EXPECT_EQ(recorded.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(recorded.body.size(), body.size());
    EXPECT_TRUE(recorded.body == body);

    // A POST without a body still goes out as a POST.
    auto empty_post = vxs_HttpRequest::requestWithUrl(url("/empty"));
    empty_post->_METHOD = HTTP_REQUEST_METHOD_POST;
    ASSERT_EQ(vxs_http_request_maker::execute(empty_post)->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(s_server->requests().back().method, "POST");
    EXPECT_TRUE(s_server->requests().back().body.empty());
}

TEST_F(HttpExecuteTest, ServerErrorStatusIsReportedAsItCame) {
    ScriptedReply reply;
    reply.status = 503;
    reply.body = "busy";
    s_server->queue_reply(reply);
    auto response = get(url("/busy"));
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(response->get_http_status(), 503);
    EXPECT_EQ(body_of(response), "busy");
}

TEST_F(HttpExecuteTest, MissingRequestOrUrlGivesNoResponse) {
    EXPECT_FALSE(vxs_http_request_maker::execute(vxs_shared_ptr<vxs_HttpRequest>()));
    EXPECT_FALSE(vxs_http_request_maker::execute(vxs_HttpRequest::requestWithUrl(std::string())));
    EXPECT_FALSE(vxs_http_request_maker::execute(vxs_HttpRequest::requestWithUrl(vxs_shared_ptr<char>())));
}

TEST_F(HttpExecuteTest, TransportFailuresAreLocalErrorsNotEmptySuccesses) {
    // Nothing listens on the port.
    auto refused = get("https://127.0.0.1:" + std::to_string(vxs_test::unused_loopback_port()) + "/x");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
    EXPECT_EQ(refused->get_http_status(), 0);
    EXPECT_FALSE(refused->getErrorMessage().empty());
    EXPECT_EQ(refused->body_length(), 0u);

    // Only web protocols: a configured URL cannot read local files.
    auto local_file = get("file:///etc/hostname");
    EXPECT_EQ(local_file->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
    EXPECT_EQ(local_file->body_length(), 0u);

    // The request's own time limit against a server that never answers.
    ScriptedReply stall;
    stall.stall = true;
    s_server->queue_reply(stall);
    auto timed_out = get(url("/stall"), 300);
    EXPECT_EQ(timed_out->get_local_request_error(), HTTP_REQUEST_TIMEOUT);
    EXPECT_EQ(timed_out->get_http_status(), 0);
    EXPECT_FALSE(timed_out->getErrorMessage().empty());
    s_server->release_stalls();

    // The connection closes after 100 of the 1000 announced bytes.
    ScriptedReply cut;
    cut.body = std::string(1000, 'c');
    cut.close_after_bytes = 100;
    s_server->queue_reply(cut);
    auto truncated = get(url("/cut"));
    EXPECT_EQ(truncated->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
    EXPECT_FALSE(truncated->getErrorMessage().empty());
}

TEST_F(HttpExecuteTest, CertificatesThatDoNotProveTheHostAreRefused) {
    const std::vector<vxs_test::UntrustedIdentity> cases = s_env->untrustedIdentities();
    ASSERT_EQ(cases.size(), 2u);
    for (const vxs_test::UntrustedIdentity& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpsServer impostor(c.identity);
        ASSERT_TRUE(impostor.start());
        auto response = get(impostor.url("localhost", "/token"));
        EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
        EXPECT_NE(response->get_http_status(), 200);
        EXPECT_FALSE(response->getErrorMessage().empty());
        EXPECT_TRUE(impostor.requests().empty());
    }

    // Without the private CA bundle the system store does not know the test CA.
    vxs::Networking::set_ca_bundle_path("");
    EXPECT_EQ(get(url("/token"))->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
}

TEST_F(HttpExecuteTest, PinnedAddressKeepsTheRealHostNameOnANonDefaultPort) {
    // Certified for the name only, so an address in SNI or Host would fail.
    LoopbackHttpsServer named(s_ca->issue_server_certificate({"speech.vxs.test"}, {}));
    ASSERT_TRUE(named.start());
    std::vector<std::string> addresses = {"127.0.0.1"};
    if (named.has_ipv6()) addresses.push_back("[::1]");
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        const std::string origin = "https://speech.vxs.test:" + std::to_string(named.port()) + "/asr?sn=7";
        auto request = vxs_HttpRequest::requestWithUrl(named.url(address, "/asr?sn=7"));
        request->_origin_URL = origin;
        request->_TIMEOUT_MS = 20000;
        auto response = vxs_http_request_maker::execute(request);
        EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK) << response->getErrorMessage();
        ASSERT_FALSE(named.requests().empty());
        EXPECT_EQ(named.requests().back().header("Host"), "speech.vxs.test:" + std::to_string(named.port()));
        EXPECT_EQ(named.requests().back().query, "sn=7");

        // The same address without the real name fails the host-name check.
        EXPECT_EQ(get(named.url(address, "/asr"))->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
    }
}

TEST_F(HttpExecuteTest, APinHoldsForItsOwnRequestOnly) {
    // Transfers reuse their libcurl handles, and a handle remembers names it
    // was told to pin: a later request for the same name must not inherit one.
    LoopbackHttpsServer named(s_ca->issue_server_certificate({"speech.vxs.test"}, {}));
    ASSERT_TRUE(named.start());
    ScriptedReply closing;
    closing.headers = {{"Connection", "close"}};  // no live connection to reuse
    named.set_default_reply(closing);
    const std::string real_url = "https://speech.vxs.test:" + std::to_string(named.port()) + "/asr";
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto pinned = vxs_HttpRequest::requestWithUrl(named.url("127.0.0.1", "/asr"));
        pinned->_origin_URL = real_url;
        pinned->_TIMEOUT_MS = 20000;
        auto response = vxs_http_request_maker::execute(pinned);
        ASSERT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK) << response->getErrorMessage();
        const size_t served = named.requests().size();

        // The name itself does not resolve here.
        EXPECT_EQ(get(real_url, 5000)->get_local_request_error(), HTTP_REQUEST_HTTPS_REQ_ERROR);
        EXPECT_EQ(named.requests().size(), served);
    }
}

TEST_F(HttpExecuteTest, CancelFromAnotherThreadAbortsTheTransfer) {
    ScriptedReply stall;
    stall.stall = true;
    s_server->queue_reply(stall);
    const size_t before = request_count();
    auto request = vxs_HttpRequest::requestWithUrl(url("/stall"));
    std::thread canceller([&] {
        s_server->wait_for_requests(before + 1, 20s);
        request->cancel();
    });
    auto response = vxs_http_request_maker::execute(request);
    canceller.join();
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_ABORTED);

    // A request cancelled before it starts does not reach the server.
    auto early = vxs_HttpRequest::requestWithUrl(url("/never"));
    early->cancel();
    const size_t count = request_count();
    EXPECT_EQ(vxs_http_request_maker::execute(early)->get_local_request_error(), HTTP_REQUEST_ABORTED);
    EXPECT_EQ(request_count(), count);
}

TEST_F(HttpExecuteTest, BodiesUpToTheCapAreKeptAndLargerOnesRefused) {
    struct Case {
        size_t size;
        bool chunked;
        vxs::Networking::HTTP_REQUEST_ERROR expected;
    };
    const size_t cap = vxs_HttpResponse::kMaxBodyBytes;
    const Case cases[] = {
        {cap, false, HTTP_REQUEST_OK},
        {cap + 1, false, HTTP_REQUEST_UNDEFINED_ERROR},
        {4 * cap, true, HTTP_REQUEST_UNDEFINED_ERROR},  // no length announced
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.chunked ? " chunked" : ""));
        ScriptedReply reply;
        reply.content_type = "application/octet-stream";
        if (c.chunked) {
            reply.chunked = true;
            for (size_t sent = 0; sent < c.size; sent += 64 * 1024) reply.pieces.push_back({0ms, std::string(65536, 'b')});
        } else {
            reply.body = std::string(c.size, 'b');
        }
        s_server->queue_reply(reply);
        auto response = get(url("/big"));
        EXPECT_EQ(response->get_local_request_error(), c.expected);
        if (c.expected == HTTP_REQUEST_OK) {
            EXPECT_EQ(response->body_length(), c.size);
        } else {
            EXPECT_FALSE(response->getErrorMessage().empty());
        }
    }
}

TEST_F(HttpExecuteTest, ChunkedPiecesWithPausesArriveWhole) {
    ScriptedReply reply;
    reply.chunked = true;
    reply.pieces = {{0ms, "{\"part\":"}, {50ms, "1,"}, {50ms, std::string(20000, 'z')}, {20ms, "}"}};
    s_server->queue_reply(reply);
    auto response = get(url("/stream"));
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(body_of(response), "{\"part\":1," + std::string(20000, 'z') + "}");
    EXPECT_EQ(response->getResponseHeaders().at("Transfer-Encoding"), "chunked");

    // A stream held mid-body goes on when the server is released.
    ScriptedReply held;
    held.chunked = true;
    held.pieces = {{0ms, "first,"}, {vxs_test::kUntilReleased, "second"}};
    s_server->queue_reply(held);
    std::atomic<bool> finished{false};
    std::thread releaser([&] {
        // Releasing again until the answer is in: a release that comes before
        // the server reaches the pause would be lost.
        while (!finished) {
            std::this_thread::sleep_for(50ms);
            s_server->release_stalls();
        }
    });
    auto resumed = get(url("/held"));
    finished = true;
    releaser.join();
    EXPECT_EQ(resumed->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(body_of(resumed), "first,second");
}

TEST_F(HttpExecuteTest, AcceptEncodingIsDecodedByTheTransfer) {
    ScriptedReply reply;
    reply.body = std::string(20000, 'r');
    s_server->queue_reply(reply);
    auto request = vxs_HttpRequest::requestWithUrl(url("/text"));
    request->_HEADER_LIST["Accept-Encoding"] = "gzip";
    auto response = vxs_http_request_maker::execute(request);
    EXPECT_EQ(response->get_local_request_error(), HTTP_REQUEST_OK);
    EXPECT_EQ(response->getResponseHeaders().at("Content-Encoding"), "gzip");
    EXPECT_EQ(body_of(response), reply.body);
    EXPECT_EQ(s_server->requests().back().header("Accept-Encoding"), "gzip");
}

TEST_F(HttpExecuteTest, LogShowsTheOutcomeButNoTokens) {
    const std::string token = "24.6c5e1ff107f0e8bcef8c46d3424a0e78.2592000.1";
    ScriptedReply reply;
    reply.content_type = "application/json";
    reply.body = "{\"access_token\":\"" + token + "\",\"expires_in\":2592000}";
    reply.headers = {{"Set-Cookie", "sid=9f86d081884c7d659a2feaa0c55ad015; Path=/"}};
    s_server->queue_reply(reply);
    auto request = vxs_HttpRequest::requestWithUrl(url("/oauth/2.0/token"));
    set_body(*request, "grant_type=client_credentials&client_id=Va5yQRHlA4FqE2&client_secret=0rDSjzQ20XUj5i");

    const int level = vxs::get_current_log_level();
    vxs::set_log_level(vxs::kLogTrace);
    testing::internal::CaptureStderr();
    auto response = vxs_http_request_maker::execute(request);
    const std::string log = testing::internal::GetCapturedStderr();
    vxs::set_log_level(level);

    ASSERT_EQ(body_of(response), reply.body);
    EXPECT_NE(log.find("http_status=200"), std::string::npos) << log;
    EXPECT_EQ(log.find("6c5e1ff107f0e8bcef8c46d3424a0e78"), std::string::npos) << log;
    EXPECT_EQ(log.find("0rDSjzQ20XUj5i"), std::string::npos) << log;
    EXPECT_NE(log.find("HEADER_KEY: Set-Cookie"), std::string::npos) << log;
    EXPECT_EQ(log.find("9f86d081884c7d659a2feaa0c55ad015"), std::string::npos) << log;
}

}  // namespace
