#include "decoder/download_record.h"

namespace vxs {

uint32_t read_download_record_length(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

DownloadRecordFrame frame_download_record(const uint8_t* bytes, size_t available,
                                          size_t* recordSize) {
    if (bytes == nullptr || available < DOWNLOAD_RECORD_HEADER_BYTES)
        return DOWNLOAD_RECORD_NEED_MORE;
    // 64-bit so that a length near 2^32 cannot wrap the record size.
    const uint64_t length = read_download_record_length(bytes);
    if (length == 0 || length > DOWNLOAD_RECORD_MAX_LENGTH) return DOWNLOAD_RECORD_INVALID;
    const uint64_t size = length + DOWNLOAD_RECORD_HEADER_BYTES;
    if (static_cast<uint64_t>(available) < size) return DOWNLOAD_RECORD_NEED_MORE;
    if (recordSize) *recordSize = static_cast<size_t>(size);
    return DOWNLOAD_RECORD_COMPLETE;
}

}  // namespace vxs
