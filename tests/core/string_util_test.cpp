#include "core/string_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StrEndsWith, ComparesTheGivenLengths) {
    struct Case {
        const char* text;
        int textLength;
        const char* ending;
        int endingLength;
        bool expected;
    };
    const Case cases[] = {
        {"audio.pcm", 9, ".pcm", 4, true},
        {"audio.pcm", 9, ".wav", 4, false},
        {"audio.pcm", 5, "audio", 5, true},  // only the first textLength characters count
        {"pcm", 3, ".pcm", 4, false},
        {"abc", 3, "", 0, true},
        {nullptr, 3, "c", 1, false},
        {"abc", 3, nullptr, 1, false},
        {"abc", -1, "c", 1, false},
        {"abc", 3, "c", -1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vxs::str_ends_with(c.text, c.textLength, c.ending, c.endingLength), c.expected)
            << (c.text ? c.text : "null") << " / " << (c.ending ? c.ending : "null");
}

TEST(URLDecode, DecodesPlusAndPercentEscapes) {
    struct Case {
        std::string src;
        std::string expected;
    };
    const Case cases[] = {
        {"a+b%41", "a bA"},
        {"%4", ""},
        {"%", ""},
        {"ab%zz", ""},
        {"%e4%B8%ad", "\xe4\xb8\xad"},
        {"100%25", "100%"},
        {"", ""},
        {"ab%00cd", "ab"},
        {std::string("ab\0cd", 5), "ab"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vxs::URLDecode(c.src.data(), static_cast<unsigned>(c.src.size())), c.expected)
            << c.src;
}

TEST(URLDecode, ReadsOnlyTheGivenLength) {
    // The escape is cut by the length: its digits beyond it must not be used.
    EXPECT_EQ(vxs::URLDecode("ab%41", 4), "");
    EXPECT_EQ(vxs::URLDecode("a+b%41tail", 6), "a bA");
    EXPECT_EQ(vxs::URLDecode(nullptr, 4), "");
}

}  // namespace
