// The chunked decoder against a scriptable loopback HTTPS server: what goes
// up (packet order, cancel and finish packets, long speech), how records are
// framed on the way down, every way an utterance ends in an error, cancel
// during an address resolution, and the retry through the cached and backup
// addresses.
#include <ostream>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/common_keys.h"
#include "decoder/asr_result.h"
#include "decoder/asr_server_ip.h"
#include "decoder/event_manager_dec_chunk.h"
#include "decoder/request_keys.h"
#include "decoder_chunk/chunk_service_stub.h"
#include "decoder_chunk/chunk_test_support.h"
#include "net/address_resolver.h"
#include "net/http_task_impl.h"
#include "net/tls_settings.h"
#include "support/trusted_loopback.h"

namespace {

using namespace std::chrono_literals;
using chunktest::DecoderUnderTest;
using chunktest::end_record;
using chunktest::json_record;
using chunktest::Packet;
using chunktest::parse_packets;
using chunktest::record;
using chunktest::start_params;
using vxs::ASRServerIP;
using vxs::EventManagerDecChunk;
using vxs::paramBase;
using vxs::ParamMapPtr;
using vxs::Memory::vxs_shared_ptr;
using vxs_test::ChunkPiece;
using vxs_test::kUntilReleased;
using vxs_test::ScriptedReply;

constexpr auto kWait = 20s;
// How long "nothing more arrives" is watched for.
constexpr auto kQuiet = 500ms;
constexpr uint32_t kPackage = 5120;  // 160 ms of 16 kHz PCM

ScriptedReply chunked_reply(std::vector<ChunkPiece> pieces) {
    ScriptedReply reply;
    reply.chunked = true;
    reply.content_type = "application/octet-stream";
    reply.pieces = std::move(pieces);
    return reply;
}

std::string dead_url() {
    return "https://127.0.0.1:" + std::to_string(vxs_test::unused_loopback_port()) + "/v2";
}

class ChunkDecoder : public ::testing::Test {
  protected:
    void SetUp() override {
        m_loopback = vxs_test::TrustedLoopback::start("chunk decoder test CA");
        ASSERT_TRUE(m_loopback);
        vxs::Networking::set_ca_bundle_path(m_loopback->caBundlePath());
        ASRServerIP::getInstance()->reset_for_tests("");
        m_stub = std::make_unique<chunktest::ChunkServiceStub>(
            m_loopback->ca().issue_loopback_certificate());
        ASSERT_TRUE(m_stub->start());
        m_dut = std::make_unique<DecoderUnderTest>();
    }

    void TearDown() override {
        m_dut.reset();
        if (m_stub) m_stub->release_stalls();
        vxs::Networking::vxs_HttpTask_impl::set_idle_timeout_ms(0);
        EventManagerDecChunk::set_resolver_factory_for_tests(nullptr);
        ASRServerIP::getInstance()->reset_for_tests("");
        m_stub.reset();
        m_loopback.reset();
    }

    chunktest::ChunkServiceStub& server() { return *m_stub; }
    std::string url() { return server().url("/v2"); }
    DecoderUnderTest& dut() { return *m_dut; }

    void start(const ParamMapPtr& params) { dut().send(vxs::DEC_CMD_START, params); }
    void start(const std::string& sn) { start(start_params(sn, url())); }

    // Starts, waits until the download has reached the server (so that it
    // takes the first queued reply), then sends `packages` and the last mark.
    void run_utterance(const ParamMapPtr& params, int packages) {
        const size_t before = server().downloads_arrived();
        start(params);
        ASSERT_TRUE(server().wait_for_downloads(before + 1, kWait));
        for (int i = 0; i < packages; ++i) dut().send_audio(kPackage, i + 1 == packages);
    }

    // The packets of the upload with this serial number, once its body ended.
    std::vector<Packet> upload_packets(const std::string& sn) {
        chunktest::StreamedUpload upload;
        EXPECT_TRUE(server().wait_for_upload(sn, kWait, &upload)) << "no upload for " << sn;
        EXPECT_TRUE(upload.completed) << "the upload for " << sn << " was broken off";
        return parse_packets(upload.body);
    }

