// The single-request decoder end to end: real speech, every compression type
// and both rates, against the reference service on loopback; and every fault
// the service can inject into single requests, each ending the utterance with
// one "dec.callback.finish" of the expected domain and code.
#include <ostream>
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common_keys.h"
#include "core/context.h"
#include "core/error_code.h"
#include "core/event_manager.h"
#include "core/message.h"
#include "decoder/asr_result.h"
#include "decoder/event_manager_dec.h"
#include "decoder/request_keys.h"
#include "net/access_token.h"
#include "net/tls_settings.h"
#include "net/token_endpoint.h"
#include "refservice_client.h"
#include "service_fixture.h"
#include "support/test_ca.h"

namespace {

using namespace std::chrono_literals;
using vxs::ASRResult;
using vxs::EventManagerDec;
using vxs::Message;
using vxs::MessagePtr;
using vxs::paramBase;
using vxs::Memory::vxs_shared_ptr;
using vxs::Memory::vxs_weak_ptr;

constexpr auto kUtteranceLimit = 60s;
// Packages go out a little faster than real time, as a session would send
// them; an error therefore meets at most the packages still in flight.
constexpr auto kPackagePace = 40ms;

// Stands in for the ASR session: records the decoder's events and, as the
// session does, cancels the decoder at its first error.
class SessionStub : public vxs::EventManager {
  public:
    static vxs_shared_ptr<SessionStub> create(const vxs_weak_ptr<vxs::Context>& context) {
        return adoptModule(new SessionStub(context));
    }

    void attach(const vxs_shared_ptr<EventManagerDec>& decoder) { m_decoder = decoder; }

    void send(MessagePtr& message) override {
        bool first_error = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(message);
            if (message->name == vxs::DEC_CALLBACK_FINISH && !m_cancelled) {
                m_cancelled = true;
                first_error = true;
            }
            if (message->name == vxs::DEC_CALLBACK_DATA) {
                const auto* held = message->params->at("result.vxs_shared_ptr<ASRResult>")
                                       .get<vxs_shared_ptr<ASRResult>>();
                if (held && (*held)->get_res_type() == vxs::ASR_RES_TYPE_SINGLE_FINISH)
                    m_final = true;
            }
        }
        m_changed.notify_all();
        if (first_error) {
            if (vxs_shared_ptr<EventManagerDec> decoder = m_decoder.getPTR()) {
                MessagePtr cancel = Message::make(vxs::DEC_CMD_CANCEL);
                (*cancel->params)["user_cancel_bool"] = paramBase::box<bool>(false);
                decoder->send(cancel);
            }
        }
    }

    // Waits for a final result or an error.
    bool wait_for_end() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kUtteranceLimit, [&] { return m_final || m_cancelled; });
    }
    std::vector<MessagePtr> events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<MessagePtr> named(const std::string& name) {
        std::vector<MessagePtr> selected;
        for (const MessagePtr& event : events()) {
            if (event->name == name) selected.push_back(event);
        }
        return selected;
    }

  private:
    explicit SessionStub(const vxs_weak_ptr<vxs::Context>& context) : EventManager(context) {}

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<MessagePtr> m_events;
    bool m_cancelled = false;
    bool m_final = false;
    vxs_weak_ptr<EventManagerDec> m_decoder;
};

vxs_shared_ptr<ASRResult> result_of(const MessagePtr& message) {
    const auto* held =
        message->params->at("result.vxs_shared_ptr<ASRResult>").get<vxs_shared_ptr<ASRResult>>();
    return held ? *held : vxs_shared_ptr<ASRResult>();
}

// The first string of the result's "results_recognition".
std::string recognised_text(const ASRResult& result) {
    cJSON* root = cJSON_Parse(result.get_response().c_str());
    const cJSON* first = cJSON_GetArrayItem(cJSON_GetObjectItem(root, "results_recognition"), 0);
    const std::string text = cJSON_IsString(first) ? first->valuestring : "";
    cJSON_Delete(root);
    return text;
}

