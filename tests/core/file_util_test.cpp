#include "core/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "temp_dir.h"

namespace {

using vxs_test::TempDir;
using vxs_test::writeFile;

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileUtilTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }
    TempDir dir;
};

TEST_F(FileUtilTest, ReadsWholeBinaryFilesAndSizes) {
    std::string content;
    for (int i = 0; i < 3000; ++i) content.push_back(static_cast<char>(i * 7));  // zero bytes included
    const std::string path = dir.file("data.bin");
    writeFile(path, content);
    EXPECT_EQ(vxs::read_all_content(path), content);
    EXPECT_EQ(vxs::get_file_size(path.c_str()), 3000);

    writeFile(dir.file("empty"), "");
    EXPECT_EQ(vxs::read_all_content(dir.file("empty")), "");
    EXPECT_EQ(vxs::get_file_size(dir.file("empty").c_str()), 0);

    EXPECT_EQ(vxs::read_all_content(dir.file("missing")), "");
    EXPECT_EQ(vxs::read_all_content(""), "");
    EXPECT_EQ(vxs::get_file_size(dir.file("missing").c_str()), -1);
    EXPECT_EQ(vxs::get_file_size(nullptr), -1);
}

TEST_F(FileUtilTest, MkDirsCreatesEveryLevel) {
    const std::string nested = dir.file("a/b/c");
    EXPECT_EQ(vxs::mk_dirs(nested.c_str()), 0);
    EXPECT_TRUE(isDirectory(nested));
    struct stat st;
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0700, 0700u);  // 0775 less the umask: the owner can always use it

    EXPECT_EQ(vxs::mk_dirs((nested + "/").c_str()), 0);  // existing levels are fine
    EXPECT_EQ(vxs::mk_dirs(dir.file("a//d").c_str()), 0);
    EXPECT_TRUE(isDirectory(dir.file("a/d")));
}

TEST_F(FileUtilTest, MkDirsTakesRelativePathsFromTheCurrentDirectory) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const int result = vxs::mk_dirs("rel/one");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(isDirectory(dir.file("rel/one")));
}

TEST_F(FileUtilTest, MkDirsFailsWithMessage) {
    writeFile(dir.file("plain"), "x");
    struct Case {
        std::string path;
        std::string message;
    };
    const std::string overLong = dir.path() + "/" + std::string(300, 'n');
    const Case cases[] = {
        {dir.file("plain"), "make_dir [" + dir.file("plain") + "/] failed\n"},
        {dir.file("plain/sub"), "make_dir [" + dir.file("plain") + "/] failed\n"},
        {overLong, "make_dir [" + overLong + "/] failed\n"},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(vxs::mk_dirs(c.path.c_str()), 1) << c.path;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
    }
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(vxs::mk_dirs(nullptr), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "arg path is null\n");
}

TEST_F(FileUtilTest, MkDirsLimitIsTheWholePath) {
    // 255 bytes with the trailing "/" still fit; one more does not, and nothing is created.
    const std::string prefix = dir.path() + "/";
    const std::string fits = prefix + std::string(254 - prefix.size(), 'f');
    const std::string tooLong = prefix + std::string(255 - prefix.size(), 'g');
    EXPECT_EQ(vxs::mk_dirs(fits.c_str()), 0);
    EXPECT_TRUE(isDirectory(fits));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(vxs::mk_dirs(tooLong.c_str()), 1);
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(isDirectory(tooLong));
}

}  // namespace