    void expect_single_finish_last(int16_t domain, int16_t code, const std::string& text) {
        ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_FINISH, 1, kWait));
        dut().recorder->wait_until_quiet(kQuiet);
        const auto finishes = dut().finishes();
        ASSERT_EQ(finishes.size(), 1u);
        EXPECT_EQ(finishes[0].domain, domain);
        EXPECT_EQ(finishes[0].code, code);
        if (!text.empty()) {
            EXPECT_EQ(finishes[0].text, text);
        }
        EXPECT_EQ(dut().names().back(), vxs::DEC_CALLBACK_FINISH);
    }

    std::unique_ptr<vxs_test::TrustedLoopback> m_loopback;
    std::unique_ptr<chunktest::ChunkServiceStub> m_stub;
    std::unique_ptr<DecoderUnderTest> m_dut;
};

// ---- The upload and the framing of the download ----

TEST_F(ChunkDecoder, RecordsSplitOverReadsAndPackedTogetherArePostedOnceInOrder) {
    const std::string first = json_record(0xF0, 0, "alpha");
    server().queue_download(chunked_reply(
        {{0ms, first.substr(0, 3)},
         {100ms, first.substr(3, 9)},
         {100ms, first.substr(12)},
         {100ms, json_record(0xF0, 0, "beta") + json_record(0xF1, 0, "gamma") + end_record()}}));
    run_utterance(start_params("split", url()), 2);

    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 4, kWait));
    dut().recorder->wait_until_quiet(kQuiet);
    EXPECT_EQ(dut().result_types(),
              (std::vector<int>{vxs::EVR_RESULT_TYPE_PARTIAL, vxs::EVR_RESULT_TYPE_PARTIAL,
                                vxs::EVR_RESULT_TYPE_FINISH, vxs::EVR_RESULT_TYPE_END}));
    const auto texts = dut().result_texts();
    EXPECT_NE(texts[0].find("alpha"), std::string::npos) << texts[0];
    EXPECT_NE(texts[2].find("gamma"), std::string::npos) << texts[2];
    EXPECT_TRUE(dut().finishes().empty());
    EXPECT_EQ(dut().names().front(), vxs::DEC_CALLBACK_BEGIN);

    // Parameters first, then the audio, then the finish packet.
    const auto packets = upload_packets("split");
    EXPECT_EQ(chunktest::packet_types(packets), "0113");
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[1].payload.size(), kPackage + 4);  // PCM with the format header
    EXPECT_EQ(packets[1].payload[0], 5);                 // PCM at 16 kHz
    EXPECT_EQ(packets[2].payload.size(), kPackage);
    EXPECT_TRUE(packets[3].payload.empty());
}

TEST_F(ChunkDecoder, RealTimeDataFollowsTheParametersAndGoesOutAtStop) {
    server().queue_download(chunked_reply({{0ms, json_record(0xF1, 0, "rt") + end_record()}}));
    ParamMapPtr params = start_params("realtime", url());
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_REALTIME_DATA] = paramBase::box<std::string>("rt-start");
    start(params);
    ASSERT_TRUE(server().wait_for_downloads(1, kWait));
    dut().send_audio(kPackage, false);
    ParamMapPtr stop = vxs::newParamMap();
    (*stop)[vxs::ASR_ONLINE_PARAM_KEY_REALTIME_DATA] = paramBase::box<std::string>("rt-stop");
    dut().send(vxs::DEC_CMD_STOP, stop);
    dut().send_audio(kPackage, true);

    const auto packets = upload_packets("realtime");
    ASSERT_EQ(chunktest::packet_types(packets), "051513");
    EXPECT_EQ(packets[1].payload, "rt-start");
    EXPECT_EQ(packets[3].payload, "rt-stop");
}

