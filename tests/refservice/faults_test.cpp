// Every injectable fault, as a client sees it, asked for per utterance by
// header or path segment, or for the whole service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_plan.h"
#include "refservice_client.h"
#include "service_fixture.h"

namespace {

using refclient::ChunkedOutcome;
using refclient::ChunkedRequest;

// A second of speech: quick to recognise, long enough for a partial result.
std::vector<std::string> short_speech() {
    std::vector<int16_t> pcm = refclient::load_audio(std::string(refclient::kTestData) + "/goforward.raw");
    pcm.resize(16000 * 2);
    return refclient::encode_packages(1, 16000, pcm);
}

ChunkedRequest faulty_request(const std::string& sn, const std::string& plan) {
    auto& shared = refclient::shared_service();
    ChunkedRequest request;
    request.base_url = shared.service->base_url() + "/v2";
    request.ca_pem = shared.ca_pem;
    request.sn = sn;
    request.packets = refclient::utterance_packets(sn, 16000, short_speech());
    if (!plan.empty()) request.headers.push_back(std::string("X-Vxs-Fault: ") + plan);
    return request;
}

const refclient::DownloadRecord* find_record(const ChunkedOutcome& outcome, uint8_t type) {
    for (const auto& record : outcome.records) {
        if (record.type == type) return &record;
    }
    return nullptr;
}

struct FaultCase {
    const char* name;
    const char* plan;
    void (*check)(const ChunkedOutcome& outcome);
};

const FaultCase kFaults[] = {
    {"no_fault", "", [](const ChunkedOutcome& o) {
         EXPECT_EQ(o.download_status, 200);
         EXPECT_EQ(o.records.back().type, 0xF3);
     }},
    {"down_status", "down_status=503", [](const ChunkedOutcome& o) {
         EXPECT_EQ(o.download_status, 503);
         EXPECT_TRUE(o.records.empty());
     }},
    {"up_status", "up_status=500", [](const ChunkedOutcome& o) {
         EXPECT_EQ(o.upload_status, 500);
         EXPECT_EQ(o.download_status, 200);
         EXPECT_EQ(find_record(o, 0xF3), nullptr);
     }},
    {"final_err_no", "final_err_no=-3002", [](const ChunkedOutcome& o) {
         const auto* final_record = find_record(o, 0xF1);
         ASSERT_NE(final_record, nullptr);
         EXPECT_EQ(refclient::number_at(final_record->payload, "err_no"), -3002);
         EXPECT_EQ(o.records.back().type, 0xF3);
     }},
    {"partial_err_no", "partial_err_no=-3005", [](const ChunkedOutcome& o) {
         ASSERT_EQ(o.records.front().type, 0xF0);
         EXPECT_EQ(refclient::number_at(o.records.front().payload, "err_no"), -3005);
     }},
    {"final_delay", "final_delay_ms=1500", [](const ChunkedOutcome& o) {
         const auto* final_record = find_record(o, 0xF1);
         ASSERT_NE(final_record, nullptr);
         EXPECT_GE(final_record->at_ms - o.finish_sent_ms, 1400);
     }},
    {"stall", "stall_ms=1500", [](const ChunkedOutcome& o) {
         ASSERT_GE(o.records.size(), 2u);
         EXPECT_GE(o.records[1].at_ms - o.records[0].at_ms, 1400);
         EXPECT_EQ(o.records.back().type, 0xF3);
     }},
    {"no_end", "no_end", [](const ChunkedOutcome& o) {
         EXPECT_EQ(o.download_curl_code, 0);
         ASSERT_FALSE(o.records.empty());
         EXPECT_EQ(o.records.back().type, 0xF1);
     }},
    {"drop", "drop", [](const ChunkedOutcome& o) {
         EXPECT_NE(o.download_curl_code, 0);
         EXPECT_EQ(o.records.size(), 1u);
     }},
    {"bad_json", "bad_json", [](const ChunkedOutcome& o) {
         const auto* final_record = find_record(o, 0xF1);
         ASSERT_NE(final_record, nullptr);
         EXPECT_EQ(refclient::number_at(final_record->payload, "err_no"), -99999) << final_record->payload;
     }},
    {"bad_length", "bad_length", [](const ChunkedOutcome& o) {
         EXPECT_EQ(o.download_curl_code, 0);
         EXPECT_EQ(find_record(o, 0xF1), nullptr);
         EXPECT_GE(o.trailing.size(), 5u);
         EXPECT_EQ(static_cast<uint8_t>(o.trailing[4]), 0xF1);
     }},
};

class DownloadFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DownloadFaults, AreSeenByTheClient) {
    const ChunkedOutcome outcome = refclient::run_chunked(faulty_request(std::string("fault-") + GetParam().name,
                                                                         GetParam().plan));
    GetParam().check(outcome);
}

INSTANTIATE_TEST_SUITE_P(Plans, DownloadFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaultSources, PathSegmentAndServiceWideFaultsApply) {
    auto& shared = refclient::shared_service();
    ChunkedRequest by_path = faulty_request("fault-by-path", "");
    by_path.base_url = shared.service->base_url() + "/fault:final_err_no=-3006/v2";
    const ChunkedOutcome path_outcome = refclient::run_chunked(by_path);
    const auto* final_record = find_record(path_outcome, 0xF1);
    ASSERT_NE(final_record, nullptr);
    EXPECT_EQ(refclient::number_at(final_record->payload, "err_no"), -3006);

    vxs::refservice::FaultPlan everywhere;
    everywhere.down_status = 502;
    shared.service->set_faults(everywhere);
    const ChunkedOutcome wide = refclient::run_chunked(faulty_request("fault-service-wide", ""));
    shared.service->set_faults(vxs::refservice::FaultPlan());
    EXPECT_EQ(wide.download_status, 502);
}

TEST(FaultSources, SingleRequestsTakeStatusAndFinalFaults) {
    auto& shared = refclient::shared_service();
    const std::string url = shared.service->base_url() + "/v2";
    const auto package = refclient::encode_packages(1, 16000, std::vector<int16_t>(2560, 0)).at(0);
    const auto status = refclient::post(
        url, shared.ca_pem, refclient::multipart_body(refclient::single_document_json(1, "fault-single-a", "1"), package),
        {"X-Vxs-Fault: status=500"});
    EXPECT_EQ(status.status, 500);
    const auto err = refclient::post(
        url, shared.ca_pem, refclient::multipart_body(refclient::single_document_json(-1, "fault-single-b", "1"), package),
        {"X-Vxs-Fault: final_err_no=-3004"});
    EXPECT_EQ(refclient::number_at(err.body, "result.err_no"), -3004) << err.body;
}

TEST(FaultSources, UnknownFaultItemsAreRefused) {
    vxs::refservice::FaultPlan plan;
    std::string error;
    for (const char* bad : {"stall_ms", "stall_ms=abc", "drop=1", "explode", "final_err_no=99999999999"}) {
        EXPECT_FALSE(vxs::refservice::parse_fault_plan(bad, &plan, &error)) << bad;
    }
    const ChunkedOutcome outcome = refclient::run_chunked(faulty_request("fault-unknown", "explode"));
    EXPECT_EQ(outcome.download_status, 400);
}

}  // namespace
