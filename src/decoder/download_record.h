// Framing of the records on the chunked download connection: a 4-byte
// little-endian length L (1 + payload length), one type byte, then L - 1
// payload bytes. A record is L + 4 bytes long.
//
// Threading: pure functions over caller-owned bytes, callable from any thread.
#ifndef VXS_DECODER_DOWNLOAD_RECORD_H
#define VXS_DECODER_DOWNLOAD_RECORD_H

#include <cstddef>
#include <cstdint>

namespace vxs {

constexpr size_t DOWNLOAD_RECORD_HEADER_BYTES = 4;
// Header plus type byte: where the payload starts.
constexpr size_t DOWNLOAD_RECORD_PAYLOAD_OFFSET = 5;
// Largest L accepted. The length comes off the network; anything larger is
// treated as a broken stream instead of being buffered or allocated.
constexpr uint64_t DOWNLOAD_RECORD_MAX_LENGTH = 1024 * 1024;

enum DownloadRecordType : uint8_t {
    DOWNLOAD_RECORD_PARTIAL = 0xF0,  // JSON, partial result
    DOWNLOAD_RECORD_FINAL = 0xF1,    // JSON, final result of the utterance
    DOWNLOAD_RECORD_THIRD = 0xF2,    // binary, passed on unread
    DOWNLOAD_RECORD_END = 0xF3,      // no payload, end of the answers
    DOWNLOAD_RECORD_NLU = 0xF5,      // binary, language-understanding result
    DOWNLOAD_RECORD_VP_RES = 0xF9,   // binary, voice-print result
};

enum DownloadRecordFrame {
    DOWNLOAD_RECORD_NEED_MORE,  // the record is not complete yet
    DOWNLOAD_RECORD_COMPLETE,   // a whole record is at the head of the bytes
    DOWNLOAD_RECORD_INVALID,    // L is 0 or above the maximum: a protocol error
};

// The length field L of the header at `bytes` (at least 4 bytes).
uint32_t read_download_record_length(const uint8_t* bytes);

// Looks at the record at the head of `available` bytes. On COMPLETE,
// `recordSize` (if not null) is its whole size, header included. A length is
// judged as soon as the header is there, so an invalid one never waits for
// more bytes.
DownloadRecordFrame frame_download_record(const uint8_t* bytes, size_t available,
                                          size_t* recordSize);

}  // namespace vxs

#endif  // VXS_DECODER_DOWNLOAD_RECORD_H