struct EndingCase {
    const char* name;
    ScriptedReply download;
    int idle_timeout_ms;  // 0: the default
    int upload_status;    // the upload's answer
    int16_t domain;
    int16_t code;
    const char* text;  // "" : not compared
    int results_before;
};
// Test names carry the case name; gtest would otherwise print raw bytes.
void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class DownloadEnding : public ChunkDecoder, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(DownloadEnding, EndsWithExactlyOneFinishAndNothingAfterIt) {
    const EndingCase& ending = GetParam();
    if (ending.idle_timeout_ms > 0)
        vxs::Networking::vxs_HttpTask_impl::set_idle_timeout_ms(ending.idle_timeout_ms);
    server().set_upload_status(ending.upload_status);
    server().queue_download(ending.download);
    run_utterance(start_params(std::string("ending-") + ending.name, url()), 1);

    expect_single_finish_last(ending.domain, ending.code, ending.text);
    EXPECT_EQ(static_cast<int>(dut().result_types().size()), ending.results_before);
}

ScriptedReply status_reply(int status) {
    ScriptedReply reply;
    reply.status = status;
    reply.body = "refused";
    return reply;
}

ScriptedReply cut_short_reply() {
    ScriptedReply reply;
    reply.content_type = "application/octet-stream";
    reply.body = json_record(0xF0, 0, "partial") + std::string(64, 'x');
    reply.close_after_bytes = static_cast<long>(json_record(0xF0, 0, "partial").size());
    return reply;
}

const EndingCase kEndings[] = {
    {"no_end_record", chunked_reply({{0ms, json_record(0xF0, 0, "a")}}), 0, 200, 30, 6,
     "LTV protocol unfinished", 1},
    {"download_status", status_reply(503), 0, 200, 32, 503, "HTTP error: 503", 0},
    {"server_error_number",
     chunked_reply({{0ms, json_record(0xF0, 0, "a") + json_record(0xF1, -3001, "b") +
                              json_record(0xF0, 0, "late") + end_record()}}),
     0, 200, 33, -3001, "Server parameters invalid.", 1},
    {"length_wraps",
     chunked_reply({{0ms, json_record(0xF0, 0, "a") + std::string("\xfc\xff\xff\xff\xf0", 5)}}), 0,
     200, 33, -1000, "", 1},
    {"length_negative_as_int", chunked_reply({{0ms, std::string("\xff\xff\xff\x7f\xf0", 5) + "x"}}),
     0, 200, 33, -1000, "", 0},
    {"length_above_limit", chunked_reply({{0ms, std::string("\x01\x00\x10\x00\xf2", 5)}}), 0, 200,
     33, -1000, "", 0},
    {"length_zero", chunked_reply({{0ms, std::string("\x00\x00\x00\x00", 4)}}), 0, 200, 33, -1000,
     "", 0},
    {"idle_timeout",
     chunked_reply({{0ms, json_record(0xF0, 0, "a")}, {kUntilReleased, end_record()}}), 300, 200,
     31, 1, "Local error while making HTTP request: timeout", 1},
    {"closed_mid_body", cut_short_reply(), 0, 200, 31, 4,
     "Local error while making HTTP request: 4[vxs_Chunk_Connection]downStream encouter error.", 1},
    {"upload_refused_while_download_waits", chunked_reply({{kUntilReleased, end_record()}}), 0, 403,
     32, 403, "HTTP error: 403", 0},
};

INSTANTIATE_TEST_SUITE_P(Endings, DownloadEnding, ::testing::ValuesIn(kEndings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChunkDecoder, AnUtteranceEndedEarlyDoesNotHideTheNextOnesMissingEnd) {
    // The first utterance sees its end record, then is cancelled while its
    // download is still open.
    server().queue_download(
        chunked_reply({{0ms, json_record(0xF1, 0, "one") + end_record()}, {kUntilReleased, ""}}));
    server().queue_download(chunked_reply({{0ms, json_record(0xF0, 0, "two")}}));
    start("first");
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 2, kWait));
    dut().send(vxs::DEC_CMD_CANCEL);

    // The second one's download closes without an end record.
    run_utterance(start_params("second", url()), 1);
    expect_single_finish_last(30, 6, "LTV protocol unfinished");
}

// ---- Start, data and cancel ----

struct CommandErrorCase {
    const char* name;
    void (*prepare)(ParamMapPtr& params);
    uint32_t audio_bytes;  // sent after the start
    int16_t domain;
    int16_t code;
    const char* text;
    bool begins;
};
void PrintTo(const CommandErrorCase& c, std::ostream* os) { *os << c.name; }

