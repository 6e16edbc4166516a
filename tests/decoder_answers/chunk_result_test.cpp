#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "answer_fixtures.h"
#include "decoder/asr_response.h"
#include "decoder/asr_result.h"

namespace {

using answers_test::parse_chunk;
using answers_test::record;
using answers_test::record_with_length;
using answers_test::result_text;

const char kWordA[] = R"({"err_no":0,"result":{"word":["a"]}})";
const char kParseFailed[] = "[ASRResponse::create_result] parse json failed";
const char kErrNoMissing[] = "[ASRResponse::create_chunk_result]err_no item not found";
const char kLengthMismatch[] =
    "[ASRResponse::create_chunk_result]record length does not match the data";
const char kUnknown[] = "Server unkown error.";

struct ChunkCase {
    const char* name;
    std::string bytes;
    vxs::ASR_RES_TYPE resType;
    vxs::TVXVoiceRecognitionResultType type;
    int16_t errNo;
    std::string errDesc;
    std::string response;
};

void expect_case(const ChunkCase& c) {
    const vxs::ASRResult r = parse_chunk(c.bytes);
    EXPECT_EQ(r.get_res_type(), c.resType) << c.name;
    EXPECT_EQ(r.get_type(), c.type) << c.name;
    EXPECT_EQ(r.get_err_no(), c.errNo) << c.name;
    EXPECT_EQ(r.get_err_desc(), c.errDesc) << c.name;
    EXPECT_EQ(r.get_response(), c.response) << c.name;
    EXPECT_EQ(r.get_raw_data_len(), 0u) << c.name;
}

TEST(ChunkRecord, JsonRecordsCarryTheWordsAndTheWholeAnswer) {
    const std::string ok = "Server response ok.";
    const std::string quality = R"({"err_no":-3005,"result":{"word":["a"]}})";
    const std::string noWord = R"({"err_no":0,"result":{"uncertain":[]}})";
    const std::string wordNotArray = R"({"err_no":0,"result":{"word":"a"}})";
    const std::string resultNotObject = R"({"err_no":0,"result":"a"})";
    const std::string twoWords = R"({"err_no":0,"result":{"word":["a b","c"],"idx":3}})";
    const std::vector<ChunkCase> cases = {
        {"partial", record(0xF0, kWordA), vxs::ASR_RES_TYPE_PARTIAL, vxs::EVR_RESULT_TYPE_PARTIAL,
         0, ok, result_text(R"(["a"])", kWordA)},
        {"final", record(0xF1, kWordA), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_FINISH, 0, ok, result_text(R"(["a"])", kWordA)},
        {"final, several words", record(0xF1, twoWords), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_FINISH, 0, ok, result_text(R"(["a b","c"])", twoWords)},
        // A server error keeps the text but marks the result as an error.
        {"final with server error", record(0xF1, quality), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_ERROR, -3005, "Server speech quality problem.",
         result_text(R"(["a"])", quality)},
        {"partial with server error", record(0xF0, R"({"err_no":-3001})"),
         vxs::ASR_RES_TYPE_PARTIAL, vxs::EVR_RESULT_TYPE_ERROR, -3001, "Server parameters invalid.",
         result_text("[]", R"({"err_no":-3001})")},
        {"no word array", record(0xF1, noWord), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_FINISH, 0, ok, result_text("[]", noWord)},
        {"word is a string", record(0xF1, wordNotArray), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_FINISH, 0, ok, result_text("[]", wordNotArray)},
        {"result is a string", record(0xF1, resultNotObject), vxs::ASR_RES_TYPE_SINGLE_FINISH,
         vxs::EVR_RESULT_TYPE_FINISH, 0, ok, result_text("[]", resultNotObject)},
        {"spaced JSON is printed compactly",
         record(0xF0, "{ \"err_no\" : 0 ,\n \"result\":{\"word\":[ \"a\" ]} }"),
         vxs::ASR_RES_TYPE_PARTIAL, vxs::EVR_RESULT_TYPE_PARTIAL, 0, ok,
         result_text(R"(["a"])", kWordA)},
    };
    for (const ChunkCase& c : cases) expect_case(c);
}

TEST(ChunkRecord, MalformedJsonEndsAsLocalError) {
    const vxs::ASR_RES_TYPE partial = vxs::ASR_RES_TYPE_PARTIAL;
    const vxs::ASR_RES_TYPE final = vxs::ASR_RES_TYPE_SINGLE_FINISH;
    const vxs::TVXVoiceRecognitionResultType error = vxs::EVR_RESULT_TYPE_ERROR;
    const std::vector<ChunkCase> cases = {
        {"not JSON", record(0xF0, "{not json"), partial, error, -1000, kParseFailed, ""},
        {"truncated object", record(0xF1, R"({"err_no":0,"result":{"word":["a")"), final, error,
         -1000, kParseFailed, ""},
        {"only spaces", record(0xF1, "   "), final, error, -1000, kParseFailed, ""},
        {"no err_no", record(0xF1, R"({"result":{"word":["a"]}})"), final, error, -1000,
         kErrNoMissing, ""},
        {"err_no is a string", record(0xF1, R"({"err_no":"0","result":{"word":["a"]}})"), final,
         error, -1000, kErrNoMissing, ""},
        {"err_no is null", record(0xF0, R"({"err_no":null})"), partial, error, -1000, kErrNoMissing,
         ""},
        {"err_no only inside result", record(0xF1, R"({"result":{"err_no":0}})"), final, error,
         -1000, kErrNoMissing, ""},
        {"answer is an array", record(0xF1, R"([{"err_no":0}])"), final, error, -1000,
         kErrNoMissing, ""},
        {"answer is a number", record(0xF1, "0"), final, error, -1000, kErrNoMissing, ""},
    };
    for (const ChunkCase& c : cases) expect_case(c);
}

// Numbers that do not fit the 16-bit field must never read as success.
TEST(ChunkRecord, ErrNoOutside16BitsStaysAnError) {
    const std::vector<std::string> values = {"65536",      "-65536", "131072", "32768", "-32769",
                                             "4294967296", "1e300",  "-1e300", "0.5",   "-3001.5"};
    for (const std::string& value : values) {
        const std::string answer = "{\"err_no\":" + value + ",\"result\":{\"word\":[\"a\"]}}";
        const vxs::ASRResult r = parse_chunk(record(0xF1, answer));
        EXPECT_EQ(r.get_type(), vxs::EVR_RESULT_TYPE_ERROR) << value;
        EXPECT_EQ(r.get_err_no(), vxs::ASR_SERVER_ERR_NO_UNKNOWN) << value;
        EXPECT_EQ(r.get_err_desc(), kUnknown) << value;
    }
    // The edges of the field are kept as they are.
    EXPECT_EQ(parse_chunk(record(0xF1, R"({"err_no":32767})")).get_err_no(), 32767);
    EXPECT_EQ(parse_chunk(record(0xF1, R"({"err_no":-32768})")).get_err_no(), -32768);
    EXPECT_EQ(parse_chunk(record(0xF1, R"({"err_no":-3007})")).get_err_desc(), kUnknown);
    EXPECT_EQ(parse_chunk(record(0xF1, R"({"err_no":0.0,"result":{"word":[]}})")).get_type(),
              vxs::EVR_RESULT_TYPE_FINISH);
}

TEST(ChunkRecord, EmptyAndBrokenRecords) {
    const vxs::ASR_RES_TYPE none = vxs::ASR_RES_TYPE_NONE;
    const vxs::TVXVoiceRecognitionResultType empty = vxs::EVR_RESULT_TYPE_EMPTY;
    const vxs::TVXVoiceRecognitionResultType error = vxs::EVR_RESULT_TYPE_ERROR;
    const std::string full = record(0xF0, kWordA);
    const std::vector<ChunkCase> cases = {
        {"end record", std::string("\x01\x00\x00\x00\xF3", 5), vxs::ASR_RES_TYPE_END,
         vxs::EVR_RESULT_TYPE_END, 0, "", ""},
        {"no bytes", "", none, empty, 0, "", ""},
        {"header only", std::string("\x01\x00\x00\x00", 4), none, empty, 0, "", ""},
        {"empty partial", record(0xF0, ""), none, empty, 0, "", ""},
        // An empty final would otherwise end the utterance without result or error.
        {"empty final", record(0xF1, ""), vxs::ASR_RES_TYPE_SINGLE_FINISH, error, -1000,
         "[ASRResponse::create_chunk_result]not enough response data", ""},
        {"unknown type", record(0xF7, kWordA), none, empty, 0, "", ""},
        {"unknown type, no payload", record(0x00, ""), none, empty, 0, "", ""},
        {"length beyond the data", full.substr(0, full.size() - 3), none, error, -1000,
         kLengthMismatch, ""},
        {"length short of the data", full + "xyz", none, error, -1000, kLengthMismatch, ""},
        {"zero length", record_with_length(0, 0xF3, ""), none, error, -1000, kLengthMismatch, ""},
        {"huge length", record_with_length(0xFFFFFFFFu, 0xF1, kWordA), none, error, -1000,
         kLengthMismatch, ""},
        {"length that wraps in 32 bits", record_with_length(0xFFFFFFFCu, 0xF0, ""), none, error,
         -1000, kLengthMismatch, ""},
    };
    for (const ChunkCase& c : cases) expect_case(c);
}

// The parse is bounded by the record, even when the bytes after it would
// complete the JSON.
TEST(ChunkRecord, ParseStopsAtTheRecordEnd) {
    const std::string answer = R"({"err_no":0,"result":{"word":["a"]}})";
    const std::string cut = answer.substr(0, answer.size() - 2);
    const std::string bytes = record(0xF1, cut) + answer.substr(answer.size() - 2);
    const uint32_t recordSize = static_cast<uint32_t>(cut.size() + 5);
    vxs::ASRResult r;
    vxs::ASRResponse(0, bytes.data(), recordSize).create_chunk_result(&r);
    EXPECT_EQ(r.get_type(), vxs::EVR_RESULT_TYPE_ERROR);
    EXPECT_EQ(r.get_err_desc(), kParseFailed);
}

// Every cut of a record, as a broken stream could deliver it, ends as an
// empty result (no type byte yet) or an error, never as a result.
TEST(ChunkRecord, EveryCutOfARecordIsEmptyOrAnError) {
    const std::string whole = record(0xF1, kWordA);
    for (size_t size = 0; size < whole.size(); ++size) {
        const vxs::ASRResult r = parse_chunk(whole.substr(0, size));
        const auto expected = size <= 4 ? vxs::EVR_RESULT_TYPE_EMPTY : vxs::EVR_RESULT_TYPE_ERROR;
        EXPECT_EQ(r.get_type(), expected) << size;
        EXPECT_TRUE(r.get_response().empty()) << size;
    }
}

struct BinaryCase {
    uint8_t recordType;
    vxs::ASR_RES_TYPE resType;
    vxs::TVXVoiceRecognitionResultType type;
};

TEST(ChunkRecord, BinaryRecordsArePassedOnUnread) {
    const std::string payload("\x00\xFF{not json\x01", 12);
    const std::vector<BinaryCase> cases = {
        {0xF2, vxs::ASR_RES_TYPE_THIRD, vxs::EVR_RESULT_TYPE_THIRD},
        {0xF5, vxs::ASR_RES_TYPE_NLU, vxs::EVR_RESULT_TYPE_NLU},
        {0xF9, vxs::ASR_RES_TYPE_VP_RES, vxs::EVR_RESULT_TYPE_VP_RES},
    };
    for (const BinaryCase& c : cases) {
        const vxs::ASRResult r = parse_chunk(record(c.recordType, payload));
        EXPECT_EQ(r.get_res_type(), c.resType);
        EXPECT_EQ(r.get_type(), c.type);
        EXPECT_EQ(r.get_err_no(), 0);
        EXPECT_TRUE(r.get_response().empty());
        ASSERT_EQ(r.get_raw_data_len(), payload.size());
        EXPECT_EQ(0, memcmp(r.get_raw_data().getPTR(), payload.data(), payload.size()));

        // Without payload the kinds are still set, and nothing is stored.
        const vxs::ASRResult bare = parse_chunk(record(c.recordType, ""));
        EXPECT_EQ(bare.get_type(), c.type);
        EXPECT_EQ(bare.get_raw_data_len(), 0u);
        EXPECT_FALSE(bare.get_raw_data());
    }
    // The end record reads no payload even when one is there.
    const vxs::ASRResult end = parse_chunk(record(0xF3, "tail"));
    EXPECT_EQ(end.get_type(), vxs::EVR_RESULT_TYPE_END);
    EXPECT_EQ(end.get_raw_data_len(), 0u);
}

TEST(ChunkRecord, NullResultIsIgnored) {
    const std::string bytes = record(0xF1, kWordA);
    vxs::ASRResponse(0, bytes.data(), static_cast<uint32_t>(bytes.size()))
        .create_chunk_result(nullptr);
}

}  // namespace
