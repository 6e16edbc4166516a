#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <zlib.h>

#include "net/gzip_compressor.h"
#include "support/test_ca.h"

namespace {

using vxs::zipCompressor;

// Restores a gzip stream with zlib's own reader; `members` counts the complete
// gzip members found. Empty result and members = -1 on a corrupt stream.
std::string gunzip(const std::string& gz, int& members) {
    members = 0;
    std::string out;
    size_t offset = 0;
    while (offset < gz.size()) {
        z_stream stream{};
        if (inflateInit2(&stream, 31) != Z_OK) break;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data() + offset));
        stream.avail_in = static_cast<uInt>(gz.size() - offset);
        int status = Z_OK;
        char buffer[16384];
        while (status == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            status = inflate(&stream, Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        }
        offset = gz.size() - stream.avail_in;
        inflateEnd(&stream);
        if (status != Z_STREAM_END) {
            members = -1;
            return std::string();
        }
        ++members;
    }
    return out;
}

std::string compress_whole(const std::string& input) {
    size_t length = 0;
    zipCompressor::CompressError error = zipCompressor::COMPRESS_DEFLATE_FAILED;
    auto result = zipCompressor::compressData(input.data(), input.size(), length, error);
    EXPECT_EQ(error, zipCompressor::COMPRESS_OK);
    if (!result) return std::string();
    return std::string(result.getPTR(), length);
}

std::string noise(size_t length) {
    std::mt19937 generator(7);
    std::string text(length, '\0');
    for (char& c : text) c = static_cast<char>(generator());
    return text;
}

TEST(GzipCompressorTest, EmptyInputIsRefused) {
    size_t length = 99;
    zipCompressor::CompressError error = zipCompressor::COMPRESS_OK;
    EXPECT_FALSE(zipCompressor::compressData("x", 0, length, error));
    EXPECT_EQ(error, zipCompressor::COMPRESS_EMPTY_INPUT);
    EXPECT_EQ(length, 0u);
}

TEST(GzipCompressorTest, EveryInputBecomesOneMemberThatZlibRestores) {
    const std::string json = R"({"sn":"0f3c","pid":"1","rate":16000,"key":"abc"})";
    const std::string inputs[] = {
        "x", "ab", json, std::string(3 * 1024 * 1024, '\0'),  // output far below half the input
        noise(200 * 1024),                                        // output above half the input
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE("input of " + std::to_string(input.size()) + " bytes");
        const std::string gz = compress_whole(input);
        ASSERT_GE(gz.size(), 18u);  // gzip header and trailer
        EXPECT_EQ(static_cast<unsigned char>(gz[0]), 0x1f);
        EXPECT_EQ(static_cast<unsigned char>(gz[1]), 0x8b);
        int members = 0;
        EXPECT_EQ(gunzip(gz, members), input);
        EXPECT_EQ(members, 1);
    }
}

TEST(GzipCompressorTest, AStreamKeptBetweenMembersGivesTheBytesOfAFreshOne) {
    const std::string json = R"({"idx":"-7","rate":16000,"key":"abc"})";
    auto fresh = zipCompressor::compressor();
    ASSERT_TRUE(fresh);
    size_t length = 0;
    zipCompressor::CompressError error = zipCompressor::COMPRESS_DEFLATE_FAILED;
    auto member = fresh->compressBytes(json.data(), json.size(), length, true, error);
    ASSERT_TRUE(member);
    const std::string expected(member.getPTR(), length);

    // Members in between leave nothing behind in the thread's kept stream.
    EXPECT_EQ(compress_whole(json), expected);
    compress_whole(noise(64 * 1024));
    EXPECT_EQ(compress_whole(json), expected);
}

TEST(GzipCompressorTest, GzipToolRestoresTheMember) {
    vxs_test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string input = "{\"text\":\"" + std::string(5000, 'a') + "\"}" + noise(3000);
    const std::string gz = compress_whole(input);
    const std::string packed = dir.file("doc.gz");
    FILE* file = std::fopen(packed.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(gz.data(), 1, gz.size(), file), gz.size());
    std::fclose(file);

    const std::string command = "gzip -dc '" + packed + "' > '" + dir.file("doc") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    file = std::fopen(dir.file("doc").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::string restored;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) restored.append(buffer, got);
    std::fclose(file);
    EXPECT_EQ(restored, input);
}

TEST(GzipCompressorTest, StreamFedInPiecesEndsInOneMember) {
    auto compressor = zipCompressor::compressor();
    ASSERT_TRUE(compressor);
    const std::string input = noise(50000) + std::string(70000, 'q');
    std::string gz;
    const size_t piece = 7001;
    for (size_t offset = 0; offset < input.size(); offset += piece) {
        const size_t length = std::min(piece, input.size() - offset);
        const bool finish = offset + length == input.size();
        size_t produced = 0;
        zipCompressor::CompressError error = zipCompressor::COMPRESS_DEFLATE_FAILED;
        auto out = compressor->compressBytes(input.data() + offset, length, produced, finish, error);
        ASSERT_EQ(error, zipCompressor::COMPRESS_OK);
        if (produced > 0) gz.append(out.getPTR(), produced);
    }
    int members = 0;
    EXPECT_EQ(gunzip(gz, members), input);
    EXPECT_EQ(members, 1);

    // After the finish the stream is spent until it is set up again.
    size_t produced = 0;
    zipCompressor::CompressError error = zipCompressor::COMPRESS_OK;
    compressor->compressBytes("more", 4, produced, true, error);
    EXPECT_NE(error, zipCompressor::COMPRESS_OK);
    ASSERT_EQ(compressor->setupStream(), Z_OK);
    auto again = compressor->compressBytes("more", 4, produced, true, error);
    ASSERT_EQ(error, zipCompressor::COMPRESS_OK);
    EXPECT_EQ(gunzip(std::string(again.getPTR(), produced), members), "more");
}

}  // namespace
