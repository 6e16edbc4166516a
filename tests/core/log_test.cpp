#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <string>
#include <vector>

#include "core/file_util.h"
#include "temp_dir.h"

namespace {

using vxs::LogFile;
using vxs_test::readFile;
using vxs_test::TempDir;
using vxs_test::writeFile;

constexpr size_t kRotationBytes = 524288;

// Every test leaves the process-wide log state as it found it: level 0, no file.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }
    void TearDown() override {
        vxs::set_log_level(0);
        LogFile::close_log_file();
    }

    std::string openLog(const char* name, int units = 0) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(LogFile::open_log_file(path.c_str(), units));
        return path;
    }

    static void logAtEveryLevel() {
        VXS_LOG_FATAL("fatal %d", 1);
        VXS_LOG_ERROR("error %d", 2);
        VXS_LOG_WARN("warn %d", 3);
        VXS_LOG_INFO("info %d", 4);
        VXS_LOG_DEBUG("debug %d", 5);
        VXS_LOG_TRACE("trace %d", 6);
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            out.push_back(text.substr(start, nl - start));
        return out;
    }

    TempDir dir;
};

TEST_F(LogTest, LevelSelectsWhichLinesAreWritten) {
    EXPECT_EQ(vxs::get_current_log_level(), 0);  // the process starts (and every test ends) at 0
    const std::string path = openLog("level.log");
    struct Case {
        int level;
        std::vector<std::string> tags;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {3, {"FATAL", "ERROR", "WARN"}},
        {6, {"FATAL", "ERROR", "WARN", "INFO", "DEBUG", "TRACE"}},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        vxs::set_log_level(c.level);
        logAtEveryLevel();
        const std::vector<std::string> all = lines(readFile(path));
        ASSERT_EQ(all.size() - seen, c.tags.size()) << "level " << c.level;
        for (size_t i = 0; i < c.tags.size(); ++i)
            EXPECT_EQ(all[seen + i].rfind("[" + c.tags[i] + "]-[", 0), 0u) << all[seen + i];
        seen = all.size();
    }
}

// Whether `text` has the shape of `mask`, where "9" stands for any digit.
bool matchesMask(const std::string& text, const std::string& mask) {
    if (text.size() != mask.size()) return false;
    for (size_t i = 0; i < mask.size(); ++i) {
        const bool ok = mask[i] == '9' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                                       : text[i] == mask[i];
        if (!ok) return false;
    }
    return true;
}

TEST_F(LogTest, LineCarriesTagTimeFileAndLine) {
    const std::string path = openLog("format.log");
    vxs::set_log_level(6);
    VXS_LOG_INFO("hello %s", "world");
    const int expectedLine = __LINE__ - 1;
    const std::string text = readFile(path);
    const std::string head = "[INFO]-[";
    const std::string tail = "][log_test.cpp:" + std::to_string(expectedLine) + "]hello world\n";
    ASSERT_EQ(text.size(), head.size() + 23 + tail.size()) << text;
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_TRUE(matchesMask(text.substr(head.size(), 23), "9999-99-99 99:99:99.999")) << text;
    EXPECT_EQ(text.substr(head.size() + 23), tail);
}

TEST_F(LogTest, PercentSignsReachTheFileUnchanged) {
    const std::string path = openLog("percent.log");
    vxs::set_log_level(6);
    const std::string remote = "100% done %s %n %d%%";
    VXS_LOG_ERROR("%s", remote.c_str());
    LogFile::log("raw 50% %s %n\n");
    const std::vector<std::string> all = lines(readFile(path));
    ASSERT_EQ(all.size(), 2u);
    const std::string tail = "]" + remote;
    ASSERT_GE(all[0].size(), tail.size());
    EXPECT_EQ(all[0].substr(all[0].size() - tail.size()), tail);
    EXPECT_EQ(all[1], "raw 50% %s %n");
}

