// The single-request decoder driven directly: a context, a recorder as the
// callback module, and a loopback server that answers by package index.
#include <ostream>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/common_keys.h"
#include "core/context.h"
#include "core/error_code.h"
#include "core/message.h"
#include "decoder/asr_result.h"
#include "decoder/event_manager_dec.h"
#include "decoder/request_keys.h"
#include "decoder_single/indexed_answer_server.h"
#include "net/access_token.h"
#include "net/tls_settings.h"
#include "net/token_endpoint.h"
#include "support/message_recorder.h"
#include "support/trusted_loopback.h"

namespace {

using namespace std::chrono_literals;
using decoder_single::IndexedAnswerServer;
using decoder_single::IndexedReply;
using decoder_single::search_answer;
using vxs::ASRResult;
using vxs::EventManagerDec;
using vxs::Message;
using vxs::MessagePtr;
using vxs::paramBase;
using vxs::Memory::vxs_shared_ptr;
using vxs_test::MessageRecorder;

constexpr int kPackageBytes = 5120;  // 160 ms at 16 kHz
// Long enough for a loaded machine, short next to the 15 s request limit.
constexpr auto kEventWait = 20s;
// How long a test listens for events that must not come.
constexpr auto kQuiet = 700ms;

struct Finish {
    int16_t domain = 0;
    int16_t code = 0;
    std::string desc;
};

Finish finish_of(const MessagePtr& message) {
    Finish finish;
    vxs::decode_error(message->params->at("error.int32_t").valueInt32(), finish.domain,
                      finish.code);
    finish.desc = message->params->at("desc.string").valueString();
    return finish;
}

vxs_shared_ptr<ASRResult> result_of(const MessagePtr& message) {
    const auto* held =
        message->params->at("result.vxs_shared_ptr<ASRResult>").get<vxs_shared_ptr<ASRResult>>();
    return held ? *held : vxs_shared_ptr<ASRResult>();
}

// One event as a short text, for comparing whole sequences.
std::string describe(const MessagePtr& message) {
    if (message->name == vxs::DEC_CALLBACK_DATA) {
        vxs_shared_ptr<ASRResult> result = result_of(message);
        return "data " + std::to_string(result->get_index());
    }
    if (message->name == vxs::DEC_CALLBACK_FINISH) {
        const Finish finish = finish_of(message);
        return "finish " + std::to_string(finish.domain) + "/" + std::to_string(finish.code);
    }
    return message->name;
}

class SingleDecoderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_env = vxs_test::TrustedLoopback::start("single decoder root").release();
        ASSERT_NE(s_env, nullptr);
    }
    static void TearDownTestSuite() {
        delete s_env;
        s_env = nullptr;
    }

    void SetUp() override {
        vxs::Networking::set_ca_bundle_path(s_env->caBundlePath());
        m_server = std::make_unique<IndexedAnswerServer>(s_env->ca().issue_loopback_certificate());
        ASSERT_TRUE(m_server->start());
        m_context = vxs::Context::newContext();
        m_recorder = MessageRecorder::create(m_context);
        m_decoder = EventManagerDec::newEventManager(m_context, m_recorder);
        ASSERT_TRUE(m_decoder);
    }
    void TearDown() override {
        m_server->release_all();
        s_env->server().release_stalls();
        m_decoder = vxs_shared_ptr<EventManagerDec>();
        m_server->stop();
        vxs::Networking::set_access_token_url("");
        vxs::Networking::set_ca_bundle_path("");
    }

    vxs::ParamMapPtr start_params(const std::string& sn,
                                  const std::string& server_url = std::string()) {
        vxs::ParamMapPtr params = vxs::newParamMap();
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(4);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(1);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(16000);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT] = paramBase::box<int>(160);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = paramBase::box<std::string>("linux");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_VER_STRING] = paramBase::box<std::string>("test");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PDT_STRING] = paramBase::box<std::string>("1536");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PTC_STRING] = paramBase::box<std::string>("1");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_UID_STRING] = paramBase::box<std::string>("uid");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SN_STRING] = paramBase::box<std::string>(sn);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SERVER_URL] = paramBase::box<std::string>(
            server_url.empty() ? m_server->url("localhost", "/v2") : server_url);
        return params;
    }

    void send(const MessagePtr& message) {
        MessagePtr sent = message;
        m_decoder->send(sent);
    }
    void start(const vxs::ParamMapPtr& params) { send(Message::make(vxs::DEC_CMD_START, params)); }
    void start(const std::string& sn) { start(start_params(sn)); }
    void package(bool last = false, int bytes = kPackageBytes) {
        MessagePtr data = Message::make(vxs::DEC_CMD_DATA);
        (*data->params)["last.bool"] = paramBase::box<bool>(last);
        if (bytes > 0) {
            data->data = vxs::Memory::vxs_make_array<char>(static_cast<size_t>(bytes));
            data->length = static_cast<uint32_t>(bytes);
        }
        send(data);
    }
    void packages(int count, bool last_one_is_last) {
        for (int i = 1; i <= count; ++i) package(last_one_is_last && i == count);
    }
    void cancel(bool user) {
        MessagePtr message = Message::make(vxs::DEC_CMD_CANCEL);
        (*message->params)["user_cancel_bool"] = paramBase::box<bool>(user);
        send(message);
    }

    // The data and finish events so far, each as describe() gives it.
    std::vector<std::string> outcome() const {
        std::vector<std::string> events;
        for (const MessagePtr& message : m_recorder->messages()) {
            if (message->name == vxs::DEC_CALLBACK_DATA ||
                message->name == vxs::DEC_CALLBACK_FINISH) {
                events.push_back(describe(message));
            }
        }
        return events;
    }
    std::vector<Finish> finishes() const {
        std::vector<Finish> all;
        for (const MessagePtr& message : m_recorder->messages_named(vxs::DEC_CALLBACK_FINISH)) {
            all.push_back(finish_of(message));
        }
        return all;
    }
    bool wait_events(size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + kEventWait;
        while (outcome().size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        return outcome().size() >= count;
    }
    void settle() const { m_recorder->wait_until_quiet(kQuiet); }

    static vxs_test::TrustedLoopback* s_env;
    std::unique_ptr<IndexedAnswerServer> m_server;
    vxs::ContextPtr m_context;
    vxs_shared_ptr<MessageRecorder> m_recorder;
    vxs_shared_ptr<EventManagerDec> m_decoder;
};

