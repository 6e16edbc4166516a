#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "answer_fixtures.h"
#include "decoder/asr_response.h"
#include "decoder/asr_result.h"

namespace {

using answers_test::result_text;

const char kOk[] = "Server response ok.";
const char kErrNoMissing[] =
    "[ASRResponse::get_err_no_in_input_mode]err_no item not found, response: ";
const char kResult[] = R"({"err_no":0,"idx":3,"res_type":3})";

vxs::ASRResult parse_input(const std::string& answer) {
    vxs::ASRResult result;
    vxs::ASRResponse(3, answer.data(), static_cast<uint32_t>(answer.size()))
        .create_cn_result(&result);
    return result;
}

std::string input_answer(const std::string& result, const std::string& content) {
    return "{\"idxs\":[{\"result\":" + result + ",\"content\":" + content + "}]}";
}

struct InputCase {
    const char* name;
    std::string answer;
    vxs::TVXVoiceRecognitionResultType type;
    int16_t errNo;
    std::string errDesc;
    std::string recognition;  // "results_recognition"; empty when no text is expected
};

TEST(InputAnswer, ConfusionNetworksAndTheirFaults) {
    const auto cn = vxs::EVR_RESULT_TYPE_CN;
    const auto error = vxs::EVR_RESULT_TYPE_ERROR;
    const std::string today = R"([[{"to":0.9},{"two":0.1}],[],[{"day":1}]])";
    const std::string noIdx = R"({"err_no":0,"res_type":3})";
    const std::string noResType = R"({"err_no":0,"idx":3})";
    const std::string noErrNo = input_answer(R"({"idx":3,"res_type":3})", "[]");
    const std::string emptyIdxs = R"({"idxs":[]})";
    const std::string idxsString = R"({"idxs":"x"})";
    const std::vector<InputCase> cases = {
        {"three slots", input_answer(kResult, today), cn, 0, kOk, R"(["today"])"},
        {"odd slots are skipped",
         input_answer(kResult, R"([[{"a":1}],"x",[5],[{}],{"b":[{"c":1}]},[{"d":1}]])"), cn, 0, kOk,
         R"(["ad"])"},
        {"no slots", input_answer(kResult, "[]"), cn, 0, kOk, R"([""])"},
        {"content is an object", input_answer(kResult, R"({"to":1})"), cn, 0, kOk, "[]"},
        {"server error", input_answer(R"({"err_no":-3002,"idx":3,"res_type":3})", today), error,
         -3002, "Server recognition failed.", ""},
        {"err_no outside 16 bits", input_answer(R"({"err_no":-65536,"idx":3,"res_type":3})", today),
         error, vxs::ASR_SERVER_ERR_NO_UNKNOWN, "Server unkown error.", ""},
        {"no err_no", noErrNo, error, -1000, kErrNoMissing + noErrNo, ""},
        {"empty idxs", emptyIdxs, error, -1000, kErrNoMissing + emptyIdxs, ""},
        {"idxs is a string", idxsString, error, -1000, kErrNoMissing + idxsString, ""},
        {"no idx", input_answer(noIdx, today), error, -1000,
         "[ASRResponse::create_cn_result] idx item not found: " + std::string(noIdx), ""},
        {"no res_type", input_answer(noResType, today), error, -1000,
         "[ASRResponse::create_cn_result] res_type item not found: " + std::string(noResType), ""},
        {"not JSON", R"({"idxs":[{)", error, -1000,
         "[ASRResponse::create_cn_result] parse json failed", ""},
        {"empty body", "", error, -1000, "[ASRResponse::create_cn_result] parse json failed", ""},
    };
    for (const InputCase& c : cases) {
        const vxs::ASRResult r = parse_input(c.answer);
        EXPECT_EQ(r.get_type(), c.type) << c.name;
        EXPECT_EQ(r.get_err_no(), c.errNo) << c.name;
        EXPECT_EQ(r.get_err_desc(), c.errDesc) << c.name;
        const std::string expected =
            c.recognition.empty() ? "" : result_text(c.recognition, c.answer);
        EXPECT_EQ(r.get_response(), expected) << c.name;
    }
}

TEST(InputAnswer, IndexAndKindComeFromTheFirstEntry) {
    const vxs::ASRResult r = parse_input(
        R"({"idxs":[{"result":{"err_no":0,"idx":-2,"res_type":5},"content":[]},{"result":{}}]})");
    EXPECT_EQ(r.get_index(), -2);
    EXPECT_EQ(r.get_res_type(), vxs::ASR_RES_TYPE_MULTI_FINISH);
    EXPECT_EQ(r.get_type(), vxs::EVR_RESULT_TYPE_CN);
}

// Without "idxs" the answer is read as a search-mode answer.
TEST(InputAnswer, AnswerWithoutIdxsIsReadInSearchMode) {
    const std::string answer =
        R"({"result":{"err_no":0,"idx":1,"res_type":1},"content":{"item":["hi"]}})";
    const vxs::ASRResult r = parse_input(answer);
    EXPECT_EQ(r.get_type(), vxs::EVR_RESULT_TYPE_PARTIAL);
    EXPECT_EQ(r.get_index(), 1);
    EXPECT_EQ(r.get_response(), result_text(R"(["hi"])", answer));

    const std::string noErrNo = R"({"result":{"idx":1}})";
    const vxs::ASRResult bad = parse_input(noErrNo);
    EXPECT_EQ(bad.get_type(), vxs::EVR_RESULT_TYPE_ERROR);
    EXPECT_EQ(
        bad.get_err_desc(),
        "[ASRResponse::get_err_no_in_search_mode]err_no item not found, response: " + noErrNo);
}

}  // namespace