TEST_F(LogTest, OverlongMessageIsTruncatedToOneLine) {
    const std::string path = openLog("long.log");
    vxs::set_log_level(6);
    const std::string huge(50000, 'x');
    VXS_LOG_DEBUG("body: %s", huge.c_str());
    VXS_LOG_DEBUG("after");
    const std::vector<std::string> all = lines(readFile(path));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].size() + 1, 10239u);  // the line buffer, less its terminator
    EXPECT_EQ(all[0].back(), 'x');
    EXPECT_NE(all[1].find("]after"), std::string::npos);
}

TEST_F(LogTest, FileRotatesAtItsLimitIntoBak) {
    const std::string path = openLog("rot.log", 1);
    const std::string bak = path + ".bak";
    writeFile(bak, "older backup");
    const std::string block = std::string(1023, 'a') + "\n";
    for (size_t written = 0; written < kRotationBytes; written += block.size())
        LogFile::log(block.c_str());
    EXPECT_EQ(readFile(path).size(), kRotationBytes);  // not yet over: rotation is checked on the next line

    LogFile::log("first after rotation\n");
    const std::string old = readFile(bak);
    EXPECT_EQ(old.size(), kRotationBytes);
    EXPECT_EQ(old.substr(0, block.size()), block);
    EXPECT_EQ(readFile(path), "first after rotation\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, LimitZeroNeverRotates) {
    const std::string path = openLog("unlimited.log", 0);
    const std::string block(4096, 'b');
    for (size_t written = 0; written <= kRotationBytes; written += block.size())
        LogFile::log(block.c_str());
    EXPECT_GT(readFile(path).size(), kRotationBytes);
    EXPECT_EQ(vxs::get_file_size((path + ".bak").c_str()), -1);
}

TEST_F(LogTest, SecondOpenWhileOpenIsIgnored) {
    const std::string first = openLog("first.log");
    const std::string second = dir.file("second.log");
    EXPECT_TRUE(LogFile::open_log_file(second.c_str(), 1));
    LogFile::log("line\n");
    EXPECT_EQ(readFile(first), "line\n");
    EXPECT_EQ(vxs::get_file_size(second.c_str()), -1);

    LogFile::close_log_file();
    openLog("second.log");
    LogFile::log("again\n");
    EXPECT_EQ(readFile(second), "again\n");
    EXPECT_EQ(readFile(first), "line\n");
}

TEST_F(LogTest, OpenTruncatesAndRestrictsAnExistingFile) {
    const std::string path = dir.file("old.log");
    writeFile(path, "stale content\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    openLog("old.log");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(LogTest, UnusableFileOrSizeLeavesOutputOnStandardError) {
    const std::string missingDir = dir.file("no/such/dir.log");
    EXPECT_FALSE(LogFile::open_log_file(missingDir.c_str(), 1));
    EXPECT_FALSE(LogFile::open_log_file(dir.file("neg.log").c_str(), -1));
    EXPECT_FALSE(LogFile::open_log_file(dir.file("big.log").c_str(), 4096));
    EXPECT_FALSE(LogFile::open_log_file(nullptr, 1));
    EXPECT_EQ(vxs::get_file_size(dir.file("neg.log").c_str()), -1);

    vxs::set_log_level(2);
    ::testing::internal::CaptureStderr();
    VXS_LOG_ERROR("to stderr %d", 7);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("]to stderr 7\n"), std::string::npos) << err;

    // A failed open does not block a later one.
    openLog("later.log", 4095);
    LogFile::log("x\n");
    EXPECT_EQ(readFile(dir.file("later.log")), "x\n");
}

TEST(LogFileName, IsThePartAfterTheLastSlash) {
    EXPECT_STREQ(vxs::get_file_name("/a/b/c.cpp"), "c.cpp");
    EXPECT_STREQ(vxs::get_file_name("c.cpp"), "c.cpp");
    EXPECT_STREQ(vxs::get_file_name("dir/"), "");
    EXPECT_STREQ(vxs::get_file_name(nullptr), "");
}

}  // namespace
