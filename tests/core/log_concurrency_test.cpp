#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "temp_dir.h"

namespace {

using vxs::LogFile;
using vxs_test::readFile;
using vxs_test::TempDir;

class LogConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }
    void TearDown() override {
        vxs::set_log_level(0);
        LogFile::close_log_file();
    }
    TempDir dir;
};

// Counts the lines "<writer> <index> <padding>" of a log text; false for any
// line that is not whole (interleaved or cut).
bool countLines(const std::string& text, std::map<std::string, int>& seen) {
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = text.substr(start, nl - start);
        const size_t bracket = line.rfind(']');
        if (bracket == std::string::npos) return false;
        const std::string body = line.substr(bracket + 1);
        if (body.size() != 200 || body.compare(body.size() - 10, 10, "..........") != 0) return false;
        ++seen[body.substr(0, body.find(' ', 3))];
    }
    return start == text.size();
}

TEST_F(LogConcurrencyTest, WritersKeepEveryLineWholeAcrossRotation) {
    const std::string path = dir.file("shared.log");
    ASSERT_TRUE(LogFile::open_log_file(path.c_str(), 1));
    vxs::set_log_level(6);
    // Four writers produce about 1.3 of the limit: exactly one rotation.
    constexpr int kWriters = 4;
    constexpr int kLinesEach = 650;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([w] {
            for (int i = 0; i < kLinesEach; ++i) {
                char body[201];
                const int head = std::snprintf(body, sizeof body, "w%d %05d ", w, i);
                std::string line(body, static_cast<size_t>(head));
                line.resize(200, '.');
                VXS_LOG_INFO("%s", line.c_str());
            }
        });
    }
    for (std::thread& t : writers) t.join();

    std::map<std::string, int> seen;
    ASSERT_TRUE(countLines(readFile(path + ".bak"), seen));
    ASSERT_TRUE(countLines(readFile(path), seen));
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kLinesEach; i += 97) {
            char key[32];
            std::snprintf(key, sizeof key, "w%d %05d", w, i);
            EXPECT_EQ(seen[key], 1) << key;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLinesEach));
}

TEST_F(LogConcurrencyTest, CloseAndReopenWhileOthersLog) {
    vxs::set_log_level(6);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    ::testing::internal::CaptureStderr();  // lines logged while closed go to standard error
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&stop] {
            while (!stop.load()) VXS_LOG_DEBUG("busy %s", "line");
        });
    }
    const std::string path = dir.file("churn.log");
    for (int round = 0; round < 200; ++round) {
        LogFile::open_log_file(path.c_str(), 1);
        LogFile::close_log_file();
    }
    stop.store(true);
    for (std::thread& t : writers) t.join();
    ::testing::internal::GetCapturedStderr();

    const std::string text = readFile(path);
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        EXPECT_EQ(text.compare(nl - 9, 9, "busy line"), 0);
}

}  // namespace
