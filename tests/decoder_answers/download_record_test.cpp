#include "decoder/download_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "answer_fixtures.h"

namespace {

using answers_test::record;
using answers_test::record_with_length;

struct FrameCase {
    const char* name;
    std::string bytes;
    vxs::DownloadRecordFrame expected;
    size_t size;  // whole record size when complete
};

TEST(DownloadRecordFrame, JudgesTheHeaderBeforeWaitingForThePayload) {
    const std::string end = record(0xF3, "");
    const std::string partial = record(0xF0, "{\"err_no\":0}");
    const std::vector<FrameCase> cases = {
        {"no bytes", "", vxs::DOWNLOAD_RECORD_NEED_MORE, 0},
        {"three header bytes", end.substr(0, 3), vxs::DOWNLOAD_RECORD_NEED_MORE, 0},
        {"end record", end, vxs::DOWNLOAD_RECORD_COMPLETE, 5},
        {"payload not all there", partial.substr(0, partial.size() - 1),
         vxs::DOWNLOAD_RECORD_NEED_MORE, 0},
        {"record followed by the next", partial + end, vxs::DOWNLOAD_RECORD_COMPLETE,
         partial.size()},
        {"zero length", record_with_length(0, 0xF0, "x"), vxs::DOWNLOAD_RECORD_INVALID, 0},
        {"largest length, header only", record_with_length(1024 * 1024, 0xF0, ""),
         vxs::DOWNLOAD_RECORD_NEED_MORE, 0},
        {"one past the largest", record_with_length(1024 * 1024 + 1, 0xF0, ""),
         vxs::DOWNLOAD_RECORD_INVALID, 0},
        // 0xFFFFFFFC + 4 wraps to 0 in 32 bits; 0x7FFFFFFC + 4 is negative as int.
        {"wraps in 32 bits", record_with_length(0xFFFFFFFCu, 0xF0, ""),
         vxs::DOWNLOAD_RECORD_INVALID, 0},
        {"negative as int", record_with_length(0x7FFFFFFCu, 0xF0, ""), vxs::DOWNLOAD_RECORD_INVALID,
         0},
        {"all ones", record_with_length(0xFFFFFFFFu, 0xF0, ""), vxs::DOWNLOAD_RECORD_INVALID, 0},
    };
    for (const FrameCase& c : cases) {
        size_t size = 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(vxs::frame_download_record(bytes, c.bytes.size(), &size), c.expected) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
    }
}

TEST(DownloadRecordFrame, LargestRecordIsAccepted) {
    std::string bytes = record(0xF2, std::string(1024 * 1024 - 1, 'b'));
    size_t size = 0;
    EXPECT_EQ(vxs::frame_download_record(reinterpret_cast<const uint8_t*>(bytes.data()),
                                         bytes.size(), &size),
              vxs::DOWNLOAD_RECORD_COMPLETE);
    EXPECT_EQ(size, 1024u * 1024u + 4u);
}

TEST(DownloadRecordFrame, LengthIsLittleEndian) {
    const uint8_t header[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(vxs::read_download_record_length(header), 0x04030201u);
    EXPECT_EQ(vxs::frame_download_record(nullptr, 10, nullptr), vxs::DOWNLOAD_RECORD_NEED_MORE);
}

}  // namespace
