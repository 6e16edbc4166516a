// The chunked protocol end to end over HTTPS with plain libcurl: recognition
// of the test recordings in each codec, paced and unpaced, compared with
// pocketsphinx run directly on the same decoded audio; and malformed uploads.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "refservice_client.h"
#include "service_fixture.h"
#include "stream_decoder.h"

namespace {

using refclient::ChunkedOutcome;
using refclient::ChunkedRequest;

const std::string kGoForward = std::string(refclient::kTestData) + "/goforward.raw";

std::string final_text(const ChunkedOutcome& outcome) {
    for (const auto& record : outcome.records) {
        if (record.type == 0xF1) return refclient::first_word(record.payload, "result", "word");
    }
    return "<no final record>";
}

// What the service decoded, to run pocketsphinx on the very same samples.
std::vector<int16_t> decoded_pcm16k(const std::vector<std::string>& packages) {
    std::string stream;
    for (const auto& package : packages) stream += package;
    vxs::codec_io::StreamFormat format;
    std::vector<int16_t> pcm;
    long frames = 0;
    std::string error;
    EXPECT_TRUE(vxs::codec_io::decodeStream(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), &format,
                                            &pcm, &frames, &error))
        << error;
    return format.sampleRate == 16000 ? pcm : refclient::resample(pcm, format.sampleRate, 16000);
}

ChunkedRequest request_for(const std::string& sn, int rate, const std::vector<std::string>& packages) {
    auto& shared = refclient::shared_service();
    ChunkedRequest request;
    request.base_url = shared.service->base_url() + "/v2";
    request.ca_pem = shared.ca_pem;
    request.sn = sn;
    request.packets = refclient::utterance_packets(sn, rate, packages);
    return request;
}

void expect_well_formed_answer(const ChunkedOutcome& outcome) {
    EXPECT_EQ(outcome.download_status, 200);
    EXPECT_EQ(outcome.download_curl_code, 0);
    EXPECT_EQ(outcome.upload_status, 200) << outcome.upload_body;
    EXPECT_TRUE(outcome.trailing.empty());
    ASSERT_GE(outcome.records.size(), 3u);
    // Partial results first, then one final result, then the end record.
    for (size_t i = 0; i + 2 < outcome.records.size(); ++i) EXPECT_EQ(outcome.records[i].type, 0xF0);
    EXPECT_EQ(outcome.records[outcome.records.size() - 2].type, 0xF1);
    EXPECT_EQ(outcome.records.back().type, 0xF3);
    EXPECT_TRUE(outcome.records.back().payload.empty());
    for (size_t i = 0; i + 1 < outcome.records.size(); ++i) {
        EXPECT_EQ(refclient::number_at(outcome.records[i].payload, "err_no"), 0) << outcome.records[i].payload;
    }
}

struct CodecCase {
    const char* name;
    int compression;
    int rate;
    bool paced;
};

class ChunkedRecognition : public ::testing::TestWithParam<CodecCase> {};

