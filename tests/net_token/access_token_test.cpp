#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "net/access_token.h"
#include "net/shared_c_string.h"
#include "net/tls_settings.h"
#include "net/token_endpoint.h"
#include "support/loopback_https_server.h"
#include "support/trusted_loopback.h"
#include "support/test_ca.h"

namespace {

using namespace std::chrono_literals;
using vxs::Memory::vxs_shared_ptr;
using vxs::Networking::make_shared_c_string;
using vxs::Networking::vxs_AccessToken;
using vxs_test::LoopbackHttpsServer;
using vxs_test::ScriptedReply;
using vxs_test::TestCa;

const char kTokenPath[] = "/oauth/2.0/token";

std::string text(const vxs_shared_ptr<char>& value) { return value.getPTR() ? value.getPTR() : "<none>"; }

ScriptedReply json_reply(const std::string& body, int status = 200) {
    ScriptedReply reply;
    reply.status = status;
    reply.content_type = "application/json";
    reply.body = body;
    return reply;
}

ScriptedReply token_reply(const std::string& token) {
    return json_reply("{\"access_token\":\"" + token + "\",\"expires_in\":2592000}");
}


struct Fetched {
    std::string token;
    std::string reason;
};

Fetched get_token(vxs_AccessToken& token) {
    vxs_shared_ptr<char> reason = make_shared_c_string("");
    bool cancel = false;
    const vxs_shared_ptr<char> value = token.getAccessToken(&reason, &cancel);
    return {value.getPTR() ? value.getPTR() : "", text(reason)};
}

// One throw-away CA trusted through the CA bundle setting and a scripted
// token service on loopback that the token URL points at.
class AccessTokenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_env = vxs_test::TrustedLoopback::start("vxs token test root").release();
        ASSERT_NE(s_env, nullptr);
        s_ca = &s_env->ca();
        s_server = &s_env->server();
    }
    static void TearDownTestSuite() {
        delete s_env;
        s_env = nullptr;
    }
    void SetUp() override {
        vxs::Networking::set_ca_bundle_path(s_env->caBundlePath());
        vxs::Networking::set_access_token_url(service_url());
        s_server->set_default_reply(json_reply("{\"error\":\"unscripted\"}", 500));
        m_requests_before = s_server->requests().size();
    }
    void TearDown() override {
        s_server->release_stalls();
        vxs::Networking::set_access_token_url("");
        vxs::Networking::set_ca_bundle_path("");
    }

    static std::string service_url() { return s_server->url("127.0.0.1", kTokenPath); }
    size_t requests_made() const { return s_server->requests().size() - m_requests_before; }
    static void set_keys(vxs_AccessToken& token, const std::string& api, const std::string& secret) {
        token.setKeys(make_shared_c_string(api), make_shared_c_string(secret));
    }

    static vxs_test::TrustedLoopback* s_env;
    static TestCa* s_ca;
    static LoopbackHttpsServer* s_server;
    size_t m_requests_before = 0;
};

vxs_test::TrustedLoopback* AccessTokenTest::s_env = nullptr;
TestCa* AccessTokenTest::s_ca = nullptr;
LoopbackHttpsServer* AccessTokenTest::s_server = nullptr;

TEST_F(AccessTokenTest, FetchesWithEncodedKeysAndCachesTheToken) {
    s_server->queue_reply(token_reply("24.token.one"));
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, "api key/1", "s3cr&t=+%");
    EXPECT_TRUE(token->isApiKeyInfoSet());

    EXPECT_EQ(get_token(*token).token, "24.token.one");
    EXPECT_EQ(get_token(*token).token, "24.token.one");
    ASSERT_EQ(requests_made(), 1u);
    const auto request = s_server->requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kTokenPath);
    EXPECT_EQ(request.body, "grant_type=client_credentials&client_id=api%20key%2F1&client_secret=s3cr%26t%3D%2B%25");
}

TEST_F(AccessTokenTest, SameKeysTwiceFetchOnceAndOtherKeysFetchAgain) {
    s_server->queue_reply(token_reply("24.token.first"));
    s_server->queue_reply(token_reply("24.token.second"));
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, "api-1", "secret-1");
    set_keys(*token, "api-1", "secret-1");  // fresh buffers, same text
    EXPECT_EQ(get_token(*token).token, "24.token.first");
    EXPECT_EQ(requests_made(), 1u);

    set_keys(*token, "api-2", "secret-2");
    EXPECT_EQ(get_token(*token).token, "24.token.second");
    EXPECT_EQ(requests_made(), 2u);
    EXPECT_NE(s_server->requests().back().body.find("client_id=api-2&"), std::string::npos);
}