std::vector<int16_t> speech_at(int rate) {
    static const std::vector<int16_t> speech16k =
        refclient::load_audio(std::string(refclient::kTestData) + "/goforward.raw");
    return rate == 16000 ? speech16k : refclient::resample(speech16k, 16000, rate);
}

vxs_shared_ptr<char> copy_of(const std::string& text) {
    vxs_shared_ptr<char> copy = vxs::Memory::vxs_make_array<char>(text.size() + 1);
    text.copy(copy.getPTR(), text.size());
    return copy;
}

struct Utterance {
    int compression = 1;
    int rate = 16000;
    std::string ptc = "1";
    std::string server_url;
    std::string sn;
    vxs_shared_ptr<vxs::Networking::vxs_AccessToken> token;
    int request_timeout_ms = 0;
};

// One decoder, one utterance of goforward sent as the session would send it
// (whole encoder frames, the last package marked), run until the final result
// or the first error (which the stub answers with a cancel), then a quiet spell.
class E2E : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new vxs_test::TempDir();
        std::ofstream(s_dir->file("ca.pem")) << refclient::shared_service().ca_pem;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(refclient::shared_service().service);
        vxs::Networking::set_ca_bundle_path(s_dir->file("ca.pem"));
    }
    void TearDown() override { vxs::Networking::set_ca_bundle_path(""); }

    static std::string base() { return refclient::shared_service().service->base_url(); }

    std::vector<MessagePtr> run(const Utterance& u) {
        vxs::ContextPtr context = vxs::Context::newContext();
        vxs_shared_ptr<SessionStub> session = SessionStub::create(context);
        vxs_shared_ptr<EventManagerDec> decoder =
            EventManagerDec::newEventManager(context, session);
        session->attach(decoder);
        if (u.request_timeout_ms > 0) decoder->set_request_timeout_ms(u.request_timeout_ms);

        vxs::ParamMapPtr params = vxs::newParamMap();
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(4);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(u.compression);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(u.rate);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PACKAGE_SIZE_MS_INT] = paramBase::box<int>(160);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PLATFORM_STRING] = paramBase::box<std::string>("linux");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_VER_STRING] = paramBase::box<std::string>("e2e");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PDT_STRING] = paramBase::box<std::string>("1536");
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_PTC_STRING] = paramBase::box<std::string>(u.ptc);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SN_STRING] = paramBase::box<std::string>(u.sn);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SERVER_URL] = paramBase::box<std::string>(u.server_url);
        if (u.token) (*params)[vxs::ASR_ONLINE_PARAM_KEY_TOK] = paramBase::box(u.token);
        MessagePtr start = Message::make(vxs::DEC_CMD_START, params);
        decoder->send(start);

        // The package and frame sizes come with "dec.callback.begin".
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (session->named(vxs::DEC_CALLBACK_BEGIN).empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        const auto begins = session->named(vxs::DEC_CALLBACK_BEGIN);
        if (begins.empty()) {
            ADD_FAILURE() << "no dec.callback.begin";
            return session->events();
        }
        const int package_bytes = begins[0]->params->at("audio_package_size.int").valueInt();
        const int frame_bytes = begins[0]->params->at("encoder_frame_size.int").valueInt();
        send_speech(decoder, session, speech_at(u.rate), package_bytes, frame_bytes);
        EXPECT_TRUE(session->wait_for_end());
        // Whatever the decoder still had to say has arrived by now.
        std::this_thread::sleep_for(700ms);
        return session->events();
    }

    static void send_speech(const vxs_shared_ptr<EventManagerDec>& decoder,
                            const vxs_shared_ptr<SessionStub>& session,
                            const std::vector<int16_t>& pcm, int package_bytes, int frame_bytes) {
        const char* bytes = reinterpret_cast<const char*>(pcm.data());
        const size_t total = pcm.size() * sizeof(int16_t);
        for (size_t offset = 0; offset < total; offset += static_cast<size_t>(package_bytes)) {
            if (!session->named(vxs::DEC_CALLBACK_FINISH).empty())
                return;  // the session stops feeding
            const size_t take = std::min(total - offset, static_cast<size_t>(package_bytes));
            // The session pads the last package to whole encoder frames.
            const size_t padded = (take + frame_bytes - 1) / frame_bytes * frame_bytes;
            MessagePtr data = Message::make(vxs::DEC_CMD_DATA);
            (*data->params)["last.bool"] = paramBase::box<bool>(offset + take >= total);
            data->data = vxs::Memory::vxs_make_array<char>(padded);
            std::copy(bytes + offset, bytes + offset + take, data->data.getPTR());
            data->length = static_cast<uint32_t>(padded);
            decoder->send(data);
            std::this_thread::sleep_for(kPackagePace);
        }
    }

    static vxs_test::TempDir* s_dir;
};

