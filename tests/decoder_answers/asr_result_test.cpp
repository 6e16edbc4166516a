#include "decoder/asr_result.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/asr_response.h"

namespace {

TEST(ServerErrorText, EveryNumberHasItsFixedText) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "Server response ok."},
        {-3001, "Server parameters invalid."},
        {-3002, "Server recognition failed."},
        {-3003, "Server find no recognition result."},
        {-3004, "Server app name unknown."},
        {-3005, "Server speech quality problem."},
        {-3006, "Server speech too long."},
        {-3007, "Server unkown error."},
        {-3000, "Server unkown error."},
        {-1000, "Server unkown error."},
        {1, "Server unkown error."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vxs::ASRResponse::get_server_err_desc(c.first), c.second) << c.first;
}

TEST(AsrResult, CreatedEmptyAndClearedBackToEmpty) {
    vxs::Memory::vxs_shared_ptr<vxs::ASRResult> result = vxs::ASRResult::alloc();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get_type(), vxs::EVR_RESULT_TYPE_EMPTY);
    EXPECT_EQ(result->get_res_type(), vxs::ASR_RES_TYPE_NONE);
    EXPECT_EQ(vxs::ASRResult::alloc(-1000)->get_err_no(), -1000);

    const char answer[] = R"({"err_no":-3006,"result":{"word":["a"]}})";
    std::string record("\x00\x00\x00\x00\xF1", 5);
    record[0] = static_cast<char>(sizeof(answer));  // 1 + payload length (payload without NUL)
    record += std::string(answer, sizeof(answer) - 1);
    vxs::ASRResponse(0, record.data(), static_cast<uint32_t>(record.size()))
        .create_chunk_result(result.getPTR());
    result->set_index(9);
    result->m_httpError = 500;
    result->m_localError = 4;
    const uint8_t bytes[] = {1, 2, 3};
    result->set_binary_data(bytes, sizeof(bytes));
    ASSERT_EQ(result->get_type(), vxs::EVR_RESULT_TYPE_ERROR);

    result->clear();
    EXPECT_EQ(result->get_type(), vxs::EVR_RESULT_TYPE_EMPTY);
    EXPECT_EQ(result->get_res_type(), vxs::ASR_RES_TYPE_NONE);
    EXPECT_EQ(result->get_err_no(), 0);
    EXPECT_EQ(result->get_index(), 0);
    EXPECT_TRUE(result->get_err_desc().empty());
    EXPECT_TRUE(result->get_response().empty());
    EXPECT_EQ(result->get_raw_data_len(), 0u);
    EXPECT_FALSE(result->get_raw_data());
    EXPECT_EQ(result->m_httpError, 0);
    EXPECT_EQ(result->m_localError, 0);
}

TEST(AsrResult, BinaryDataIsCopiedAndEmptyInputKeepsTheOld) {
    vxs::ASRResult result;
    uint8_t bytes[] = {9, 8, 7, 6};
    result.set_binary_data(bytes, sizeof(bytes));
    bytes[0] = 0;  // the result holds its own copy
    ASSERT_EQ(result.get_raw_data_len(), 4u);
    EXPECT_EQ(result.get_raw_data().getPTR()[0], 9);

    result.set_binary_data(nullptr, 4);
    result.set_binary_data(bytes, 0);
    EXPECT_EQ(result.get_raw_data_len(), 4u);
    EXPECT_EQ(result.get_raw_data().getPTR()[3], 6);
}

TEST(AsrResponse, WithoutDataHoldsOneZeroByte) {
    // Both forms of "no data" parse as an empty record and a failed JSON parse.
    const char* nothing[] = {nullptr, "ignored"};
    for (const char* data : nothing) {
        vxs::ASRResponse response(5, data, 0);
        EXPECT_EQ(response.get_index(), 5);
        vxs::ASRResult chunk;
        response.create_chunk_result(&chunk);
        EXPECT_EQ(chunk.get_type(), vxs::EVR_RESULT_TYPE_EMPTY);
        vxs::ASRResult single;
        response.create_nbest_result(&single);
        EXPECT_EQ(single.get_type(), vxs::EVR_RESULT_TYPE_ERROR);
        EXPECT_EQ(single.get_err_desc(), "[ASRResponse::create_result] parse json failed");
    }
}

}  // namespace