TEST_F(AccessTokenTest, FailedFetchReportsWhyAndTheNextRequestRetries) {
    const std::string refused_url = "https://127.0.0.1:" + std::to_string(vxs_test::unused_loopback_port()) + kTokenPath;
    struct Case {
        const char* what;
        ScriptedReply reply;
        std::string url;
        std::string reason;
    };
    const Case cases[] = {
        {"error answer", json_reply("{\"error\":\"invalid_client\",\"error_description\":\"unknown client id\"}", 401),
         "", "unknown client id"},
        {"empty body", json_reply("", 502), "", "FAILED TO GET ACCESS TOKEN, EMPTY DATA (HTTP STATUS 502)"},
        {"one byte", json_reply("{"), "", "FAILED TO GET ACCESS TOKEN, EMPTY DATA (HTTP STATUS 200)"},
        {"unparsable", json_reply("<html>busy</html>"), "", "FAILED TO GET ACCESS TOKEN, FAILED TO PARSE RESPONSE!"},
        {"neither member", json_reply("{}"), "",
         "Unknown error while getting access token. JSON is missing both access_token and error_description fields"},
        {"empty token", json_reply("{\"access_token\":\"\"}"), "",
         "Unknown error while getting access token. JSON is missing both access_token and error_description fields"},
        {"refused", ScriptedReply(), refused_url, "FAILED TO GET ACCESS TOKEN, REQUEST FAILED (execute error 5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The fetch that setKeys starts may be over before the getter comes
        // (pooled connections make it quick), and the getter then retries at
        // once: every answer until the retry below is the failing one.
        if (c.url.empty()) {
            s_server->set_default_reply(c.reply);
        } else {
            vxs::Networking::set_access_token_url(c.url);
        }
        auto token = vxs_AccessToken::alloc();
        set_keys(*token, "api", "secret");
        const Fetched failed = get_token(*token);
        EXPECT_EQ(failed.token, "");
        EXPECT_EQ(failed.reason, c.reason);

        const size_t before_retry = requests_made();
        vxs::Networking::set_access_token_url(service_url());
        s_server->queue_reply(token_reply("24.token.retry"));
        EXPECT_EQ(get_token(*token).token, "24.token.retry");
        EXPECT_EQ(requests_made() - before_retry, 1u);
        s_server->set_default_reply(json_reply("{\"error\":\"unscripted\"}", 500));
    }
}

TEST_F(AccessTokenTest, WithoutKeysNothingIsFetched) {
    auto token = vxs_AccessToken::alloc();
    EXPECT_FALSE(token->isApiKeyInfoSet());
    EXPECT_EQ(get_token(*token).reason, "NO API/SECRET KEY");

    set_keys(*token, "api", "");
    EXPECT_FALSE(token->isApiKeyInfoSet());
    EXPECT_EQ(get_token(*token).reason, "NO API/SECRET KEY");
    token->setKeys(make_shared_c_string("api"), vxs_shared_ptr<char>());
    EXPECT_EQ(get_token(*token).reason, "NO API/SECRET KEY");
    EXPECT_EQ(requests_made(), 0u);
}

TEST_F(AccessTokenTest, AHandleSetBeforehandStartsNoFetch) {
    // The default, as the getter may retry a fetch that was already over.
    s_server->set_default_reply(json_reply("{\"error_description\":\"try later\"}"));
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, "api", "secret");
    EXPECT_EQ(get_token(*token).reason, "try later");

    const size_t before = requests_made();
    bool cancel = true;
    vxs_shared_ptr<char> reason = make_shared_c_string("untouched");
    EXPECT_EQ(token->getAccessToken(&reason, &cancel).getPTR(), nullptr);
    EXPECT_EQ(text(reason), "untouched");
    EXPECT_EQ(requests_made(), before);
}

TEST_F(AccessTokenTest, CancelEndsEveryWaitAndTheFetchStillCachesItsToken) {
    ScriptedReply stalled = token_reply("24.token.late");
    stalled.stall = true;
    s_server->queue_reply(stalled);
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, "api", "secret");
    ASSERT_TRUE(s_server->wait_for_requests(m_requests_before + 1, 20s));

    bool cancel = false;
    vxs_shared_ptr<char> reason = make_shared_c_string("");
    auto told = std::async(std::launch::async, [&] { return token->getAccessToken(&reason, &cancel); });
    // A waiter that cannot be told why must be released as well.
    auto untold = std::async(std::launch::async, [&] { return token->getAccessToken(nullptr, &cancel); });
    std::this_thread::sleep_for(100ms);
    token->cancelTokenWaitWithHandle(&cancel);
    ASSERT_EQ(told.wait_for(20s), std::future_status::ready);
    ASSERT_EQ(untold.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(told.get().getPTR(), nullptr);
    EXPECT_EQ(untold.get().getPTR(), nullptr);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(text(reason), "Cancelled");

    s_server->release_stalls();
    EXPECT_EQ(get_token(*token).token, "24.token.late");
    EXPECT_EQ(requests_made(), 1u);
}

