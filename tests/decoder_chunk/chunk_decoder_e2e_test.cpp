// The chunked decoder end to end against the reference service on loopback:
// goforward.raw recognised in every codec and rate, each fault the service
// can inject into the chunked protocol, and a retried utterance whose first
// attempt finds nobody listening.
#include <ostream>
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/common_keys.h"
#include "decoder/asr_result.h"
#include "decoder/asr_server_ip.h"
#include "decoder/request_keys.h"
#include "decoder_chunk/chunk_test_support.h"
#include "net/http_task_impl.h"
#include "net/tls_settings.h"
#include "refservice_client.h"
#include "service_fixture.h"
#include "support/test_ca.h"
#include "support/trusted_loopback.h"

namespace {

using namespace std::chrono_literals;
using chunktest::DecoderUnderTest;
using vxs::paramBase;
using vxs::ParamMapPtr;

const std::string kGoForward = std::string(refclient::kTestData) + "/goforward.raw";
constexpr auto kUtteranceLimit = 90s;

class ChunkDecoderEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new refclient::ServiceUnderTest(
            refclient::start_service(vxs::refservice::ServiceOptions()));
        s_dir = new vxs_test::TempDir();
        std::ofstream(s_dir->file("ca.pem")) << s_service->ca_pem;
        vxs::Networking::set_ca_bundle_path(s_dir->file("ca.pem"));
    }
    static void TearDownTestSuite() {
        delete s_service;
        delete s_dir;
        s_service = nullptr;
        s_dir = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(s_service && s_service->service);
        vxs::ASRServerIP::getInstance()->reset_for_tests("");
    }
    void TearDown() override {
        m_dut.reset();
        vxs::Networking::vxs_HttpTask_impl::set_idle_timeout_ms(0);
        vxs::ASRServerIP::getInstance()->reset_for_tests("");
    }

    static std::string base_url(const std::string& fault = std::string()) {
        const std::string base = s_service->service->base_url();
        return fault.empty() ? base + "/v2" : base + "/fault:" + fault + "/v2";
    }

    DecoderUnderTest& dut() { return *m_dut; }

    // Starts an utterance and returns the package and frame sizes the
    // decoder announced (0 when it did not begin).
    void start(const std::string& sn, const std::string& url, int compression, int rate,
               int* package, int* frame) {
        ParamMapPtr params = chunktest::start_params(sn, url);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(compression);
        (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(rate);
        dut().send(vxs::DEC_CMD_START, params);
        *package = *frame = 0;
        if (!dut().recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, 30s)) return;
        vxs::MessagePtr begin = dut().recorder->messages_named(vxs::DEC_CALLBACK_BEGIN)[0];
        *package = (*begin->params)["audio_package_size.int"].valueInt();
        *frame = (*begin->params)["encoder_frame_size.int"].valueInt();
    }

    // Sends `pcm` in packages of the given sizes (the last one padded to
    // whole frames) with the last mark on the final one.
    void send_packages(const std::vector<int16_t>& pcm, const std::vector<size_t>& sizes,
                       int frame) {
        size_t at = 0;
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::vector<int16_t> package(pcm.begin() + at,
                                         pcm.begin() + std::min(pcm.size(), at + sizes[i] / 2));
            at += package.size();
            const size_t frameSamples = static_cast<size_t>(std::max(frame, 2)) / 2;
            package.resize((package.size() + frameSamples - 1) / frameSamples * frameSamples, 0);
            dut().send_audio(package, i + 1 == sizes.size());
        }
    }

    static std::vector<size_t> equal_packages(size_t samples, int package) {
        const size_t count = (samples * 2 + package - 1) / package;
        return std::vector<size_t>(count, static_cast<size_t>(package));
    }

    // Waits for the end result or a finish; true when one came.
    bool wait_for_outcome() {
        const auto deadline = std::chrono::steady_clock::now() + kUtteranceLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto types = dut().result_types();
            if (!dut().finishes().empty() ||
                std::find(types.begin(), types.end(), vxs::EVR_RESULT_TYPE_END) != types.end()) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // The first recognised string of the final result, or "".
    std::string final_text() {
        const auto types = dut().result_types();
        const auto texts = dut().result_texts();
        for (size_t i = 0; i < types.size(); ++i) {
            if (types[i] != vxs::EVR_RESULT_TYPE_FINISH) continue;
            cJSON* parsed = cJSON_Parse(texts[i].c_str());
            const cJSON* first =
                cJSON_GetArrayItem(cJSON_GetObjectItem(parsed, "results_recognition"), 0);
            const std::string text = cJSON_IsString(first) ? first->valuestring : "";
            cJSON_Delete(parsed);
            return text;
        }
        return std::string();
    }

    // The service's log of one utterance: the sizes of its audio packets and
    // the samples it decoded.
    static void service_saw(const std::string& sn, std::vector<size_t>* audioSizes,
                            double* samples) {
        *samples = -1;
        for (const std::string& line : s_service->service->utterance_events(sn)) {
            cJSON* event = cJSON_Parse(line.c_str());
            const std::string name = cJSON_GetStringValue(cJSON_GetObjectItem(event, "event"));
            if (name == "packet" && cJSON_GetObjectItem(event, "type_byte")->valuedouble == 1) {
                audioSizes->push_back(
                    static_cast<size_t>(cJSON_GetObjectItem(event, "size")->valuedouble));
            }
            if (name == "samples") *samples = cJSON_GetObjectItem(event, "count")->valuedouble;
            cJSON_Delete(event);
        }
    }

    static refclient::ServiceUnderTest* s_service;
    static vxs_test::TempDir* s_dir;
    std::unique_ptr<DecoderUnderTest> m_dut = std::make_unique<DecoderUnderTest>();
};

