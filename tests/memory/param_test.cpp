#include "core/param.h"

#include <gtest/gtest.h>

#include "core/message.h"

namespace vxs {
namespace {

TEST(ParamTest, BasicValuesBoxAndReadBack) {
    paramBase text = std::string("hello");
    paramBase number = 42;
    paramBase flag = true;
    paramBase ratio = 0.25f;
    paramBase small = static_cast<int16_t>(-3001);
    EXPECT_EQ(text.valueString(), "hello");
    EXPECT_EQ(number.valueInt(), 42);
    EXPECT_TRUE(flag.valueBool());
    EXPECT_FLOAT_EQ(ratio.valueFloat(), 0.25f);
    EXPECT_EQ(small.valueInt16(), -3001);
    EXPECT_FALSE(paramBase().hasValue());
}

TEST(ParamTest, AssigningAnotherTypeChangesTheStoredType) {
    paramBase value = 7;
    value = std::string("seven");
    EXPECT_TRUE(value.holds<std::string>());
    EXPECT_FALSE(value.holds<int>());
    value = false;
    EXPECT_TRUE(value.holds<bool>());
}

// A value read as another type than it holds: numbers and booleans convert,
// everything else reads as the empty value, never as reinterpreted bytes.
TEST(ParamTest, ReadersCheckTheBoxType) {
    paramBase boolean = false;
    EXPECT_EQ(boolean.valueInt(), 0);
    paramBase integer = 3;
    EXPECT_FLOAT_EQ(integer.valueFloat(), 3.0f);
    EXPECT_TRUE(integer.valueBool());
    paramBase floating = 2.75f;
    EXPECT_EQ(floating.valueInt(), 2);
    paramBase text = std::string("12");
    EXPECT_EQ(text.valueInt(), 0);
    EXPECT_FLOAT_EQ(text.valueFloat(), 0.0f);
    paramBase list = paramBase::box(std::vector<std::string>{"a", "b"});
    EXPECT_EQ(list.valueString(), "");
    EXPECT_EQ(list.get<std::vector<int>>(), nullptr);
    ASSERT_NE(list.get<std::vector<std::string>>(), nullptr);
    EXPECT_EQ(list.get<std::vector<std::string>>()->size(), 2u);
}

TEST(ParamTest, CopiedMapsHoldIndependentValuesButShareObjects) {
    ParamMap original;
    original["name.string"] = std::string("a");
    original["count.int"] = 1;
    ByteArray bytes(Memory::vxs_make_array<char>(4), 4);
    original["payload.byte_array"] = paramBase::box(bytes);

    ParamMap copy = original;
    copy["name.string"] = std::string("b");
    copy["count.int"] = 2;
    EXPECT_EQ(original["name.string"].valueString(), "a");
    EXPECT_EQ(original["count.int"].valueInt(), 1);

    const ByteArray* a = original["payload.byte_array"].get<ByteArray>();
    const ByteArray* b = copy["payload.byte_array"].get<ByteArray>();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->first.getPTR(), b->first.getPTR());
    EXPECT_EQ(b->second, 4);
}

TEST(ParamTest, CopyAssignmentOfAHandleToItselfKeepsTheValue) {
    paramBase value = std::string("kept");
    paramBase& alias = value;
    value = alias;
    EXPECT_EQ(value.valueString(), "kept");
    paramBase empty;
    value = empty;
    EXPECT_FALSE(value.hasValue());
}

TEST(MessageTest, MakeSharesTheParameterMap) {
    ParamMapPtr params = newParamMap();
    MessagePtr message = Message::make("asr.start", params);
    (*params)["late.int"] = 5;
    EXPECT_EQ(message->name, "asr.start");
    EXPECT_EQ((*message->params)["late.int"].valueInt(), 5);
    EXPECT_EQ(message->length, 0u);
    EXPECT_EQ(message->offset, 0u);
    EXPECT_EQ(message->data.getPTR(), nullptr);
    EXPECT_NE(Message::make("x")->params.getPTR(), nullptr);
}

}  // namespace
}  // namespace vxs
