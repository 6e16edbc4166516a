#include "core/json_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct TreeDeleter {
    void operator()(cJSON* tree) const { cJSON_Delete(tree); }
};
using Tree = std::unique_ptr<cJSON, TreeDeleter>;

TEST(Json, ParsesAndLooksUpMembersAndElements) {
    Tree tree(vxs::read_json(R"({"err_no":0,"result":["one","two"],"Err_no":5})"));
    ASSERT_TRUE(tree);
    const cJSON* err = vxs::get_json_item(tree.get(), "err_no");
    ASSERT_TRUE(cJSON_IsNumber(err));
    EXPECT_EQ(err->valueint, 0);  // keys are case-sensitive: "Err_no" is another member
    const cJSON* result = vxs::get_json_item(tree.get(), "result");
    const cJSON* second = vxs::get_json_array_item(result, 1);
    ASSERT_TRUE(cJSON_IsString(second));
    EXPECT_STREQ(second->valuestring, "two");

    EXPECT_EQ(vxs::get_json_item(tree.get(), "missing"), nullptr);
    EXPECT_EQ(vxs::get_json_item(tree.get(), nullptr), nullptr);
    EXPECT_EQ(vxs::get_json_array_item(result, 2), nullptr);
    EXPECT_EQ(vxs::get_json_array_item(result, -1), nullptr);
    EXPECT_EQ(vxs::get_json_item(nullptr, "err_no"), nullptr);
    EXPECT_EQ(vxs::get_json_array_item(nullptr, 0), nullptr);
}

TEST(Json, NullEmptyOrMalformedTextGivesNoTree) {
    for (const char* text : {static_cast<const char*>(nullptr), "", "{", "{\"a\":}", "not json"})
        EXPECT_EQ(vxs::read_json(text), nullptr) << (text ? text : "null");
    EXPECT_EQ(vxs::read_json("{}", 0), nullptr);
    EXPECT_EQ(vxs::read_json(nullptr, 5), nullptr);
}

TEST(Json, LengthBoundedParseStopsAtTheLength) {
    // A record without terminator, followed by bytes that must not be read as JSON.
    const std::string record = R"({"text":"hi"})";
    std::unique_ptr<char[]> buffer(new char[record.size()]);
    std::memcpy(buffer.get(), record.data(), record.size());
    Tree tree(vxs::read_json(buffer.get(), record.size()));
    ASSERT_TRUE(tree);
    EXPECT_STREQ(vxs::get_json_item(tree.get(), "text")->valuestring, "hi");

    const std::string joined = record + R"({"more":1})";
    Tree first(vxs::read_json(joined.data(), record.size()));
    ASSERT_TRUE(first);
    EXPECT_EQ(vxs::get_json_item(first.get(), "more"), nullptr);
    EXPECT_EQ(vxs::read_json(record.data(), record.size() - 1), nullptr);  // cut short: malformed
}

}  // namespace