TEST_P(ChunkedRecognition, GoForwardGivesPartialsThenTheFinalTextThenTheEnd) {
    const CodecCase& codec = GetParam();
    std::vector<int16_t> pcm = refclient::load_audio(kGoForward);
    if (codec.rate != 16000) pcm = refclient::resample(pcm, 16000, codec.rate);
    long fed = 0;
    const auto packages = refclient::encode_packages(codec.compression, codec.rate, pcm, &fed);
    ASSERT_FALSE(packages.empty());
    const std::string sn = std::string("chunked-") + codec.name;
    ChunkedRequest request = request_for(sn, codec.rate, packages);
    if (codec.paced) request.pace = std::chrono::milliseconds(160);

    const ChunkedOutcome outcome = refclient::run_chunked(request);
    expect_well_formed_answer(outcome);
    if (codec.rate == 16000) {
        EXPECT_EQ(final_text(outcome), refclient::recognize_directly(decoded_pcm16k(packages)));
        EXPECT_EQ(final_text(outcome), "go forward ten meters");
    } else {
        // Narrowband audio, resampled in the service: the 16 kHz model hears
        // words, but which ones depends on the resampler's details.
        EXPECT_FALSE(final_text(outcome).empty());
    }
    if (codec.paced) {
        // The audio really went out at its own pace (a lower bound only:
        // how soon partial results follow depends on the machine's load).
        EXPECT_GE(outcome.finish_sent_ms, 160.0 * (packages.size() - 1));
    }

    // The utterance log tells what arrived and what went back.
    const auto events = refclient::shared_service().service->utterance_events(sn);
    std::map<std::string, int> counts;
    double samples = -1;
    for (const auto& line : events) {
        cJSON* event = cJSON_Parse(line.c_str());
        ASSERT_NE(event, nullptr) << line;
        const std::string name = cJSON_GetObjectItem(event, "event")->valuestring;
        ++counts[name];
        if (name == "samples") samples = cJSON_GetObjectItem(event, "count")->valuedouble;
        if (name == "params") {
            EXPECT_EQ(refclient::number_at(refclient::chunk_params_json(sn, codec.rate), "smr"),
                      cJSON_GetObjectItem(cJSON_GetObjectItem(event, "document"), "smr")->valuedouble);
        }
        cJSON_Delete(event);
    }
    EXPECT_EQ(counts["params"], 1);
    EXPECT_EQ(counts["audio_format"], 1);
    EXPECT_EQ(counts["packet"], static_cast<int>(packages.size()) + 2);
    EXPECT_EQ(counts["record_sent"], static_cast<int>(outcome.records.size()));
    EXPECT_EQ(samples, static_cast<double>(fed));
}