vxs_test::TrustedLoopback* SingleDecoderTest::s_env = nullptr;

TEST_F(SingleDecoderTest, UtteranceGoesOutAsOneRequestPerPackageUnderTheServersName) {
    vxs::ParamMapPtr params = start_params("plain");
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_ENABLE_FEEDBACK] = paramBase::box<bool>(true);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_BROWER_UA_STRING] = paramBase::box<std::string>("agent/1");
    start(params);
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kEventWait));
    const MessagePtr begin = m_recorder->messages_named(vxs::DEC_CALLBACK_BEGIN).front();
    EXPECT_EQ(begin->params->at("audio_package_size.int").valueInt(), kPackageBytes);
    EXPECT_GT(begin->params->at("encoder_frame_size.int").valueInt(), 0);

    // Sent one by one so that every answer is the next in order.
    for (int i = 1; i <= 3; ++i) {
        package(i == 3, i == 3 ? 0 : kPackageBytes);
        ASSERT_TRUE(wait_events(static_cast<size_t>(i)));
    }
    EXPECT_EQ(outcome(), (std::vector<std::string>{"data 1", "data 2", "data -3"}));
    const auto data = m_recorder->messages_named(vxs::DEC_CALLBACK_DATA);
    EXPECT_NE(result_of(data.back())->get_response().find("plain:final"), std::string::npos);
    EXPECT_EQ(result_of(data.back())->get_type(), vxs::EVR_RESULT_TYPE_NBEST);

    const auto requests = m_server->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(m_server->indexes(), (std::vector<int>{1, 2, -3}));
    for (const auto& request : requests) {
        // Connected to the resolved address, but TLS and Host name the server.
        EXPECT_EQ(request.host, "localhost:" + std::to_string(m_server->port()));
        EXPECT_EQ(request.content_type, "multipart/form-data; boundary=--VX**VR++LIB");
        EXPECT_EQ(request.user_agent, "agent/1");
        EXPECT_EQ(request.glb, "plain");
    }
    // PCM adds its 4-byte header to the first package; the last one is empty.
    EXPECT_EQ(requests[0].audio_bytes, static_cast<size_t>(kPackageBytes + 4));
    EXPECT_EQ(requests[1].audio_bytes, static_cast<size_t>(kPackageBytes));
    EXPECT_EQ(requests[2].audio_bytes, 0u);

    // One resolution per utterance, reported on the feedback channel.
    const auto logs = m_recorder->messages_named(vxs::DEC_CALLBACK_LOG);
    ASSERT_EQ(logs.size(), 1u);
    const std::string line = logs[0]->params->at("log.string").valueString();
    EXPECT_EQ(
        line.rfind("type=dns&domain=" + m_server->url("localhost", "/v2") + "&error=0&ip=https://",
                   0),
        0u)
        << line;
    EXPECT_NE(line.find("&sn=plain"), std::string::npos) << line;
    settle();
    EXPECT_TRUE(finishes().empty());
}