class CommandError : public ChunkDecoder, public ::testing::WithParamInterface<CommandErrorCase> {};

TEST_P(CommandError, IsReportedOnceAndNothingFollows) {
    const CommandErrorCase& error = GetParam();
    ParamMapPtr params = start_params(std::string("command-") + error.name, url());
    error.prepare(params);
    server().queue_download(chunked_reply({{kUntilReleased, end_record()}}));
    start(params);
    if (error.audio_bytes > 0) {
        ASSERT_TRUE(server().wait_for_downloads(1, kWait));
        dut().send_audio(error.audio_bytes, true);
    }
    expect_single_finish_last(error.domain, error.code, error.text);
    EXPECT_EQ(dut().names().front() == vxs::DEC_CALLBACK_BEGIN, error.begins);
    if (!error.begins) {
        EXPECT_EQ(server().downloads_arrived(), 0u);
    }
}

const CommandErrorCase kCommandErrors[] = {
    {"network_unavailable",
     [](ParamMapPtr& p) { (*p)[vxs::ASR_ONLINE_PARAM_KEY_NET_INT] = paramBase::box<int>(0); }, 0,
     30, 2, "Network unavailable", false},
    {"no_server_url", [](ParamMapPtr& p) { p->erase(vxs::ASR_ONLINE_PARAM_KEY_SERVER_URL); }, 0, 30,
     5, "", false},
    {"package_not_whole_frames", [](ParamMapPtr&) {}, kPackage - 1, 30, 1,
     "[Dec:processData] encode audio failed.", true},
    {"parameter_packet_not_built",
     [](ParamMapPtr& p) { p->erase(vxs::ASR_ONLINE_PARAM_KEY_PLATFORM_STRING); }, 0, 30, 1, "",
     true},
};

INSTANTIATE_TEST_SUITE_P(Commands, CommandError, ::testing::ValuesIn(kCommandErrors),
                         [](const auto& info) { return std::string(info.param.name); });

struct FallbackCase {
    const char* name;
    int rate;
    int encoding;
    int package_bytes;
    char header_byte;
};
void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }

class SettingFallback : public ChunkDecoder, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(SettingFallback, ChoosesTheEncoderAndPackageSize) {
    const FallbackCase& fallback = GetParam();
    const std::string sn = std::string("fallback-") + fallback.name;
    ParamMapPtr params = start_params(sn, url());
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_SAMPLE_RATE_INT] = paramBase::box<int>(fallback.rate);
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_AUE_INT] = paramBase::box<int>(fallback.encoding);
    server().queue_download(chunked_reply({{0ms, end_record()}}));
    start(params);
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kWait));
    const vxs::MessagePtr begin = dut().recorder->messages_named(vxs::DEC_CALLBACK_BEGIN)[0];
    EXPECT_EQ((*begin->params)["audio_package_size.int"].valueInt(), fallback.package_bytes);
    ASSERT_TRUE(server().wait_for_downloads(1, kWait));
    dut().send_audio(static_cast<uint32_t>(fallback.package_bytes), true);

    const auto packets = upload_packets(sn);
    ASSERT_EQ(chunktest::packet_types(packets), "013");
    EXPECT_EQ(packets[1].payload[0], fallback.header_byte);
}

const FallbackCase kFallbacks[] = {
    {"rate_11025_is_8000", 11025, 1, 2560, 1},  // PCM at 8 kHz
    {"encoding_7_is_bv32", 16000, 7, 5120, 4},  // BroadVoice32 at 16 kHz
};