refclient::ServiceUnderTest* ChunkDecoderEndToEnd::s_service = nullptr;
vxs_test::TempDir* ChunkDecoderEndToEnd::s_dir = nullptr;

struct CodecCase {
    const char* name;
    int compression;
    int rate;
};
// Test names carry the case name; gtest would otherwise print raw bytes.
void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

class Recognition : public ChunkDecoderEndToEnd, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(Recognition, GoForwardGivesPartialsThenTheFinalTextThenTheEnd) {
    const CodecCase& codec = GetParam();
    std::vector<int16_t> pcm = refclient::load_audio(kGoForward);
    ASSERT_FALSE(pcm.empty());
    if (codec.rate != 16000) pcm = refclient::resample(pcm, 16000, codec.rate);
    int package = 0;
    int frame = 0;
    start(std::string("e2e-") + codec.name, base_url(), codec.compression, codec.rate, &package,
          &frame);
    ASSERT_EQ(package, codec.rate * 160 / 1000 * 2);
    send_packages(pcm, equal_packages(pcm.size(), package), frame);

    ASSERT_TRUE(wait_for_outcome());
    EXPECT_TRUE(dut().finishes().empty()) << dut().finishes()[0].text;
    const auto types = dut().result_types();
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types[0], vxs::EVR_RESULT_TYPE_PARTIAL);
    EXPECT_EQ(types[types.size() - 2], vxs::EVR_RESULT_TYPE_FINISH);
    EXPECT_EQ(types.back(), vxs::EVR_RESULT_TYPE_END);
    if (codec.rate == 16000) {
        EXPECT_NE(final_text().find("forward"), std::string::npos) << final_text();
    } else {
        // Narrowband audio resampled in the service: words, but which ones
        // depends on the resampler.
        EXPECT_FALSE(final_text().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Recognition,
                         ::testing::Values(CodecCase{"pcm_16k", 1, 16000},
                                           CodecCase{"bv32_16k", 2, 16000},
                                           CodecCase{"amrwb_16k", 3, 16000},
                                           CodecCase{"pcm_8k", 1, 8000},
                                           CodecCase{"amrnb_8k", 3, 8000}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FaultCase {
    const char* name;
    const char* plan;
    int idle_timeout_ms;  // 0: the default
    int16_t domain;
    int16_t code;
    const char* text;  // "" : not compared
    // A second ending that is just as right, when the service ends both
    // connections at once and either report may reach the decoder first.
    int16_t other_domain = 0;
    int16_t other_code = 0;
    const char* other_text = "";
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class Fault : public ChunkDecoderEndToEnd, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Fault, EndsWithExactlyOneFinishAndNothingAfterIt) {
    const FaultCase& fault = GetParam();
    if (fault.idle_timeout_ms > 0)
        vxs::Networking::vxs_HttpTask_impl::set_idle_timeout_ms(fault.idle_timeout_ms);
    const std::vector<int16_t> pcm = refclient::load_audio(kGoForward);
    int package = 0;
    int frame = 0;
    start(std::string("fault-") + fault.name, base_url(fault.plan), 1, 16000, &package, &frame);
    ASSERT_GT(package, 0);
    send_packages(pcm, equal_packages(pcm.size(), package), frame);

    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_FINISH, 1, kUtteranceLimit));
    dut().recorder->wait_until_quiet(1s);
    const auto finishes = dut().finishes();
    ASSERT_EQ(finishes.size(), 1u);
    const bool other = fault.other_domain != 0 && finishes[0].domain == fault.other_domain;
    EXPECT_EQ(finishes[0].domain, other ? fault.other_domain : fault.domain);
    EXPECT_EQ(finishes[0].code, other ? fault.other_code : fault.code);
    const char* text = other ? fault.other_text : fault.text;
    if (text[0] != '\0') {
        EXPECT_EQ(finishes[0].text, text);
    }
    EXPECT_EQ(dut().names().back(), vxs::DEC_CALLBACK_FINISH);
}

const FaultCase kFaults[] = {
    // A refused upload closes the download without its end record at the
    // same moment as the upload is answered.
    {"up_status", "up_status=500", 0, 30, 6, "LTV protocol unfinished", 32, 500, "HTTP error: 500"},
    {"down_status", "down_status=503", 0, 32, 503, "HTTP error: 503"},
    {"partial_err_no", "partial_err_no=-3002", 0, 33, -3002, "Server recognition failed."},
    {"final_err_no", "final_err_no=-3005", 0, 33, -3005, "Server speech quality problem."},
    {"stall", "stall_ms=6000", 1000, 31, 1, "Local error while making HTTP request: timeout"},
    {"no_end", "no_end", 0, 30, 6, "LTV protocol unfinished"},
    {"drop", "drop", 0, 31, 4,
     "Local error while making HTTP request: 4[vxs_Chunk_Connection]downStream encouter error."},
    {"bad_json", "bad_json", 0, 33, -1000, "[ASRResponse::create_result] parse json failed"},
    {"bad_length", "bad_length", 0, 30, 6, "LTV protocol unfinished"},
};

INSTANTIATE_TEST_SUITE_P(Faults, Fault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChunkDecoderEndToEnd, ARetryAfterADeadAddressDeliversEveryAudioPacketOnceInOrder) {
    // Nobody listens at the server URL; the backup address is the service.
    const std::string dead =
        "https://127.0.0.1:" + std::to_string(vxs_test::unused_loopback_port()) + "/v2";
    vxs::ASRServerIP::getInstance()->reset_for_tests(base_url());
    const std::vector<int16_t> pcm = refclient::load_audio(kGoForward);
    int package = 0;
    int frame = 0;
    const std::string sn = "e2e-retry";
    start(sn, dead, 1, 16000, &package, &frame);
    ASSERT_EQ(package, 5120);
    // Every package one sample pair shorter than the one before: the service's
    // packet sizes then show each package's identity and place.
    std::vector<size_t> sizes;
    for (size_t sent = 0, size = 5120; sent < pcm.size() * 2; sent += size, size -= 4)
        sizes.push_back(size);
    send_packages(pcm, sizes, frame);

    ASSERT_TRUE(wait_for_outcome());
    EXPECT_TRUE(dut().finishes().empty()) << dut().finishes()[0].text;
    EXPECT_NE(final_text().find("forward"), std::string::npos) << final_text();

    std::vector<size_t> expected;
    size_t samples = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const size_t bytes = std::min(sizes[i], pcm.size() * 2 - samples * 2);
        expected.push_back(bytes + (i == 0 ? 4 : 0));  // the format header rides on the first
        samples += bytes / 2;
    }
    std::vector<size_t> seen;
    double decoded = 0;
    service_saw(sn, &seen, &decoded);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(decoded, static_cast<double>(samples));
}

}  // namespace
