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
    "[ASRResponse::get_err_no_in_search_mode]err_no item not found, response: ";
const char kIdxMissing[] = "[ASRResponse::parse_partial_result] idx item not found:";
const char kParseFailed[] = "[ASRResponse::create_result] parse json failed";

vxs::ASRResult parse_search(
    const std::string& answer,
    vxs::TVXVoiceRecognitionResultType finalType = vxs::EVR_RESULT_TYPE_NBEST) {
    vxs::ASRResult result;
    vxs::ASRResponse(7, answer.data(), static_cast<uint32_t>(answer.size()))
        .create_result(&result, finalType);
    return result;
}

std::string answer_with(const std::string& result,
                        const std::string& content = R"({"item":["x","y"]})") {
    return "{\"result\":" + result + ",\"content\":" + content + "}";
}

struct SearchCase {
    const char* name;
    std::string answer;
    vxs::ASR_RES_TYPE resType;
    vxs::TVXVoiceRecognitionResultType type;
    int16_t errNo;
    std::string errDesc;
    int32_t index;
    std::string response;  // "=" + items: the result text over the answer itself
};

std::string expected_response(const SearchCase& c) {
    if (c.response.empty() || c.response[0] != '=') return c.response;
    return result_text(c.response.substr(1), c.answer);
}

TEST(SearchAnswer, KindsErrorsAndText) {
    const auto finish = vxs::ASR_RES_TYPE_SINGLE_FINISH;
    const auto error = vxs::EVR_RESULT_TYPE_ERROR;
    const std::string noIdx = answer_with(R"({"err_no":0,"res_type":3})");
    const std::string noErrNo = answer_with(R"({"idx":1,"res_type":3})");
    const std::string errNoString = answer_with(R"({"err_no":"0","idx":1,"res_type":3})");
    const std::string resultString = R"({"result":"x","content":{}})";
    const std::vector<SearchCase> cases = {
        {"final", answer_with(R"({"err_no":0,"idx":2,"res_type":3})"), finish,
         vxs::EVR_RESULT_TYPE_NBEST, 0, kOk, 2, R"(=["x","y"])"},
        {"multi final", answer_with(R"({"err_no":0,"idx":-1,"res_type":5})"),
         vxs::ASR_RES_TYPE_MULTI_FINISH, vxs::EVR_RESULT_TYPE_NBEST, 0, kOk, -1, R"(=["x","y"])"},
        {"partial keeps its kind", answer_with(R"({"err_no":0,"idx":1,"res_type":1})"),
         vxs::ASR_RES_TYPE_PARTIAL, vxs::EVR_RESULT_TYPE_PARTIAL, 0, kOk, 1, R"(=["x","y"])"},
        {"content without item",
         answer_with(R"({"err_no":0,"idx":2,"res_type":3})", R"({"other":1})"), finish,
         vxs::EVR_RESULT_TYPE_NBEST, 0, kOk, 2, "=[]"},
        {"item is an object",
         answer_with(R"({"err_no":0,"idx":2,"res_type":3})", R"({"item":{"a":1}})"), finish,
         vxs::EVR_RESULT_TYPE_NBEST, 0, kOk, 2, "=[]"},
        {"no content", R"({"result":{"err_no":0,"idx":2,"res_type":3}})", finish,
         vxs::EVR_RESULT_TYPE_NBEST, 0, kOk, 2, "=[]"},
        // A server error keeps the text; the kind becomes the error.
        {"server error", answer_with(R"({"err_no":-3003,"idx":2,"res_type":3})"), finish, error,
         -3003, "Server find no recognition result.", 2, R"(=["x","y"])"},
        {"err_no outside 16 bits", answer_with(R"({"err_no":65536,"idx":2,"res_type":3})"), finish,
         error, vxs::ASR_SERVER_ERR_NO_UNKNOWN, "Server unkown error.", 2, R"(=["x","y"])"},
        {"no res_type: empty, not an error", answer_with(R"({"err_no":0,"idx":4})"),
         vxs::ASR_RES_TYPE_NONE, vxs::EVR_RESULT_TYPE_EMPTY, 0, kOk, 4, ""},
        {"res_type is a string", answer_with(R"({"err_no":0,"idx":4,"res_type":"3"})"),
         vxs::ASR_RES_TYPE_NONE, vxs::EVR_RESULT_TYPE_EMPTY, 0, kOk, 4, ""},
        {"no idx", noIdx, vxs::ASR_RES_TYPE_NONE, error, -1000, kIdxMissing + noIdx, 0, ""},
        {"no err_no", noErrNo, vxs::ASR_RES_TYPE_NONE, error, -1000, kErrNoMissing + noErrNo, 0,
         ""},
        {"err_no is a string", errNoString, vxs::ASR_RES_TYPE_NONE, error, -1000,
         kErrNoMissing + errNoString, 0, ""},
        {"result is a string", resultString, vxs::ASR_RES_TYPE_NONE, error, -1000,
         kErrNoMissing + resultString, 0, ""},
        {"not JSON", "{\"result\":", vxs::ASR_RES_TYPE_NONE, error, -1000, kParseFailed, 0, ""},
        {"empty body", "", vxs::ASR_RES_TYPE_NONE, error, -1000, kParseFailed, 0, ""},
        {"answer is a number", "42", vxs::ASR_RES_TYPE_NONE, error, -1000,
         kErrNoMissing + std::string("42"), 0, ""},
    };
    for (const SearchCase& c : cases) {
        const vxs::ASRResult r = parse_search(c.answer);
        EXPECT_EQ(r.get_res_type(), c.resType) << c.name;
        EXPECT_EQ(r.get_type(), c.type) << c.name;
        EXPECT_EQ(r.get_err_no(), c.errNo) << c.name;
        EXPECT_EQ(r.get_err_desc(), c.errDesc) << c.name;
        EXPECT_EQ(r.get_index(), c.index) << c.name;
        EXPECT_EQ(r.get_response(), expected_response(c)) << c.name;
    }
}