INSTANTIATE_TEST_SUITE_P(Settings, SettingFallback, ::testing::ValuesIn(kFallbacks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChunkDecoder, LongSpeechConnectsAtTheFirstAudioAndSendsTheParametersFirst) {
    ParamMapPtr params = start_params("long", url());
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_ENABLE_LONG_SPEECH] = paramBase::box<bool>(true);
    server().queue_download(
        chunked_reply({{0ms, json_record(0xF1, 0, "long")}, {kUntilReleased, end_record()}}));
    start(params);
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_BEGIN, 1, kWait));
    EXPECT_FALSE(server().wait_for_downloads(1, kQuiet)) << "connected before any audio";

    dut().send_audio(kPackage, false);
    ASSERT_TRUE(server().wait_for_downloads(1, kWait));
    dut().send_audio(0, true);
    EXPECT_EQ(chunktest::packet_types(upload_packets("long")), "013");
    EXPECT_TRUE(dut().finishes().empty());
}

struct CancelCase {
    const char* name;
    bool has_user_cancel;
    bool user_cancel;
};
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class CancelKind : public ChunkDecoder, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelKind, TellsTheServiceOnlyForAUserCancelAndPostsNothing) {
    const CancelCase& kind = GetParam();
    const std::string sn = std::string("cancel-") + kind.name;
    server().queue_download(
        chunked_reply({{0ms, json_record(0xF0, 0, "a")}, {kUntilReleased, end_record()}}));
    start(sn);
    ASSERT_TRUE(server().wait_for_downloads(1, kWait));
    dut().send_audio(kPackage, false);
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 1, kWait));

    ParamMapPtr cancel = vxs::newParamMap();
    (*cancel)[vxs::ASR_ONLINE_PARAM_KEY_REALTIME_DATA] =
        paramBase::box<std::string>("rt-at-cancel");
    if (kind.has_user_cancel)
        (*cancel)["user_cancel_bool"] = paramBase::box<bool>(kind.user_cancel);
    const size_t before = dut().names().size();
    dut().send(vxs::DEC_CMD_CANCEL, cancel);
    dut().send_audio(kPackage, true);  // too late: the utterance is over

    if (kind.user_cancel) {
        const auto packets = upload_packets(sn);
        EXPECT_EQ(chunktest::packet_types(packets), "0154");
        if (packets.size() == 4) {
            EXPECT_EQ(packets[2].payload, "rt-at-cancel");
        }
    }
    dut().recorder->wait_until_quiet(kQuiet);
    if (!kind.user_cancel) {
        // Broken off, with at most what was sent before the cancel.
        for (const chunktest::StreamedUpload& upload : server().uploads(sn)) {
            EXPECT_FALSE(upload.completed);
            EXPECT_EQ(upload.body.find("rt-at-cancel"), std::string::npos);
            EXPECT_EQ(upload.body.find(std::string("\x01\0\0\0\x04", 5)), std::string::npos);
        }
    }
    EXPECT_EQ(dut().names().size(), before);
}

const CancelCase kCancels[] = {
    {"user", true, true},
    {"user_false", true, false},
    {"plain", false, false},
};

INSTANTIATE_TEST_SUITE_P(Cancels, CancelKind, ::testing::ValuesIn(kCancels),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChunkDecoder, ReleasingTheDecoderEndsBothTransfers) {
    server().queue_download(
        chunked_reply({{0ms, json_record(0xF0, 0, "a")}, {kUntilReleased, end_record()}}));
    start("released");
    ASSERT_TRUE(server().wait_for_downloads(1, kWait));
    dut().send_audio(kPackage, false);
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 1, kWait));

    // Neither connection is ended by the service: only the decoder's teardown can.
    m_dut.reset();
    EXPECT_TRUE(vxs::Networking::vxs_HttpTask_impl::wait_for_transfers_to_end(15000));
    for (const chunktest::StreamedUpload& upload : server().uploads("released"))
        EXPECT_FALSE(upload.completed);
}

// ---- Address resolution ----

// A resolver whose lookups block until cancelled or fail at once, as set.
class StubResolver : public vxs::Networking::vxs_address_resolver {
  public:
    static std::atomic<bool> fail;
    static std::mutex mutex;
    static std::condition_variable changed;
    static int entered;
    static int returned;

    static vxs_shared_ptr<vxs_address_resolver> make() {
        vxs_shared_ptr<vxs_address_resolver> resolver(new StubResolver());
        resolver->selfPtr = resolver;
        return resolver;
    }

