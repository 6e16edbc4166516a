// The single-request protocol with plain libcurl: the pieces of one utterance
// sent three at a time and out of order, search and input mode, cancelled
// utterances, malformed bodies; and the token endpoint with the token check.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "refservice_client.h"
#include "service_fixture.h"

namespace {

const std::string kGoForward = std::string(refclient::kTestData) + "/goforward.raw";

struct Sent {
    int idx;
    refclient::HttpAnswer answer;
};

// Sends every package as its own request, the last with a negative index,
// from three threads at once; pieces 1 and 2 are swapped so that the
// service must restore the order.
std::vector<Sent> send_utterance(const std::string& url, const std::string& ca, const std::string& glb,
                                 const std::string& ptc, const std::vector<std::string>& packages,
                                 const std::string& token = std::string()) {
    std::vector<int> order;
    for (size_t i = 1; i <= packages.size(); ++i) order.push_back(static_cast<int>(i));
    if (order.size() > 2) std::swap(order[0], order[1]);
    std::vector<Sent> sent(order.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            for (size_t slot = next++; slot < order.size(); slot = next++) {
                const int piece = order[slot];
                const int idx = piece == static_cast<int>(packages.size()) ? -piece : piece;
                const std::string body = refclient::multipart_body(
                    refclient::single_document_json(idx, glb, ptc, token), packages[piece - 1]);
                sent[slot] = Sent{idx, refclient::post(url, ca, body,
                                                       {"Content-Type: multipart/form-data; boundary=--VX**VR++LIB"})};
            }
        });
    }
    for (auto& worker : workers) worker.join();
    return sent;
}

const Sent& last_answer(const std::vector<Sent>& sent) {
    for (const auto& one : sent) {
        if (one.idx < 0) return one;
    }
    return sent.front();
}

// The text of an input-mode answer: the first candidate of every slot, joined.
std::string confusion_network_text(const std::string& json) {
    cJSON* root = cJSON_Parse(json.c_str());
    std::string text;
    const cJSON* content = cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(root, "idxs"), 0), "content");
    const cJSON* slot = nullptr;
    cJSON_ArrayForEach(slot, content) {
        const cJSON* candidate = cJSON_GetArrayItem(slot, 0);
        if (candidate && candidate->child && candidate->child->string) text += candidate->child->string;
    }
    cJSON_Delete(root);
    return text;
}

struct ModeCase {
    const char* name;
    int compression;
    const char* ptc;
};