TEST(SearchAnswer, FinalKindFollowsTheEntryPoint) {
    const std::string answer = answer_with(R"({"err_no":0,"idx":2,"res_type":3})");
    const auto run = [&answer](void (vxs::ASRResponse::*create)(vxs::ASRResult*)) {
        vxs::ASRResult result;
        vxs::ASRResponse response(2, answer.data(), static_cast<uint32_t>(answer.size()));
        (response.*create)(&result);
        return result.get_type();
    };
    EXPECT_EQ(run(&vxs::ASRResponse::create_nbest_result), vxs::EVR_RESULT_TYPE_NBEST);
    EXPECT_EQ(run(&vxs::ASRResponse::create_json_res_result), vxs::EVR_RESULT_TYPE_RESOURCE);
    EXPECT_EQ(run(&vxs::ASRResponse::create_talk_result), vxs::EVR_RESULT_TYPE_RESOURCE);
}

TEST(SearchAnswer, BodyIsReadOnlyUpToItsLength) {
    const std::string answer = answer_with(R"({"err_no":0,"idx":2,"res_type":3})");
    vxs::ASRResult result;
    vxs::ASRResponse(2, answer.data(), static_cast<uint32_t>(answer.size() - 1))
        .create_nbest_result(&result);
    EXPECT_EQ(result.get_type(), vxs::EVR_RESULT_TYPE_ERROR);
    EXPECT_EQ(result.get_err_desc(), kParseFailed);
}

TEST(SearchAnswer, ParsePartialResultRefusesNullInput) {
    vxs::ASRResult result;
    vxs::ASRResponse::parse_partial_result(nullptr, &result);
    EXPECT_EQ(result.get_type(), vxs::EVR_RESULT_TYPE_EMPTY);
    EXPECT_EQ(result.get_err_no(), 0);
    cJSON* answer = cJSON_Parse(R"({"result":{"err_no":0}})");
    vxs::ASRResponse::parse_partial_result(answer, nullptr);
    cJSON_Delete(answer);
}

}  // namespace
