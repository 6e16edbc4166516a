#include "core/uuid_factory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "core/platform_paths.h"
#include "temp_dir.h"

namespace {

using vxs::PlatformPaths;
using vxs::UUIDFactory;
using vxs_test::readFile;
using vxs_test::TempDir;
using vxs_test::writeFile;

bool isLowerHex(const std::string& text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c)))
            return false;
    return true;
}

TEST(GenerateUUID, IsUpperCaseEightFourFourFourTwelve) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = UUIDFactory::generateUUID();
        ASSERT_EQ(id.size(), 36u) << id;
        for (size_t pos = 0; pos < id.size(); ++pos) {
            if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
                EXPECT_EQ(id[pos], '-') << id;
            } else {
                const unsigned char c = static_cast<unsigned char>(id[pos]);
                EXPECT_TRUE(std::isxdigit(c) && !std::islower(c)) << id;
            }
        }
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

// The identity lives in the library data path; each test gives it a fresh
// directory and restores the empty path afterwards.
class IdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        PlatformPaths::setWriteableLibraryDataPath(dir.path() + "/");
    }
    void TearDown() override { PlatformPaths::setWriteableLibraryDataPath(""); }

    std::string identityFile() const { return dir.file("VXS_Ident.dat"); }
    TempDir dir;
};

TEST_F(IdentityTest, PersistsInTheLibraryDataPath) {
    EXPECT_EQ(UUIDFactory::identityFilePath(), identityFile());
    const std::string first = UUIDFactory::getIdentity();
    ASSERT_EQ(first.size(), 32u);
    EXPECT_TRUE(isLowerHex(first)) << first;
    EXPECT_EQ(UUIDFactory::getIdentity(), first);
    EXPECT_EQ(readFile(identityFile()), first);
}

TEST_F(IdentityTest, StoredValueIsReusedAndBadFilesAreReplaced) {
    const std::string stored = "0123456789abcdef0123456789ABCDEF";
    writeFile(identityFile(), stored + "trailing bytes are not read");
    EXPECT_EQ(UUIDFactory::getIdentity(), stored);

    for (const std::string& bad : {std::string("short"), std::string(32, '\0'),
                                   std::string("0123456789abcdef\0" "123456789abcde", 32)}) {
        writeFile(identityFile(), bad);
        const std::string fresh = UUIDFactory::getIdentity();
        EXPECT_EQ(fresh.size(), 32u);
        EXPECT_TRUE(isLowerHex(fresh));
        EXPECT_EQ(readFile(identityFile()), fresh);
    }
}

TEST_F(IdentityTest, DirectoryWithoutTrailingSlashStillHoldsTheFile) {
    PlatformPaths::setWriteableLibraryDataPath(dir.path());
    const std::string identity = UUIDFactory::getIdentity();
    EXPECT_EQ(readFile(identityFile()), identity);
}

TEST_F(IdentityTest, UnwritablePathGivesAFreshIdentityEachCall) {
    PlatformPaths::setWriteableLibraryDataPath(dir.file("missing/"));
    const std::string first = UUIDFactory::getIdentity();
    const std::string second = UUIDFactory::getIdentity();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(second.size(), 32u);
    EXPECT_NE(first, second);
}

TEST(PlatformPathsTest, EachPathIsKeptSeparately) {
    PlatformPaths::setWriteableTempPath("/tmp/t/");
    PlatformPaths::setWriteableLibraryDataPath("/var/lib/l/");
    PlatformPaths::setWriteableUserDataPath("/home/u/");
    EXPECT_EQ(PlatformPaths::getWriteableTempPath(), "/tmp/t/");
    EXPECT_EQ(PlatformPaths::getWriteableLibraryDataPath(), "/var/lib/l/");
    EXPECT_EQ(PlatformPaths::getWriteableUserDataPath(), "/home/u/");
    for (auto setter : {&PlatformPaths::setWriteableTempPath, &PlatformPaths::setWriteableLibraryDataPath,
                        &PlatformPaths::setWriteableUserDataPath})
        setter("");
    EXPECT_EQ(PlatformPaths::getWriteableTempPath(), "");
    EXPECT_EQ(PlatformPaths::getWriteableLibraryDataPath(), "");
    EXPECT_EQ(PlatformPaths::getWriteableUserDataPath(), "");
}

}  // namespace