class SingleRequests : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SingleRequests, ThreeInFlightOutOfOrderGiveTheFinalText) {
    auto& shared = refclient::shared_service();
    const auto packages =
        refclient::encode_packages(GetParam().compression, 16000, refclient::load_audio(kGoForward));
    const std::string glb = std::string("single-") + GetParam().name;
    const auto sent =
        send_utterance(shared.service->base_url() + "/echo.fcgi", shared.ca_pem, glb, GetParam().ptc, packages);
    for (const auto& one : sent) ASSERT_EQ(one.answer.status, 200) << one.answer.body;
    const Sent& last = last_answer(sent);
    const bool input_mode = std::string(GetParam().ptc) == "101";
    if (input_mode) {
        cJSON* root = cJSON_Parse(last.answer.body.c_str());
        const cJSON* result = cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(root, "idxs"), 0), "result");
        ASSERT_NE(result, nullptr) << last.answer.body;
        EXPECT_EQ(cJSON_GetObjectItem(result, "err_no")->valuedouble, 0);
        EXPECT_EQ(cJSON_GetObjectItem(result, "idx")->valuedouble, last.idx);
        EXPECT_EQ(cJSON_GetObjectItem(result, "res_type")->valuedouble, 3);
        cJSON_Delete(root);
        EXPECT_EQ(confusion_network_text(last.answer.body), "go forward ten meters");
    } else {
        EXPECT_EQ(refclient::number_at(last.answer.body, "result.err_no"), 0);
        EXPECT_EQ(refclient::number_at(last.answer.body, "result.idx"), last.idx);
        EXPECT_EQ(refclient::number_at(last.answer.body, "result.res_type"), 3);
        EXPECT_EQ(refclient::first_word(last.answer.body, "content", "item"), "go forward ten meters");
        for (const auto& one : sent) {
            if (one.idx > 0) {
                EXPECT_EQ(refclient::number_at(one.answer.body, "result.res_type"), 1);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SingleRequests,
                         ::testing::Values(ModeCase{"search_pcm", 1, "1"}, ModeCase{"search_bv32", 2, "1"},
                                           ModeCase{"input_amr", 3, "101"}),
                         [](const auto& info) { return std::string(info.param.name); });

std::string one_piece(int idx, const std::string& glb, const std::string& token = std::string()) {
    const auto silence = refclient::encode_packages(1, 16000, std::vector<int16_t>(2560, 0));
    return refclient::multipart_body(refclient::single_document_json(idx, glb, "1", token), silence.at(0));
}

TEST(SingleRequestClosing, UserCancelClosesTheUtteranceAndRepeatsAreRefused) {
    auto& shared = refclient::shared_service();
    const std::string url = shared.service->base_url() + "/v2";
    EXPECT_EQ(refclient::post(url, shared.ca_pem, one_piece(1, "closing")).status, 200);
    const auto repeated = refclient::post(url, shared.ca_pem, one_piece(1, "closing"));
    EXPECT_EQ(refclient::number_at(repeated.body, "result.err_no"), -3001) << repeated.body;
    const auto cancel = refclient::post(url, shared.ca_pem, one_piece(-10002, "closing"));
    EXPECT_EQ(cancel.status, 200);
    const auto after = refclient::post(url, shared.ca_pem, one_piece(2, "closing"));
    EXPECT_EQ(refclient::number_at(after.body, "result.err_no"), -3001) << after.body;
}

TEST(SingleRequestMalformed, BodiesOfAnotherShapeAreRefused) {
    auto& shared = refclient::shared_service();
    const std::string url = shared.service->base_url() + "/v2";
    const std::string good = one_piece(1, "malformed-single");
    const std::string bad_document = refclient::multipart_body("{}", "audio").replace(19, 2, "\x1f\x8b");
    for (const std::string& body : {std::string("no boundary at all"), good.substr(0, good.size() - 6),
                                    refclient::multipart_body("{\"idx\":\"1\"}", "x"),
                                    refclient::multipart_body("{\"idx\":\"abc\",\"glb\":\"g\",\"pdt\":\"1\",\"ptc\":\"1\"}",
                                                              "x"),
                                    bad_document}) {
        const auto answer = refclient::post(url, shared.ca_pem, body);
        EXPECT_EQ(answer.status, 400);
        EXPECT_EQ(refclient::number_at(answer.body, "result.err_no"), -3001) << answer.body;
    }
}

struct TokenCase {
    const char* name;
    const char* body;
    long status;
    bool gives_token;
};

vxs_test::TempDir& log_dir() {
    static vxs_test::TempDir dir;
    return dir;
}

// A service with one configured client that requires tokens, logging to a file.
refclient::ServiceUnderTest& service() {
    static refclient::ServiceUnderTest guarded = [] {
        vxs::refservice::ServiceOptions options;
        options.log_path = log_dir().file("events.jsonl");
        options.client_id = "demo-id";
        options.client_secret = "demo-secret";
        options.require_token = true;
        return refclient::start_service(options);
    }();
    return guarded;
}

class TokenEndpoint : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenEndpoint, AnswersByCredentials) {
    const auto answer =
        refclient::post(service().service->base_url() + "/oauth/2.0/token", service().ca_pem, GetParam().body,
                        {"Content-Type: application/x-www-form-urlencoded"});
    EXPECT_EQ(answer.status, GetParam().status);
    cJSON* root = cJSON_Parse(answer.body.c_str());
    ASSERT_NE(root, nullptr) << answer.body;
    EXPECT_EQ(cJSON_IsString(cJSON_GetObjectItem(root, "access_token")), GetParam().gives_token);
    EXPECT_EQ(cJSON_IsNumber(cJSON_GetObjectItem(root, "expires_in")), GetParam().gives_token);
    EXPECT_EQ(cJSON_IsString(cJSON_GetObjectItem(root, "error")), !GetParam().gives_token);
    EXPECT_EQ(cJSON_IsString(cJSON_GetObjectItem(root, "error_description")), !GetParam().gives_token);
    cJSON_Delete(root);
}

INSTANTIATE_TEST_SUITE_P(
    Credentials, TokenEndpoint,
    ::testing::Values(
        TokenCase{"good", "grant_type=client_credentials&client_id=demo-id&client_secret=demo-secret", 200, true},
        TokenCase{"wrong_secret", "grant_type=client_credentials&client_id=demo-id&client_secret=nope", 401, false},
        TokenCase{"unknown_id", "grant_type=client_credentials&client_id=other&client_secret=demo-secret", 401, false},
        TokenCase{"no_credentials", "grant_type=client_credentials", 401, false},
        TokenCase{"wrong_grant", "grant_type=password&client_id=demo-id&client_secret=demo-secret", 400, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TokenCheck, SingleRequestsNeedAnIssuedToken) {
    const std::string url = service().service->base_url() + "/v2";
    const auto issued =
        refclient::post(service().service->base_url() + "/oauth/2.0/token", service().ca_pem,
                        "grant_type=client_credentials&client_id=demo-id&client_secret=demo-secret");
    cJSON* root = cJSON_Parse(issued.body.c_str());
    ASSERT_TRUE(cJSON_IsString(cJSON_GetObjectItem(root, "access_token"))) << issued.body;
    const std::string token = cJSON_GetObjectItem(root, "access_token")->valuestring;
    cJSON_Delete(root);

    for (const std::string& wrong : {std::string(), std::string("vxs.not-issued")}) {
        const auto refused = refclient::post(url, service().ca_pem, one_piece(-1, "token-" + wrong, wrong));
        EXPECT_EQ(refused.status, 401);
        EXPECT_NE(refclient::number_at(refused.body, "result.err_no"), 0) << refused.body;
    }
    const auto accepted = refclient::post(url, service().ca_pem, one_piece(-1, "token-good", token));
    EXPECT_EQ(accepted.status, 200) << accepted.body;
    // Silence: no words, which the service reports as "no result".
    EXPECT_EQ(refclient::number_at(accepted.body, "result.err_no"), -3003) << accepted.body;

    // The log file holds one JSON object per line, the answers included.
    std::ifstream file(log_dir().file("events.jsonl"));
    std::string line;
    int answers_for_good = 0;
    while (std::getline(file, line)) {
        cJSON* event = cJSON_Parse(line.c_str());
        ASSERT_NE(event, nullptr) << line;
        const std::string sn = cJSON_GetObjectItem(event, "sn")->valuestring;
        const std::string name = cJSON_GetObjectItem(event, "event")->valuestring;
        if (sn == "token-good" && name == "answer") ++answers_for_good;
        cJSON_Delete(event);
    }
    EXPECT_EQ(answers_for_good, 1);
}

}  // namespace

namespace {

TEST(Listening, AddressesParseAndBothFamiliesServe) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {{"127.0.0.1:8443", true, "127.0.0.1", 8443}, {"[::1]:0", true, "::1", 0},
                          {"localhost:1", true, "localhost", 1},      {"127.0.0.1", false, "", 0},
                          {"[::1:80", false, "", 0},                  {"127.0.0.1:70000", false, "", 0},
                          {":80", false, "", 0}};
    for (const Case& c : cases) {
        vxs::refservice::ListenAddress address;
        std::string error;
        EXPECT_EQ(vxs::refservice::parse_listen_address(c.text, &address, &error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(address.host, c.host);
            EXPECT_EQ(address.port, c.port);
        }
    }

    vxs::refservice::ServiceOptions options;
    options.listen = {{"127.0.0.1", 0}, {"::1", 0}};
    refclient::ServiceUnderTest both = refclient::start_service(options);
    if (!both.service) GTEST_SKIP() << "no IPv6 loopback here";
    const auto addresses = both.service->addresses();
    ASSERT_EQ(addresses.size(), 2u);
    for (const auto& address : addresses) {
        EXPECT_GT(address.port, 0);
        const auto answer = refclient::post(vxs::refservice::https_url(address) + "/oauth/2.0/token", both.ca_pem,
                                            "grant_type=client_credentials&client_id=a&client_secret=b");
        EXPECT_EQ(answer.status, 200) << vxs::refservice::https_url(address) << " " << answer.curl_code;
    }
}

}  // namespace