vxs_test::TempDir* E2E::s_dir = nullptr;

struct SpeechCase {
    const char* name;
    int compression;
    int rate;
    const char* ptc;
};
// Test names carry the case name; gtest would otherwise print raw bytes.
void PrintTo(const SpeechCase& c, std::ostream* os) { *os << c.name; }

class Recognition : public E2E, public ::testing::WithParamInterface<SpeechCase> {};

TEST_P(Recognition, PartialResultsThenTheFinalText) {
    Utterance u;
    u.compression = GetParam().compression;
    u.rate = GetParam().rate;
    u.ptc = GetParam().ptc;
    u.server_url = base() + "/v2";
    u.sn = std::string("e2e-") + GetParam().name;
    const auto events = run(u);
    const auto is = [](const char* name) {
        return [name](const MessagePtr& m) { return m->name == name; };
    };
    EXPECT_EQ(std::count_if(events.begin(), events.end(), is(vxs::DEC_CALLBACK_FINISH.c_str())), 0);

    std::vector<vxs_shared_ptr<ASRResult>> results;
    for (const MessagePtr& event : events) {
        if (event->name == vxs::DEC_CALLBACK_DATA) results.push_back(result_of(event));
    }
    ASSERT_GE(results.size(), 2u);
    // Partial results in package order, then exactly one final, last.
    for (size_t i = 0; i + 1 < results.size(); ++i) {
        EXPECT_EQ(results[i]->get_res_type(), vxs::ASR_RES_TYPE_PARTIAL) << i;
        EXPECT_LT(results[i]->get_index(), results[i + 1]->get_index() < 0
                                               ? -results[i + 1]->get_index()
                                               : results[i + 1]->get_index());
    }
    const vxs_shared_ptr<ASRResult>& final_result = results.back();
    EXPECT_EQ(final_result->get_res_type(), vxs::ASR_RES_TYPE_SINGLE_FINISH);
    EXPECT_LT(final_result->get_index(), 0);
    EXPECT_EQ(final_result->get_type(), std::string(GetParam().ptc) == "101"
                                            ? vxs::EVR_RESULT_TYPE_CN
                                            : vxs::EVR_RESULT_TYPE_NBEST);
    const std::string text = recognised_text(*final_result);
    if (GetParam().rate == 16000) {
        EXPECT_NE(text.find("forward"), std::string::npos) << final_result->get_response();
    } else {
        // Narrowband audio is resampled in the service: words come back, but
        // which ones depends on the resampler.
        EXPECT_FALSE(text.empty()) << final_result->get_response();
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, Recognition,
                         ::testing::Values(SpeechCase{"pcm_16k", 1, 16000, "1"},
                                           SpeechCase{"bv32_16k", 2, 16000, "1"},
                                           SpeechCase{"amr_wb_16k", 3, 16000, "1"},
                                           SpeechCase{"pcm_8k", 1, 8000, "1"},
                                           SpeechCase{"amr_nb_8k_input_mode", 3, 8000, "101"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    const char* plan;  // the service's fault plan, given in the path
    int request_timeout_ms;
    int16_t domain;
    int16_t code;
    const char* desc;  // "" when the text is not fixed
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Faults : public E2E, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, EndAsOneFinishWithNothingAfterIt) {
    const FaultCase& c = GetParam();
    Utterance u;
    u.compression = 2;
    u.server_url = base() + "/fault:" + c.plan + "/v2";
    u.sn = std::string("e2e-fault-") + c.name;
    u.request_timeout_ms = c.request_timeout_ms;
    const auto events = run(u);

    std::vector<std::string> after;
    int finishes = 0;
    for (const MessagePtr& event : events) {
        if (event->name == vxs::DEC_CALLBACK_FINISH) {
            ++finishes;
            int16_t domain = 0;
            int16_t code = 0;
            vxs::decode_error(event->params->at("error.int32_t").valueInt32(), domain, code);
            EXPECT_EQ(domain, c.domain);
            EXPECT_EQ(code, c.code);
            if (c.desc[0] != '\0') {
                EXPECT_EQ(event->params->at("desc.string").valueString(), c.desc);
            }
        } else if (finishes > 0) {
            after.push_back(event->name);
        }
    }
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(after.empty()) << ::testing::PrintToString(after);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, Faults,
    ::testing::Values(FaultCase{"status_500", "status=500", 0, 32, 500, "HTTP error: 500"},
                      FaultCase{"partial_err_no", "partial_err_no=-3002", 0, 33, -3002,
                                "Server recognition failed."},
                      FaultCase{"final_err_no", "final_err_no=-3005", 0, 33, -3005,
                                "Server speech quality problem."},
                      FaultCase{"final_delay", "final_delay_ms=4000", 1500, 31, 1,
                                "Local error while making HTTP request: timeout"},
                      FaultCase{"bad_json", "bad_json", 0, 33, -1000,
                                "[ASRResponse::create_result] parse json failed"}),
    [](const auto& info) { return std::string(info.param.name); });

// A service that accepts single requests only with a token it issued.
refclient::ServiceUnderTest& token_service() {
    static refclient::ServiceUnderTest guarded = [] {
        vxs::refservice::ServiceOptions options;
        options.client_id = "e2e-id";
        options.client_secret = "e2e-secret";
        options.require_token = true;
        return refclient::start_service(options);
    }();
    return guarded;
}

TEST_F(E2E, TokenRequiredButMissingIsAnHttpErrorAndAnIssuedOneIsAccepted) {
    ASSERT_TRUE(token_service().service);
    std::ofstream(s_dir->file("token-ca.pem")) << token_service().ca_pem;
    vxs::Networking::set_ca_bundle_path(s_dir->file("token-ca.pem"));
    vxs::Networking::set_access_token_url(token_service().service->base_url() + "/oauth/2.0/token");

    Utterance missing;
    missing.server_url = token_service().service->base_url() + "/v2";
    missing.sn = "e2e-token-missing";
    std::vector<MessagePtr> events = run(missing);
    std::vector<std::string> names;
    for (const MessagePtr& event : events) {
        if (event->name == vxs::DEC_CALLBACK_FINISH) {
            int16_t domain = 0;
            int16_t code = 0;
            vxs::decode_error(event->params->at("error.int32_t").valueInt32(), domain, code);
            names.push_back("finish " + std::to_string(domain) + "/" + std::to_string(code));
        } else if (event->name == vxs::DEC_CALLBACK_DATA) {
            names.push_back("data");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"finish 32/401"}));

    Utterance issued = missing;
    issued.sn = "e2e-token-issued";
    issued.token = vxs::Networking::vxs_AccessToken::alloc();
    issued.token->setKeys(copy_of("e2e-id"), copy_of("e2e-secret"));
    events = run(issued);
    ASSERT_FALSE(events.empty());
    const MessagePtr& last = events.back();
    ASSERT_EQ(last->name, vxs::DEC_CALLBACK_DATA);
    EXPECT_NE(recognised_text(*result_of(last)).find("forward"), std::string::npos);
    vxs::Networking::set_access_token_url("");
}

}  // namespace
