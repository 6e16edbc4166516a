// Incremental reader of the upload stream of the chunked protocol: packets of
// a 4-byte little-endian length (the type byte plus the payload), one type
// byte and the payload, arriving in pieces of any size.
//
// Threading: one reader per upload, used by one thread at a time.
#ifndef VXS_SERVICE_REFSERVICE_TLV_STREAM_H
#define VXS_SERVICE_REFSERVICE_TLV_STREAM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vxs {
namespace refservice {

enum UploadPacketType : uint8_t {
    kPacketParam = 0,
    kPacketAudio = 1,
    kPacketThirdData = 2,
    kPacketFinish = 3,
    kPacketCancel = 4,
    kPacketRealtimeData = 5,
};

// Largest packet accepted; the client's packets are a few kilobytes.
constexpr uint32_t kMaxPacketLength = 1u << 20;

class TlvStreamReader {
public:
    // Called once per whole packet; returning false stops the reader.
    using PacketHandler = std::function<bool(uint8_t type, const uint8_t* payload, size_t size)>;

    explicit TlvStreamReader(PacketHandler handler) : m_handler(std::move(handler)) {}

    // Appends bytes and hands on every packet they complete. False once the
    // stream is malformed (a length of 0 or above kMaxPacketLength) or the
    // handler refused a packet; `error()` then says why and later input is
    // refused.
    bool feed(const uint8_t* data, size_t size);
    // Bytes of an unfinished packet held back.
    size_t pending() const { return m_buffer.size() - m_offset; }
    const std::string& error() const { return m_error; }

private:
    bool drain();

    PacketHandler m_handler;
    std::string m_buffer;
    size_t m_offset = 0;
    std::string m_error;
    bool m_failed = false;
};

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_TLV_STREAM_H
