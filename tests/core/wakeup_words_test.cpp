#include "core/wakeup_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

using vxs_test::TempDir;

// The file format stores every byte inverted.
std::string invert(const std::string& text) {
    std::string stored;
    for (char c : text) stored.push_back(static_cast<char>(~static_cast<unsigned char>(c)));
    return stored;
}

TEST(WakeupWords, DecodesTheFirstLineIntoItsParts) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    using Words = std::vector<std::string>;
    struct Case {
        std::string plainText;
        Words expected;
    };
    const Case cases[] = {
        {"hello,hi there,\xe4\xbd\xa0\xe5\xa5\xbd\r\nignored,line\r\n", {"hello", "hi there", "\xe4\xbd\xa0\xe5\xa5\xbd"}},
        {"a,,b,\r\n", {"a", "", "b", ""}},
        {"\r\n", {""}},
        {"single\r\n", {"single"}},
        {"no line end", {}},
        {"only\n", {}},
        {"", {}},
        {std::string("cut\0,after\r\n", 12), {}},  // a decoded zero byte ends the text before "\r\n"
        {std::string("w1,w2\r\n\0rest", 12), {"w1", "w2"}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("words.dat");
        vxs_test::writeFile(path, invert(c.plainText));
        Words words = {"kept"};
        vxs::decode_wakeup_words(path, words);
        Words expected = {"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(words, expected) << c.plainText;
    }
}

TEST(WakeupWords, MissingFileAppendsNothing) {
    std::vector<std::string> words;
    vxs::decode_wakeup_words("/nonexistent/words.dat", words);
    vxs::decode_wakeup_words("", words);
    EXPECT_TRUE(words.empty());
}

}  // namespace