    vxs::Networking::vxs_addr_resolve_error resolveAddressFromHost(const char*,
                                                                   vxs_shared_ptr<char>*, int,
                                                                   vxs_shared_ptr<char>*) override {
        if (fail) return vxs::Networking::VXS_ADDR_RESOLVE_ADDR_NOT_FOUND;
        std::unique_lock<std::mutex> lock(mutex);
        ++entered;
        changed.notify_all();
        // Far longer than the decoder's own limit: only a cancel ends it early.
        changed.wait_for(lock, 60s, [this] { return m_cancelled; });
        ++returned;
        changed.notify_all();
        return vxs::Networking::VXS_ADDR_RESOLVE_CANCELLED;
    }
    void cancelResolution() override {
        std::lock_guard<std::mutex> lock(mutex);
        m_cancelled = true;
        changed.notify_all();
    }
    vxs_shared_ptr<char> fallbackAddressURL() override { return vxs_shared_ptr<char>(); }

  private:
    bool m_cancelled = false;
};

std::atomic<bool> StubResolver::fail{false};
std::mutex StubResolver::mutex;
std::condition_variable StubResolver::changed;
int StubResolver::entered = 0;
int StubResolver::returned = 0;

TEST_F(ChunkDecoder, CancelEndsARunningResolutionAtOnceAndTheNextStartProceeds) {
    StubResolver::fail = false;
    EventManagerDecChunk::set_resolver_factory_for_tests(&StubResolver::make);
    int entered = 0;
    int returned = 0;
    {
        std::lock_guard<std::mutex> lock(StubResolver::mutex);
        entered = StubResolver::entered;
        returned = StubResolver::returned;
    }
    start("resolving");
    {
        std::unique_lock<std::mutex> lock(StubResolver::mutex);
        ASSERT_TRUE(StubResolver::changed.wait_for(
            lock, kWait, [&] { return StubResolver::entered > entered; }));
    }
    dut().send(vxs::DEC_CMD_CANCEL);
    {
        std::unique_lock<std::mutex> lock(StubResolver::mutex);
        EXPECT_TRUE(StubResolver::changed.wait_for(lock, kWait, [&] {
            return StubResolver::returned > returned;
        })) << "the cancel waited behind the resolution";
    }
    EventManagerDecChunk::set_resolver_factory_for_tests(nullptr);
    server().queue_download(chunked_reply({{0ms, json_record(0xF1, 0, "next") + end_record()}}));
    run_utterance(start_params("after-resolving", url()), 1);
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 2, kWait));
    dut().recorder->wait_until_quiet(kQuiet);
    EXPECT_TRUE(dut().finishes().empty());
}

TEST_F(ChunkDecoder, ACancelRightAfterTheStartNeverLeavesAResolutionRunning) {
    StubResolver::fail = false;
    EventManagerDecChunk::set_resolver_factory_for_tests(&StubResolver::make);
    int entered = 0;
    int returned = 0;
    {
        std::lock_guard<std::mutex> lock(StubResolver::mutex);
        entered = StubResolver::entered;
        returned = StubResolver::returned;
    }
    // The set-up either sees the cancel before it resolves, or is cut short.
    start("cancelled-early");
    dut().send(vxs::DEC_CMD_CANCEL);
    dut().recorder->wait_until_quiet(kQuiet);
    std::lock_guard<std::mutex> lock(StubResolver::mutex);
    EXPECT_EQ(StubResolver::entered - entered, StubResolver::returned - returned);
    EXPECT_TRUE(dut().finishes().empty());
}

TEST_F(ChunkDecoder, AFailedResolutionLogsTheLookUpBeforeTheFinish) {
    StubResolver::fail = true;
    EventManagerDecChunk::set_resolver_factory_for_tests(&StubResolver::make);
    ParamMapPtr params = start_params("unresolved", url());
    (*params)[vxs::ASR_ONLINE_PARAM_KEY_ENABLE_FEEDBACK] = paramBase::box<bool>(true);
    start(params);
    expect_single_finish_last(30, 4, "Address resolution failed for " + url());
    EXPECT_EQ(dut().names(),
              (std::vector<std::string>{vxs::DEC_CALLBACK_BEGIN, vxs::DEC_CALLBACK_LOG,
                                        vxs::DEC_CALLBACK_FINISH}));
    const vxs::MessagePtr log = dut().recorder->messages_named(vxs::DEC_CALLBACK_LOG)[0];
    const std::string text = (*log->params)["log.string"].valueString();
    EXPECT_EQ(text.rfind("type=dns&domain=" + url() + "&error=4&time=", 0), 0u) << text;
    EXPECT_NE(text.find("&sn=unresolved"), std::string::npos) << text;
}

