#include "vxs/vxs_sdk_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using vxs::VXSSDKMessage;

TEST(VXSSDKMessageTest, SameKeyLivesIndependentlyInEveryTypedMap) {
    VXSSDKMessage message("asr.start");
    message.set_parameter("k", std::string("text"));
    message.set_parameter("k", 7);
    message.set_parameter("k", 2.5f);
    message.set_parameter("k", std::vector<std::string>{"a", "b"});
    message.set_parameter("k", "xyz", 3);

    std::string text;
    int integer = 0;
    float number = 0;
    std::vector<std::string> list;
    const char* bytes = nullptr;
    int length = -1;
    ASSERT_TRUE(message.get_parameter("k", text));
    ASSERT_TRUE(message.get_parameter("k", integer));
    ASSERT_TRUE(message.get_parameter("k", number));
    ASSERT_TRUE(message.get_parameter("k", list));
    ASSERT_TRUE(message.get_parameter("k", bytes, length));
    EXPECT_EQ("text", text);
    EXPECT_EQ(7, integer);
    EXPECT_FLOAT_EQ(2.5f, number);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), list);
    EXPECT_EQ(3, length);
    EXPECT_EQ(0, std::memcmp("xyz", bytes, 3));
    EXPECT_EQ("asr.start", message.name);
}

TEST(VXSSDKMessageTest, MissingKeyLeavesOutputUntouchedAndSetOverwrites) {
    VXSSDKMessage message;
    EXPECT_EQ("", message.name);
    std::string text = "kept";
    int integer = 11;
    const char* bytes = "kept";
    int length = 4;
    EXPECT_FALSE(message.get_parameter("absent", text));
    EXPECT_FALSE(message.get_parameter("absent", integer));
    EXPECT_FALSE(message.get_parameter("absent", bytes, length));
    EXPECT_EQ("kept", text);
    EXPECT_EQ(11, integer);
    EXPECT_STREQ("kept", bytes);
    EXPECT_EQ(4, length);

    message.set_parameter("n.int", 1);
    message.set_parameter("n.int", 2);
    ASSERT_TRUE(message.get_parameter("n.int", integer));
    EXPECT_EQ(2, integer);
    // An integer under the key does not answer a string lookup.
    EXPECT_FALSE(message.get_parameter("n.int", text));
}

TEST(VXSSDKMessageTest, KeyListsFollowByteWiseOrderPerMap) {
    VXSSDKMessage message;
    message.set_parameter("b", std::string());
    message.set_parameter("B", std::string());
    message.set_parameter("a", std::string());
    message.set_parameter("i", 1);
    message.set_parameter("f", 1.0f);
    message.set_parameter("c", "", 0);
    message.set_parameter("v", std::vector<std::string>());
    EXPECT_EQ((std::vector<std::string>{"B", "a", "b"}), message.string_param_keys());
    EXPECT_EQ((std::vector<std::string>{"i"}), message.int_param_keys());
    EXPECT_EQ((std::vector<std::string>{"f"}), message.float_param_keys());
    EXPECT_EQ((std::vector<std::string>{"c"}), message.char_param_keys());
    EXPECT_EQ((std::vector<std::string>{"v"}), message.vector_param_keys());
}

TEST(VXSSDKMessageTest, ByteArrayIsAPrivateCopy) {
    VXSSDKMessage message;
    char* source = new char[4]{'p', 'c', 'm', '!'};
    ASSERT_TRUE(message.set_parameter("audio", source, 4));
    delete[] source;  // the caller may free its buffer

    const char* bytes = nullptr;
    int length = 0;
    ASSERT_TRUE(message.get_parameter("audio", bytes, length));
    ASSERT_EQ(4, length);
    EXPECT_EQ(0, std::memcmp("pcm!", bytes, 4));
}

TEST(VXSSDKMessageTest, EmptyByteArrayIsStoredWithLengthZero) {
    VXSSDKMessage message;
    ASSERT_TRUE(message.set_parameter("empty", "ignored", 0));
    ASSERT_TRUE(message.set_parameter("null", nullptr, 0));
    for (const char* key : {"empty", "null"}) {
        const char* bytes = nullptr;
        int length = -1;
        EXPECT_TRUE(message.get_parameter(key, bytes, length)) << key;
        EXPECT_EQ(0, length) << key;
    }
}

TEST(VXSSDKMessageTest, InvalidByteArrayIsRejectedAndKeepsTheOldValue) {
    VXSSDKMessage message;
    ASSERT_TRUE(message.set_parameter("k", "ab", 2));
    EXPECT_FALSE(message.set_parameter("k", "abc", -1));
    EXPECT_FALSE(message.set_parameter("k", nullptr, 5));
    EXPECT_FALSE(message.set_parameter("other", "abc", -100));

    const char* bytes = nullptr;
    int length = 0;
    ASSERT_TRUE(message.get_parameter("k", bytes, length));
    EXPECT_EQ(2, length);
    EXPECT_EQ(0, std::memcmp("ab", bytes, 2));
    EXPECT_EQ((std::vector<std::string>{"k"}), message.char_param_keys());
}

TEST(VXSSDKMessageTest, CopiesShareByteBuffersAndNothingElse) {
    VXSSDKMessage* original = new VXSSDKMessage("asr.push_audio");
    original->set_parameter("audio", "abcd", 4);
    original->set_parameter("n", 1);

    VXSSDKMessage constructed(*original);
    VXSSDKMessage assigned("other");
    assigned.set_parameter("stale", 5);
    assigned = *original;

    const char* originalBytes = nullptr;
    const char* constructedBytes = nullptr;
    const char* assignedBytes = nullptr;
    int length = 0;
    ASSERT_TRUE(original->get_parameter("audio", originalBytes, length));
    ASSERT_TRUE(constructed.get_parameter("audio", constructedBytes, length));
    ASSERT_TRUE(assigned.get_parameter("audio", assignedBytes, length));
    EXPECT_EQ(originalBytes, constructedBytes);
    EXPECT_EQ(originalBytes, assignedBytes);
    EXPECT_EQ("asr.push_audio", assigned.name);
    int stale = 0;
    EXPECT_FALSE(assigned.get_parameter("stale", stale));

    constructed.set_parameter("n", 2);
    int n = 0;
    ASSERT_TRUE(original->get_parameter("n", n));
    EXPECT_EQ(1, n);

    // The shared buffer outlives the message it was set in.
    delete original;
    ASSERT_TRUE(assigned.get_parameter("audio", assignedBytes, length));
    EXPECT_EQ(0, std::memcmp("abcd", assignedBytes, 4));
}

TEST(VXSSDKMessageTest, SelfAssignmentKeepsEverything) {
    VXSSDKMessage message("m");
    message.set_parameter("audio", "xy", 2);
    VXSSDKMessage& alias = message;
    message = alias;
    const char* bytes = nullptr;
    int length = 0;
    ASSERT_TRUE(message.get_parameter("audio", bytes, length));
    EXPECT_EQ(0, std::memcmp("xy", bytes, 2));
    EXPECT_EQ("m", message.name);
}

}  // namespace