INSTANTIATE_TEST_SUITE_P(Codecs, ChunkedRecognition,
                         ::testing::Values(CodecCase{"pcm", 1, 16000, false}, CodecCase{"bv32", 2, 16000, false},
                                           CodecCase{"amrwb", 3, 16000, false},
                                           CodecCase{"pcm_realtime", 1, 16000, true},
                                           CodecCase{"amrnb_8k", 3, 8000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkedRecognitionCards, Bv32AndAmrWbMatchPocketsphinxOnTheSameAudio) {
    // Each recording once, the codecs taking turns, to keep the run short.
    for (int card = 1; card <= 5; ++card) {
        const int compression = card % 2 == 1 ? 2 : 3;
        {
            const std::string path = std::string(refclient::kTestData) + "/cards/00" + std::to_string(card) + ".wav";
            const auto packages = refclient::encode_packages(compression, 16000, refclient::load_audio(path));
            ASSERT_FALSE(packages.empty());
            const std::string sn = "cards-" + std::to_string(compression) + "-" + std::to_string(card);
            const ChunkedOutcome outcome = refclient::run_chunked(request_for(sn, 16000, packages));
            EXPECT_EQ(outcome.download_status, 200);
            ASSERT_FALSE(outcome.records.empty());
            EXPECT_EQ(outcome.records.back().type, 0xF3);
            EXPECT_EQ(final_text(outcome), refclient::recognize_directly(decoded_pcm16k(packages))) << path;
        }
    }
}

struct MalformedCase {
    const char* name;
    // Builds the upload body from a valid parameter packet and audio packet.
    std::vector<std::string> (*packets)(const std::string& params, const std::string& audio);
};

std::string params_with(const std::string& sn, const char* drop_member) {
    cJSON* document = cJSON_Parse(refclient::chunk_params_json(sn, 16000).c_str());
    cJSON_DeleteItemFromObject(document, drop_member);
    char* text = cJSON_PrintUnformatted(document);
    std::string out = text;
    cJSON_free(text);
    cJSON_Delete(document);
    return refclient::packet(0, refclient::marked_gzip(out));
}

const MalformedCase kMalformed[] = {
    {"zero_length", [](const std::string& p, const std::string&) {
         return std::vector<std::string>{p, std::string("\0\0\0\0\1", 5)};
     }},
    {"huge_length", [](const std::string& p, const std::string&) {
         return std::vector<std::string>{p, std::string("\xff\xff\xff\x7f\1", 5)};
     }},
    {"params_not_gzip", [](const std::string&, const std::string&) {
         return std::vector<std::string>{refclient::packet(0, "{\"key\":\"plain json\"}")};
     }},
    {"params_gzip_unmarked", [](const std::string&, const std::string&) {
         std::string member = refclient::marked_gzip("{}");
         member[0] = '\x1f';
         member[1] = '\x8b';
         return std::vector<std::string>{refclient::packet(0, member)};
     }},
    {"unknown_packet_type", [](const std::string& p, const std::string& a) {
         return std::vector<std::string>{p, refclient::packet(9, a)};
     }},
    {"audio_before_params", [](const std::string& p, const std::string& a) {
         return std::vector<std::string>{refclient::packet(1, a), p};
     }},
    {"bad_audio_header", [](const std::string& p, const std::string&) {
         return std::vector<std::string>{p, refclient::packet(1, std::string("\x77\0\0\0abcd", 8))};
     }},
    {"truncated_packet", [](const std::string& p, const std::string& a) {
         return std::vector<std::string>{p, refclient::packet(1, a).substr(0, 40)};
     }},
    {"no_finish", [](const std::string& p, const std::string& a) {
         return std::vector<std::string>{p, refclient::packet(1, a)};
     }},
};

class MalformedUpload : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedUpload, IsAnsweredWithAnErrorRecordAndStatus) {
    const std::string sn = std::string("malformed-") + GetParam().name;
    const auto audio = refclient::encode_packages(1, 16000, std::vector<int16_t>(2560, 0));
    ChunkedRequest request = request_for(sn, 16000, {});
    request.packets = GetParam().packets(refclient::packet(0, refclient::marked_gzip(
                                                                  refclient::chunk_params_json(sn, 16000))),
                                         audio.at(0));
    const ChunkedOutcome outcome = refclient::run_chunked(request);
    EXPECT_EQ(outcome.upload_status, 400);
    EXPECT_FALSE(outcome.upload_body.empty());
    ASSERT_EQ(outcome.records.size(), 2u);
    EXPECT_EQ(outcome.records[0].type, 0xF1);
    EXPECT_EQ(refclient::number_at(outcome.records[0].payload, "err_no"), -3001) << outcome.records[0].payload;
    EXPECT_EQ(outcome.records[1].type, 0xF3);
}

INSTANTIATE_TEST_SUITE_P(Uploads, MalformedUpload, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MalformedParams, EachRequiredMemberIsChecked) {
    for (const char* member : {"cuid", "pfm", "ver", "pid", "smr", "sn", "fun"}) {
        const std::string sn = std::string("missing-") + member;
        ChunkedRequest request = request_for(sn, 16000, {});
        request.packets = {params_with(sn, member), refclient::packet(3, "")};
        const ChunkedOutcome outcome = refclient::run_chunked(request);
        ASSERT_FALSE(outcome.records.empty()) << member;
        EXPECT_EQ(refclient::number_at(outcome.records[0].payload, "err_no"), -3001) << member;
        EXPECT_NE(outcome.records[0].payload.find(member), std::string::npos) << outcome.records[0].payload;
    }
    // "key" may be replaced by "apikey", but one of them must be there.
    const std::string sn = "missing-key";
    ChunkedRequest request = request_for(sn, 16000, {});
    request.packets = {params_with(sn, "key"), refclient::packet(3, "")};
    const ChunkedOutcome outcome = refclient::run_chunked(request);
    ASSERT_FALSE(outcome.records.empty());
    EXPECT_EQ(refclient::number_at(outcome.records[0].payload, "err_no"), -3001);
}

TEST(ChunkedCancel, CancelPacketClosesTheDownloadWithoutResults) {
    const std::string sn = "cancelled";
    const auto audio = refclient::encode_packages(1, 16000, refclient::load_audio(kGoForward));
    ChunkedRequest request = request_for(sn, 16000, {audio.at(0), audio.at(1)});
    request.packets.back() = refclient::packet(4, "");
    const ChunkedOutcome outcome = refclient::run_chunked(request);
    EXPECT_EQ(outcome.download_status, 200);
    EXPECT_EQ(outcome.download_curl_code, 0);
    for (const auto& record : outcome.records) EXPECT_NE(record.type, 0xF1);
}

}  // namespace
