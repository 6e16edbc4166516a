#include "tlv_stream.h"

namespace vxs {
namespace refservice {

namespace {

uint32_t read_le32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool TlvStreamReader::feed(const uint8_t* data, size_t size) {
    if (m_failed) return false;
    if (size > 0) m_buffer.append(reinterpret_cast<const char*>(data), size);
    return drain();
}

bool TlvStreamReader::drain() {
    while (m_buffer.size() - m_offset >= 4) {
        const uint8_t* head = reinterpret_cast<const uint8_t*>(m_buffer.data()) + m_offset;
        const uint32_t length = read_le32(head);
        if (length == 0 || length > kMaxPacketLength) {
            m_failed = true;
            m_error = "bad packet length " + std::to_string(length);
            return false;
        }
        if (m_buffer.size() - m_offset - 4 < length) break;
        const uint8_t type = head[4];
        if (!m_handler(type, head + 5, length - 1)) {
            m_failed = true;
            if (m_error.empty()) m_error = "packet refused";
            return false;
        }
        m_offset += 4 + static_cast<size_t>(length);
    }
    // Compact once the consumed prefix dominates, so the buffer stays small.
    if (m_offset > 0 && m_offset * 2 >= m_buffer.size()) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    return true;
}

}  // namespace refservice
}  // namespace vxs