TEST_F(AccessTokenTest, NewKeysDuringAFetchDoNotWaitAndReplaceItsAnswer) {
    ScriptedReply stalled = token_reply("24.token.stale");
    stalled.stall = true;
    s_server->queue_reply(stalled);
    s_server->queue_reply(token_reply("24.token.fresh"));
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, "api-old", "secret-old");
    ASSERT_TRUE(s_server->wait_for_requests(m_requests_before + 1, 20s));

    auto setting = std::async(std::launch::async, [&] { set_keys(*token, "api-new", "secret-new"); });
    EXPECT_EQ(setting.wait_for(20s), std::future_status::ready);
    s_server->release_stalls();
    EXPECT_EQ(get_token(*token).token, "24.token.fresh");
    ASSERT_EQ(requests_made(), 2u);
    EXPECT_NE(s_server->requests().back().body.find("client_id=api-new&"), std::string::npos);
}

// Getters on several threads while the keys change and waits are cancelled:
// every call ends with a token or a reason, and the last keys win.
TEST_F(AccessTokenTest, ConcurrentGettersKeyChangesAndCancelsAllEnd) {
    s_server->set_default_reply(token_reply("24.token.any"));
    auto token = vxs_AccessToken::alloc();
    std::vector<std::future<void>> getters;
    for (int thread = 0; thread < 4; ++thread) {
        getters.push_back(std::async(std::launch::async, [token, thread] {
            for (int call = 0; call < 10; ++call) {
                bool cancel = false;
                vxs_shared_ptr<char> reason = make_shared_c_string("");
                if ((thread + call) % 3 == 0) token->cancelTokenWaitWithHandle(&cancel);
                const vxs_shared_ptr<char> value = token->getAccessToken(&reason, &cancel);
                EXPECT_TRUE(value.getPTR() || cancel || text(reason) != "") << thread << "/" << call;
            }
        }));
    }
    for (int round = 0; round < 6; ++round) set_keys(*token, "api-" + std::to_string(round), "secret");
    for (auto& getter : getters) ASSERT_EQ(getter.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(get_token(*token).token, "24.token.any");
    EXPECT_NE(s_server->requests().back().body.find("client_id=api-5&"), std::string::npos);
}

TEST_F(AccessTokenTest, CancelWithoutAHandleIsRefused) {
    auto token = vxs_AccessToken::alloc();
    token->cancelTokenWaitWithHandle(nullptr);  // logged, nothing else
    EXPECT_EQ(get_token(*token).reason, "NO API/SECRET KEY");
}

TEST_F(AccessTokenTest, TraceLogCarriesNeitherTheSecretNorTheToken) {
    const std::string api = "apikey7Qw2Lr9Zp4Xv";
    const std::string secret = "sk0Yb3Hq8Tn5Wc1Mf6";
    const std::string issued = "24.a1b2c3d4e5f6.2592000.1712345678.282335-11";
    const std::string log_path = s_env->dir().file("token.log");
    ASSERT_TRUE(vxs::LogFile::open_log_file(log_path.c_str(), 0));
    const int level = vxs::get_current_log_level();
    vxs::set_log_level(vxs::kLogTrace);

    // A failed fetch (the debug line of the getter) and a successful one.
    s_server->queue_reply(json_reply("{\"error_description\":\"client " + secret + " refused\"}"));
    s_server->queue_reply(token_reply(issued));
    auto token = vxs_AccessToken::alloc();
    set_keys(*token, api, secret);
    get_token(*token);
    const Fetched fetched = get_token(*token);

    vxs::set_log_level(level);
    vxs::LogFile::close_log_file();
    ASSERT_EQ(fetched.token, issued);
    std::ifstream file(log_path);
    std::stringstream contents;
    contents << file.rdbuf();
    const std::string log = contents.str();
    EXPECT_NE(log.find("Access token request: "), std::string::npos) << log;
    EXPECT_NE(log.find("Access token response: "), std::string::npos) << log;
    EXPECT_NE(log.find("get accessToken, skey: "), std::string::npos) << log;
    for (const std::string& hidden : {secret, issued, api, std::string("a1b2c3d4e5f6")}) {
        EXPECT_EQ(log.find(hidden), std::string::npos) << hidden << " in\n" << log;
    }
}

}  // namespace