struct SizeCase {
    const char* name;
    int encoding;
    int rate;
    int milliseconds;
    int package_bytes;
    int frame_bytes;
};
// Test names carry the case name; gtest would otherwise print raw bytes.
void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class PackageSizes : public SingleDecoderTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PackageSizes, BeginTellsWholeEncoderFrames) {
    const SizeCase& c = GetParam();
    vxs::ParamMapPtr params = start_params(c.name);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(c.encoding);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(c.rate);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT] = paramBase::box<int>(c.milliseconds);
    start(params);
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kEventWait));
    const MessagePtr begin = m_recorder->messages_named(vxs::DEC_CALLBACK_BEGIN).front();
    EXPECT_EQ(begin->params->at("audio_package_size.int").valueInt(), c.package_bytes);
    EXPECT_EQ(begin->params->at("encoder_frame_size.int").valueInt(), c.frame_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackageSizes,
    ::testing::Values(SizeCase{"pcm_16k", 1, 16000, 160, 5120, 2},
                      SizeCase{"pcm_8k", 1, 8000, 160, 2560, 2},
                      SizeCase{"other_rates_are_8k", 1, 11025, 160, 2560, 2},
                      SizeCase{"bv32", 2, 16000, 160, 5120, 160},
                      SizeCase{"unknown_encoding_is_bv32", 7, 16000, 160, 5120, 160},
                      SizeCase{"amr_wb", 3, 16000, 160, 5120, 640},
                      SizeCase{"amr_wb_rounded_up", 3, 16000, 30, 1280, 640},
                      SizeCase{"amr_nb_zero_is_one_frame", 3, 8000, 0, 320, 320},
                      SizeCase{"negative_is_one_frame", 1, 16000, -5, 2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct OrderCase {
    const char* name;
    int packages;  // the last one carries "last.bool"
    std::vector<std::pair<int, IndexedReply>> scripts;
    // Answers released one at a time: the index, and how many data and
    // finish events there are once that answer has been handled.
    std::vector<std::pair<int, size_t>> releases;
    std::vector<std::string> expected;  // data and finish events, in order
};
void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

class AnswerOrder : public SingleDecoderTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(AnswerOrder, FollowsPackageIndexes) {
    const OrderCase& c = GetParam();
    for (const auto& script : c.scripts) m_server->script(script.first, script.second);
    m_server->hold_all(true);
    start(c.name);
    packages(c.packages, true);
    for (const auto& release : c.releases) {
        // A fourth package reaches the server only once a worker is free.
        const auto deadline = std::chrono::steady_clock::now() + kEventWait;
        auto arrived = [&] {
            const std::vector<int> seen = m_server->indexes();
            return std::find(seen.begin(), seen.end(), release.first) != seen.end();
        };
        while (!arrived() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(arrived()) << release.first;
        m_server->release(release.first);
        ASSERT_TRUE(wait_events(release.second)) << release.first;
    }
    settle();
    EXPECT_EQ(outcome(), c.expected);
}

IndexedReply reply(int status, const std::string& body) {
    IndexedReply r;
    r.status = status;
    r.body = body;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnswerOrder,
    ::testing::Values(
        // The final answer first makes the two earlier ones obsolete.
        OrderCase{"answered_3_1_2", 3, {}, {{-3, 1}, {1, 1}, {2, 1}}, {"data -3"}},
        // A good later answer supersedes an earlier error still outstanding.
        OrderCase{
            "later_good_hides_500", 2, {{1, reply(500, "busy")}}, {{-2, 1}, {1, 1}}, {"data -2"}},
        // An error that arrives early waits for its turn.
        OrderCase{"early_error_waits_its_turn",
                  3,
                  {{2, reply(503, "busy")}},
                  {{2, 0}, {1, 2}, {-3, 3}},
                  {"data 1", "finish 32/503", "data -3"}},
        OrderCase{"server_err_no",
                  2,
                  {{-2, reply(200, search_answer(-2, 3, "", -3005))}},
                  {{1, 1}, {-2, 2}},
                  {"data 1", "finish 33/-3005"}},
        // An answer naming another package is an error, not an ordering hint.
        OrderCase{"idx_mismatch",
                  2,
                  {{1, reply(200, search_answer(7, 1, "seven"))}},
                  {{1, 1}, {-2, 2}},
                  {"finish 33/-1000", "data -2"}},
        OrderCase{
            "bad_json", 1, {{-1, reply(200, "{\"result\":")}}, {{-1, 1}}, {"finish 33/-1000"}},
        OrderCase{"not_found", 1, {{-1, reply(404, "")}}, {{-1, 1}}, {"finish 32/404"}},
        OrderCase{"fourth_package_waits_for_a_worker",
                  4,
                  {},
                  {{1, 1}, {2, 2}, {3, 3}, {-4, 4}},
                  {"data 1", "data 2", "data 3", "data -4"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SingleDecoderTest, ErrorTextsAreTheSystemsOwn) {
    m_server->script(-2, reply(200, search_answer(-2, 3, "", -3005)));
    m_server->script(1, reply(200, search_answer(9, 1, "x")));
    start("texts");
    package();
    ASSERT_TRUE(wait_events(1));
    package(true);
    ASSERT_TRUE(wait_events(2));
    const auto all = finishes();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_NE(all[0].desc.find("idx 9 does not match package idx 1"), std::string::npos)
        << all[0].desc;
    EXPECT_EQ(all[1].desc, "Server speech quality problem.");
}

TEST_F(SingleDecoderTest, TransportFailureIsALocalErrorNotAnHttpOne) {
    start(start_params("refused", "https://127.0.0.1:" +
                                      std::to_string(vxs_test::unused_loopback_port()) + "/v2"));
    package(true);
    ASSERT_TRUE(wait_events(1));
    settle();
    ASSERT_EQ(finishes().size(), 1u);
    EXPECT_EQ(finishes()[0].domain, vxs::DEC_ERROR_CODE_LOCAL_HTTP_CLASS);
    EXPECT_EQ(finishes()[0].code, 5);
    EXPECT_EQ(finishes()[0].desc, "Local error while making HTTP request: 5");
}

TEST_F(SingleDecoderTest, TimedOutPackageIsReportedAndALaterAnswerStillDelivered) {
    m_decoder->set_request_timeout_ms(1500);
    IndexedReply held = reply(200, search_answer(1, 1, "late"));
    held.hold = true;
    m_server->script(1, held);
    start("timeout");
    package();
    ASSERT_TRUE(wait_events(1));
    ASSERT_EQ(finishes().size(), 1u);
    EXPECT_EQ(finishes()[0].domain, vxs::DEC_ERROR_CODE_LOCAL_HTTP_CLASS);
    EXPECT_EQ(finishes()[0].code, 1);
    EXPECT_EQ(finishes()[0].desc, "Local error while making HTTP request: timeout");
    package(true);
    ASSERT_TRUE(wait_events(2));
    EXPECT_EQ(outcome(), (std::vector<std::string>{"finish 31/1", "data -2"}));

    // A good answer to the later package that comes first hides the time-out.
    m_recorder->clear();
    start("timeout-2");
    packages(2, true);
    ASSERT_TRUE(wait_events(1));
    m_recorder->wait_until_quiet(2500ms);
    EXPECT_EQ(outcome(), (std::vector<std::string>{"data -2"}));
}

struct StartFailure {
    const char* name;
    int net;
    const char* server_url;
    int16_t domain;
    int16_t code;
    const char* desc;
    bool begins;
};
void PrintTo(const StartFailure& c, std::ostream* os) { *os << c.name; }

class StartFailures : public SingleDecoderTest,
                      public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailures, EndAsOneFinish) {
    const StartFailure& c = GetParam();
    vxs::ParamMapPtr params = start_params(c.name, c.server_url);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(c.net);
    start(params);
    packages(2, true);
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_FINISH, 1, kEventWait));
    settle();
    ASSERT_EQ(finishes().size(), 1u);
    EXPECT_EQ(finishes()[0].domain, c.domain);
    EXPECT_EQ(finishes()[0].code, c.code);
    EXPECT_EQ(finishes()[0].desc, c.desc);
    EXPECT_EQ(m_recorder->messages_named(vxs::DEC_CALLBACK_BEGIN).size(), c.begins ? 1u : 0u);
    EXPECT_TRUE(m_recorder->messages_named(vxs::DEC_CALLBACK_DATA).empty());
    EXPECT_TRUE(m_server->requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartFailures,
    ::testing::Values(StartFailure{"no_network", 0, "", 30, 2, "Network unavailable", false},
                      StartFailure{"no_host", 4, "https:///v2", 30, 4,
                                   "Address resolution failed for https:///v2", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct CancelCase {
    const char* name;
    int built;        // packages sent before the cancel
    bool last_built;  // the last of them carries "last.bool"
    bool user;
    int expected_negative;  // 0: no negative package
};
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class Cancel : public SingleDecoderTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(Cancel, ClosesTheUtteranceWithTheNegativePackageWhenNeeded) {
    const CancelCase& c = GetParam();
    m_server->hold_all(true);
    start(c.name);
    packages(c.built, c.last_built);
    const size_t in_flight = static_cast<size_t>(std::min(c.built, 3));
    ASSERT_TRUE(m_server->wait_for_requests(in_flight, kEventWait));
    cancel(c.user);
    if (c.expected_negative != 0) {
        ASSERT_TRUE(m_server->wait_for_requests(in_flight + 1, kEventWait));
    }
    // Requests in flight were aborted; nothing of the utterance is reported.
    m_server->release_all();
    settle();
    std::vector<int> expected;
    for (int i = 1; i <= static_cast<int>(in_flight); ++i)
        expected.push_back(c.last_built && i == c.built ? -i : i);
    if (c.expected_negative != 0) expected.push_back(c.expected_negative);
    // The requests in flight arrive in any order.
    std::vector<int> seen = m_server->indexes();
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(outcome().empty());
    for (const auto& request : m_server->requests()) EXPECT_EQ(request.glb, c.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, Cancel,
                         ::testing::Values(CancelCase{"two_still_queued", 5, false, false, -4},
                                           CancelCase{"two_still_queued_user", 5, false, true,
                                                      -10004},
                                           CancelCase{"all_handed_out", 2, false, false, -3},
                                           CancelCase{"last_already_sent", 2, true, false, 0},
                                           CancelCase{"last_already_sent_user", 2, true, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SingleDecoderTest, CancelBeforeTheServerWasResolvedSendsNothing) {
    start("unresolved");
    cancel(true);
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kEventWait));
    settle();
    EXPECT_TRUE(m_server->requests().empty());
    // The decoder serves the next utterance as usual.
    start("after");
    package(true);
    ASSERT_TRUE(wait_events(1));
    EXPECT_EQ(outcome(), (std::vector<std::string>{"data -1"}));
}

TEST_F(SingleDecoderTest, AnswersOfThePreviousUtteranceAreIgnored) {
    m_server->script(1, [] {
        IndexedReply held = reply(200, search_answer(1, 1, "old"));
        held.hold = true;
        return held;
    }());
    start("old");
    package();
    ASSERT_TRUE(m_server->wait_for_requests(1, kEventWait));
    m_server->script(1, reply(200, search_answer(1, 1, "new")));
    start("new");
    package();
    ASSERT_TRUE(wait_events(1));
    package(true);
    ASSERT_TRUE(wait_events(2));
    m_server->release_all();
    settle();
    EXPECT_EQ(outcome(), (std::vector<std::string>{"data 1", "data -2"}));
    for (const auto& message : m_recorder->messages_named(vxs::DEC_CALLBACK_DATA)) {
        EXPECT_EQ(result_of(message)->get_response().find("old"), std::string::npos);
    }
}

TEST_F(SingleDecoderTest, CancelEndsAWaitForTheAccessTokenAtOnce) {
    // The token service never answers.
    vxs_test::ScriptedReply stall;
    stall.stall = true;
    s_env->server().set_default_reply(stall);
    vxs::Networking::set_access_token_url(s_env->server().url("localhost", "/oauth/2.0/token"));
    const size_t token_requests = s_env->server().requests().size();
    vxs_shared_ptr<vxs::Networking::vxs_AccessToken> token =
        vxs::Networking::vxs_AccessToken::alloc();
    auto key = [](const char* text) {
        vxs_shared_ptr<char> copy =
            vxs::Memory::vxs_make_array<char>(std::char_traits<char>::length(text) + 1);
        std::char_traits<char>::copy(copy.getPTR(), text, std::char_traits<char>::length(text));
        return copy;
    };
    token->setKeys(key("api"), key("secret"));
    ASSERT_TRUE(s_env->server().wait_for_requests(token_requests + 1, kEventWait));

    vxs::ParamMapPtr params = start_params("token");
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_TOK] = paramBase::box(token);
    start(params);
    packages(2, false);
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kEventWait));
    std::this_thread::sleep_for(100ms);  // the first package now waits for the token
    const auto cancelled_at = std::chrono::steady_clock::now();
    cancel(true);
    start("next");
    ASSERT_TRUE(m_recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 2, kEventWait));
    // Far below the token request's own 15 s limit.
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled_at, 5s);
    package(true);
    ASSERT_TRUE(wait_events(1));
    settle();
    // The wait ended by the cancel is not reported as a token failure.
    EXPECT_EQ(outcome(), (std::vector<std::string>{"data -1"}));
    EXPECT_EQ(m_server->indexes(), (std::vector<int>{-1}));
    s_env->server().set_default_reply(vxs_test::ScriptedReply());
}

TEST_F(SingleDecoderTest, ReleasingTheDecoderAbortsItsRequestsAndDestroysItPromptly) {
    m_server->hold_all(true);
    start("released");
    packages(3, false);
    ASSERT_TRUE(m_server->wait_for_requests(3, kEventWait));
    vxs::Memory::vxs_weak_ptr<EventManagerDec> weak(m_decoder);
    m_decoder = vxs_shared_ptr<EventManagerDec>();
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (weak.getPTR() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(weak.getPTR());
    settle();
    EXPECT_TRUE(outcome().empty());
}

}  // namespace
