#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/message.h"
#include "core/param.h"
#include "interface/vxs_sdk_message_impl.h"
#include "vxs/vxs_sdk_constants.h"
#include "vxs/vxs_sdk_message.h"

namespace {

using vxs::ByteArray;
using vxs::Message;
using vxs::MessagePtr;
using vxs::ParamMap;
using vxs::paramBase;
using vxs::VXSSDKMessage;
using vxs::VXSSDKMessageImpl;

MessagePtr to_internal(const VXSSDKMessage& message) {
    return VXSSDKMessageImpl::toInternal(message, nullptr, nullptr, nullptr, nullptr);
}

ByteArray bytes_of(const char* text) {
    const int length = static_cast<int>(std::strlen(text));
    auto buffer = vxs::Memory::vxs_make_array<char>(static_cast<size_t>(length));
    std::memcpy(buffer.getPTR(), text, static_cast<size_t>(length));
    return ByteArray(buffer, length);
}

std::string bytes_text(const VXSSDKMessage& message, const std::string& key) {
    const char* data = nullptr;
    int length = 0;
    if (!message.get_parameter(key, data, length)) return "<absent>";
    return std::string(data, static_cast<size_t>(length));
}

// ---- public bag to internal message ----

TEST(ToInternalTest, PayloadTravelsAsMessageDataNotAsParameter) {
    VXSSDKMessage message(vxs::ASR_CMD_PUSH_AUDIO);
    message.set_parameter(vxs::DATA_CHUNK, "\x01\x02\x03\x04", 4);
    const char* stored = nullptr;
    int length = 0;
    ASSERT_TRUE(message.get_parameter(vxs::DATA_CHUNK, stored, length));

    MessagePtr internal = to_internal(message);
    ASSERT_TRUE(internal);
    EXPECT_EQ("asr.push_audio", internal->name);
    EXPECT_EQ(stored, internal->data.getPTR());  // shared, not copied
    EXPECT_EQ(4u, internal->length);
    EXPECT_EQ(0u, internal->offset);
    EXPECT_EQ(0u, internal->params->count(vxs::DATA_CHUNK));
}

TEST(ToInternalTest, MessageWithoutPayloadHasNoData) {
    VXSSDKMessage message("asr.stop");
    MessagePtr internal = to_internal(message);
    ASSERT_TRUE(internal);
    EXPECT_EQ(nullptr, internal->data.getPTR());
    EXPECT_EQ(0u, internal->length);
    EXPECT_TRUE(internal->params->empty());
}

TEST(ToInternalTest, EveryMapButVectorsIsBoxedUnderItsOwnKey) {
    VXSSDKMessage message("asr.config");
    message.set_parameter("s.string", std::string("hello"));
    message.set_parameter("i.int", -12);
    message.set_parameter("f.float", 0.25f);
    message.set_parameter("b.byte_array", "raw", 3);
    message.set_parameter("v.vector<string>", std::vector<std::string>{"x"});

    MessagePtr internal = to_internal(message);
    ASSERT_TRUE(internal);
    const ParamMap& params = *internal->params;
    ASSERT_EQ(4u, params.size());
    ASSERT_NE(nullptr, params.at("s.string").get<std::string>());
    EXPECT_EQ("hello", *params.at("s.string").get<std::string>());
    ASSERT_NE(nullptr, params.at("i.int").get<int32_t>());
    EXPECT_EQ(-12, *params.at("i.int").get<int32_t>());
    ASSERT_NE(nullptr, params.at("f.float").get<float>());
    EXPECT_FLOAT_EQ(0.25f, *params.at("f.float").get<float>());

    const ByteArray* boxed = params.at("b.byte_array").get<ByteArray>();
    ASSERT_NE(nullptr, boxed);
    const char* stored = nullptr;
    int length = 0;
    ASSERT_TRUE(message.get_parameter("b.byte_array", stored, length));
    EXPECT_EQ(stored, boxed->first.getPTR());
    EXPECT_EQ(3, boxed->second);
    EXPECT_EQ(0u, params.count("v.vector<string>"));
}

TEST(ToInternalTest, ConvertersRunFirstAndMayConsumeEntries) {
    VXSSDKMessage message("asr.config");
    message.set_parameter("taken.string", std::string("a"));
    message.set_parameter("kept.string", std::string("b"));
    message.set_parameter("n.int", 1);
    message.set_parameter("f.float", 1.0f);
    message.set_parameter("b.byte_array", "z", 1);
    message.set_parameter(vxs::DATA_CHUNK, "pcm", 3);

    std::vector<std::string> seen;
    auto takeString = [&](VXSSDKMessageImpl::StringMap::const_iterator entry, ParamMap& target) {
        seen.push_back(entry->first);
        if (entry->first != "taken.string") return false;
        target["derived.vector<int>"] = paramBase::box(std::vector<int>{1, 2});
        return true;
    };
    auto takeInt = [&](VXSSDKMessageImpl::IntMap::const_iterator entry, ParamMap&) {
        seen.push_back(entry->first);
        return true;
    };
    auto passFloat = [&](VXSSDKMessageImpl::FloatMap::const_iterator entry, ParamMap&) {
        seen.push_back(entry->first);
        return false;
    };
    auto takeBytes = [&](VXSSDKMessageImpl::CharArrayMap::const_iterator entry, ParamMap&) {
        seen.push_back(entry->first);
        return true;
    };

    MessagePtr internal = VXSSDKMessageImpl::toInternal(message, takeString, takeInt, passFloat, takeBytes);
    ASSERT_TRUE(internal);
    // The payload never reaches a converter; the maps are walked string, int, float, bytes.
    EXPECT_EQ((std::vector<std::string>{"kept.string", "taken.string", "n.int", "f.float", "b.byte_array"}), seen);
    const ParamMap& params = *internal->params;
    EXPECT_EQ(0u, params.count("taken.string"));
    EXPECT_EQ(1u, params.count("kept.string"));
    EXPECT_EQ(1u, params.count("derived.vector<int>"));
    EXPECT_EQ(0u, params.count("n.int"));
    EXPECT_EQ(1u, params.count("f.float"));
    EXPECT_EQ(0u, params.count("b.byte_array"));
    EXPECT_EQ(3u, internal->length);
}

TEST(ToInternalTest, KeyInSeveralMapsEndsWithTheLastConvertibleValue) {
    VXSSDKMessage message;
    message.set_parameter("rate.int", std::string("8000"));
    message.set_parameter("rate.int", 16000);
    message.set_parameter("mode.int", 3);
    message.set_parameter("mode.int", 0.5f);  // not an integer: skipped, the int stays

    MessagePtr internal = to_internal(message);
    ASSERT_TRUE(internal);
    ASSERT_NE(nullptr, internal->params->at("rate.int").get<int32_t>());
    EXPECT_EQ(16000, *internal->params->at("rate.int").get<int32_t>());
    ASSERT_NE(nullptr, internal->params->at("mode.int").get<int32_t>());
    EXPECT_EQ(3, *internal->params->at("mode.int").get<int32_t>());
}

// A value set in one typed map under a key naming another type is boxed as
// the key's type when it converts, and skipped otherwise: readers that trust
// the suffix must never meet the wrong box.
struct SuffixCase {
    const char* what;
    void (*set)(VXSSDKMessage&);
    const char* key;
    // Checks the box; null when the entry must be skipped.
    bool (*check)(const paramBase&);
};

const SuffixCase kSuffixCases[] = {
    {"number text to int", [](VXSSDKMessage& m) { m.set_parameter("k.int", std::string("16000")); }, "k.int",
     [](const paramBase& v) { return v.get<int32_t>() && *v.get<int32_t>() == 16000; }},
    {"word text to int", [](VXSSDKMessage& m) { m.set_parameter("k.int", std::string("abc")); }, "k.int", nullptr},
    {"fraction text to int", [](VXSSDKMessage& m) { m.set_parameter("k.int32_t", std::string("1.5")); }, "k.int32_t",
     nullptr},
    {"text to float", [](VXSSDKMessage& m) { m.set_parameter("k.float", std::string("0.08")); }, "k.float",
     [](const paramBase& v) { return v.get<float>() && *v.get<float>() == 0.08f; }},
    {"true text to bool", [](VXSSDKMessage& m) { m.set_parameter("k.bool", std::string("true")); }, "k.bool",
     [](const paramBase& v) { return v.get<bool>() && *v.get<bool>(); }},
    {"zero text to bool", [](VXSSDKMessage& m) { m.set_parameter("k.bool", std::string("0")); }, "k.bool",
     [](const paramBase& v) { return v.get<bool>() && !*v.get<bool>(); }},
    {"text to vector", [](VXSSDKMessage& m) { m.set_parameter("k.vector<string>", std::string("a,b")); },
     "k.vector<string>", nullptr},
    {"text to byte array", [](VXSSDKMessage& m) { m.set_parameter("k.byte_array", std::string("a")); },
     "k.byte_array", nullptr},
    {"int to bool", [](VXSSDKMessage& m) { m.set_parameter("k.bool", 2); }, "k.bool",
     [](const paramBase& v) { return v.get<bool>() && *v.get<bool>(); }},
    {"int to float", [](VXSSDKMessage& m) { m.set_parameter("k.float", 3); }, "k.float",
     [](const paramBase& v) { return v.get<float>() && *v.get<float>() == 3.0f; }},
    {"int to string", [](VXSSDKMessage& m) { m.set_parameter("k.string", 42); }, "k.string",
     [](const paramBase& v) { return v.get<std::string>() && *v.get<std::string>() == "42"; }},
    {"int to int16", [](VXSSDKMessage& m) { m.set_parameter("k.int16_t", -3001); }, "k.int16_t",
     [](const paramBase& v) { return v.get<int16_t>() && *v.get<int16_t>() == -3001; }},
    {"int out of int16 range", [](VXSSDKMessage& m) { m.set_parameter("k.int16_t", 70000); }, "k.int16_t", nullptr},
    {"int to map", [](VXSSDKMessage& m) { m.set_parameter("k.map<string,string>", 1); }, "k.map<string,string>",
     nullptr},
    {"whole float to int", [](VXSSDKMessage& m) { m.set_parameter("k.int", 16000.0f); }, "k.int",
     [](const paramBase& v) { return v.get<int32_t>() && *v.get<int32_t>() == 16000; }},
    {"fraction float to int", [](VXSSDKMessage& m) { m.set_parameter("k.int", 2.5f); }, "k.int", nullptr},
    {"float to bool", [](VXSSDKMessage& m) { m.set_parameter("k.bool", 0.0f); }, "k.bool",
     [](const paramBase& v) { return v.get<bool>() && !*v.get<bool>(); }},
    {"bytes to int", [](VXSSDKMessage& m) { m.set_parameter("k.int", "12", 2); }, "k.int", nullptr},
    {"bytes to string", [](VXSSDKMessage& m) { m.set_parameter("k.string", "ab", 2); }, "k.string",
     [](const paramBase& v) { return v.get<std::string>() && *v.get<std::string>() == "ab"; }},
    {"untyped key keeps the value's type", [](VXSSDKMessage& m) { m.set_parameter("asr_param_key_api_key", 5); },
     "asr_param_key_api_key", [](const paramBase& v) { return v.get<int32_t>() && *v.get<int32_t>() == 5; }},
};

TEST(ToInternalTest, ValuesAreBoxedByTheKeysSuffix) {
    for (const SuffixCase& c : kSuffixCases) {
        VXSSDKMessage message;
        c.set(message);
        MessagePtr internal = to_internal(message);
        ASSERT_TRUE(internal) << c.what;
        const auto found = internal->params->find(c.key);
        if (c.check == nullptr) {
            EXPECT_EQ(internal->params->end(), found) << c.what;
        } else {
            ASSERT_NE(internal->params->end(), found) << c.what;
            EXPECT_TRUE(c.check(found->second)) << c.what;
        }
    }
}

// ---- internal message to public bag ----

TEST(FromInternalTest, EntriesAreChosenByKeySuffix) {
    MessagePtr internal = Message::make(vxs::asr_callback_name);
    ParamMap& params = *internal->params;
    params["cb.asr.status.int"] = paramBase(static_cast<int32_t>(5));
    params["cb.asr.result.string"] = paramBase(std::string("{\"ok\":1}"));
    params["cb.error.code.int16_t"] = paramBase(static_cast<int16_t>(-3001));
    params["cb.error.domain.int16_t"] = paramBase(static_cast<int16_t>(33));
    params["yes.bool"] = paramBase(true);
    params["no.bool"] = paramBase(false);
    params["vxs.error_code.int32_t"] = paramBase(static_cast<int32_t>(2225223));
    params["pair.vector<string>"] = paramBase::box(std::vector<std::string>{"api", "secret"});
    params["blob.byte_array"] = paramBase::box(bytes_of("blob"));

    VXSSDKMessage bag = VXSSDKMessageImpl::fromInternal(internal.getPTR(), nullptr);
    EXPECT_EQ("ASR.callback", bag.name);
    int value = 0;
    ASSERT_TRUE(bag.get_parameter(vxs::CALLBACK_ASR_STATUS, value));
    EXPECT_EQ(5, value);
    ASSERT_TRUE(bag.get_parameter(vxs::CALLBACK_ERROR_CODE, value));
    EXPECT_EQ(-3001, value);
    ASSERT_TRUE(bag.get_parameter(vxs::CALLBACK_ERROR_DOMAIN, value));
    EXPECT_EQ(33, value);
    ASSERT_TRUE(bag.get_parameter("yes.bool", value));
    EXPECT_EQ(1, value);
    ASSERT_TRUE(bag.get_parameter("no.bool", value));
    EXPECT_EQ(0, value);
    ASSERT_TRUE(bag.get_parameter("vxs.error_code.int32_t", value));
    EXPECT_EQ(2225223, value);
    std::string text;
    ASSERT_TRUE(bag.get_parameter(vxs::CALLBACK_ASR_RESULT, text));
    EXPECT_EQ("{\"ok\":1}", text);
    std::vector<std::string> pair;
    ASSERT_TRUE(bag.get_parameter("pair.vector<string>", pair));
    EXPECT_EQ((std::vector<std::string>{"api", "secret"}), pair);

    // Byte arrays are copied into the bag.
    const char* data = nullptr;
    int length = 0;
    ASSERT_TRUE(bag.get_parameter("blob.byte_array", data, length));
    EXPECT_EQ("blob", std::string(data, static_cast<size_t>(length)));
    EXPECT_NE(params["blob.byte_array"].get<ByteArray>()->first.getPTR(), data);
}

TEST(FromInternalTest, FloatsAndOtherTypesNeverReachTheHost) {
    MessagePtr internal = Message::make("ASR.callback");
    ParamMap& params = *internal->params;
    params["level.float"] = paramBase(0.5f);
    params["mills.unsigned_long_long"] = paramBase::box(1234ull);
    params["prop.vector<int>"] = paramBase::box(std::vector<int>{1});
    params["free text"] = paramBase(std::string("x"));

    vxs::set_log_level(vxs::kLogWarn);
    ::testing::internal::CaptureStderr();
    VXSSDKMessage bag = VXSSDKMessageImpl::fromInternal(internal.getPTR(), nullptr);
    const std::string log = ::testing::internal::GetCapturedStderr();
    vxs::set_log_level(vxs::kLogOff);

    EXPECT_TRUE(bag.string_param_keys().empty());
    EXPECT_TRUE(bag.int_param_keys().empty());
    EXPECT_TRUE(bag.float_param_keys().empty());
    EXPECT_TRUE(bag.vector_param_keys().empty());
    EXPECT_EQ((std::vector<std::string>{vxs::DATA_CHUNK}), bag.char_param_keys());
    EXPECT_NE(std::string::npos, log.find("unknown key type: level.float")) << log;
    EXPECT_NE(std::string::npos, log.find("unknown key type: free text")) << log;
}

TEST(FromInternalTest, BoxOfAnotherTypeThanTheSuffixIsSkippedOrConverted) {
    MessagePtr internal = Message::make("ASR.callback");
    ParamMap& params = *internal->params;
    params["num.string"] = paramBase(static_cast<int32_t>(3));   // no string: skipped
    params["text.int"] = paramBase(std::string("7"));           // no number: skipped
    params["flag.int"] = paramBase(true);                        // a number: 1
    params["wide.int16_t"] = paramBase(static_cast<int32_t>(62535));  // the 16-bit value, widened

    VXSSDKMessage bag = VXSSDKMessageImpl::fromInternal(internal.getPTR(), nullptr);
    std::string text;
    int value = 0;
    EXPECT_FALSE(bag.get_parameter("num.string", text));
    EXPECT_FALSE(bag.get_parameter("text.int", value));
    ASSERT_TRUE(bag.get_parameter("flag.int", value));
    EXPECT_EQ(1, value);
    ASSERT_TRUE(bag.get_parameter("wide.int16_t", value));
    EXPECT_EQ(-3001, value);
}

TEST(FromInternalTest, PayloadIsAlwaysPresentUnderDataChunk) {
    MessagePtr withPayload = Message::make("ASR.callback");
    withPayload->data = bytes_of("audio").first;
    withPayload->length = 5;
    withPayload->offset = 5;  // carried by some senders; the bytes start at data
    MessagePtr without = Message::make("ASR.callback");
    MessagePtr lengthWithoutData = Message::make("ASR.callback");
    lengthWithoutData->length = 100;

    EXPECT_EQ("audio", bytes_text(VXSSDKMessageImpl::fromInternal(withPayload.getPTR(), nullptr), vxs::DATA_CHUNK));
    EXPECT_EQ("", bytes_text(VXSSDKMessageImpl::fromInternal(without.getPTR(), nullptr), vxs::DATA_CHUNK));
    EXPECT_EQ("", bytes_text(VXSSDKMessageImpl::fromInternal(lengthWithoutData.getPTR(), nullptr), vxs::DATA_CHUNK));
}

TEST(FromInternalTest, ConverterMayTakeEntriesOver) {
    MessagePtr internal = Message::make("ASR.callback");
    (*internal->params)["a.int"] = paramBase(static_cast<int32_t>(1));
    (*internal->params)["b.float"] = paramBase(1.5f);
    auto converter = [](ParamMap::const_iterator entry, VXSSDKMessage& target) {
        if (entry->first != "b.float") return false;
        target.set_parameter(entry->first, entry->second.valueFloat());
        return true;
    };
    VXSSDKMessage bag = VXSSDKMessageImpl::fromInternal(internal.getPTR(), converter);
    float number = 0;
    int integer = 0;
    ASSERT_TRUE(bag.get_parameter("b.float", number));
    EXPECT_FLOAT_EQ(1.5f, number);
    ASSERT_TRUE(bag.get_parameter("a.int", integer));
    EXPECT_EQ(1, integer);
}

TEST(FromInternalTest, NullMessageGivesAnEmptyBag) {
    VXSSDKMessage bag = VXSSDKMessageImpl::fromInternal(nullptr, nullptr);
    EXPECT_EQ("", bag.name);
    EXPECT_TRUE(bag.char_param_keys().empty());
}

TEST(RoundTripTest, PostedAudioComesBackAsTheSameBytes) {
    VXSSDKMessage posted("asr.push_audio");
    posted.set_parameter(vxs::DATA_CHUNK, "\x00\x10\x20\x30", 4);
    posted.set_parameter("name.string", std::string("n"));
    MessagePtr internal = to_internal(posted);
    ASSERT_TRUE(internal);
    VXSSDKMessage back = VXSSDKMessageImpl::fromInternal(internal.getPTR(), nullptr);
    EXPECT_EQ(std::string("\x00\x10\x20\x30", 4), bytes_text(back, vxs::DATA_CHUNK));
    std::string text;
    ASSERT_TRUE(back.get_parameter("name.string", text));
    EXPECT_EQ("n", text);
}

}  // namespace