// ---- Retry and the address cache ----

struct RetryCase {
    const char* name;
    bool cache_dead_address;  // else the server URL itself is dead
    bool backup_is_server;    // else the backup is dead too
    bool recovers;
};
void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class Retry : public ChunkDecoder, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(Retry, ASecondAttemptDeliversEveryAudioPacketOnceInOrder) {
    const RetryCase& retry = GetParam();
    const std::string sn = std::string("retry-") + retry.name;
    const std::string serverUrl = retry.cache_dead_address ? url() : dead_url();
    ASRServerIP::getInstance()->reset_for_tests(retry.backup_is_server ? url() : dead_url());
    if (retry.cache_dead_address) {
        ASRServerIP::getInstance()->set_cache_server_ip(dead_url(), vxs::EVR_NETWORK_TYPE_WIFI,
                                                        serverUrl);
    }
    // Both connections of the successful attempt get this answer; the upload
    // ignores it.
    server().set_default_download(chunked_reply(
        {{0ms, json_record(0xF0, 0, "a") + json_record(0xF1, 0, "b") + end_record()}}));

    start(start_params(sn, serverUrl));
    std::vector<std::vector<int16_t>> packages;
    for (int i = 0; i < 3; ++i) {
        packages.emplace_back(kPackage / 2, static_cast<int16_t>(1000 * (i + 1)));
        dut().send_audio(packages.back(), i == 2);
    }

    if (!retry.recovers) {
        expect_single_finish_last(31, 5,
                                  "Local error while making HTTP request: "
                                  "5[vxs_Chunk_Connection]downStream encouter error.");
        return;
    }
    ASSERT_TRUE(dut().recorder->wait_for(vxs::DEC_CALLBACK_DATA, 3, kWait));
    const auto packets = upload_packets(sn);
    ASSERT_EQ(chunktest::packet_types(packets), "01113");
    for (int i = 0; i < 3; ++i) {
        std::string expected(reinterpret_cast<const char*>(packages[i].data()), kPackage);
        if (i == 0) expected = std::string("\x05\0\0\0", 4) + expected;
        EXPECT_EQ(packets[1 + i].payload, expected) << "audio packet " << i;
    }
    dut().recorder->wait_until_quiet(kQuiet);
    EXPECT_TRUE(dut().finishes().empty());
}

const RetryCase kRetries[] = {
    {"cached_address_dead", true, false, true},
    {"resolved_address_dead_backup_answers", false, true, true},
    {"backup_dead_too", false, false, false},
};

INSTANTIATE_TEST_SUITE_P(Attempts, Retry, ::testing::ValuesIn(kRetries),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChunkDecoder, ACompletedUploadCachesTheResolvedAddressForThatServerOnly) {
    server().queue_download(
        chunked_reply({{0ms, json_record(0xF0, 0, "a")}, {kUntilReleased, end_record()}}));
    run_utterance(start_params("caching", url()), 1);
    ASRServerIP* store = ASRServerIP::getInstance();
    std::string cached;
    for (int i = 0; i < 500 && cached.empty(); ++i) {
        std::this_thread::sleep_for(20ms);
        cached = store->get_cache_server_ip(vxs::EVR_NETWORK_TYPE_WIFI, url());
    }
    EXPECT_EQ(cached, url());  // the numeric host resolves to itself
    EXPECT_EQ(store->get_cache_server_ip(vxs::EVR_NETWORK_TYPE_4G, url()), "");
    EXPECT_EQ(store->get_cache_server_ip(vxs::EVR_NETWORK_TYPE_WIFI, server().url("/other")), "");
}

}  // namespace
