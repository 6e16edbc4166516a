// Reading of the BroadVoice32 test vectors (raw little-endian PCM and packed frames).
#ifndef VXS_TESTS_BV32_BV32_VECTOR_IO_H
#define VXS_TESTS_BV32_BV32_VECTOR_IO_H

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bv32test {

inline std::string vectorPath(const std::string& name) { return std::string(BV32_VECTOR_DIR) + "/" + name; }

inline std::vector<uint8_t> readBytes(const std::string& name) {
    std::ifstream in(vectorPath(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<int16_t> readPcm(const std::string& name) {
    const std::vector<uint8_t> bytes = readBytes(name);
    std::vector<int16_t> pcm(bytes.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return pcm;
}

}  // namespace bv32test

#endif  // VXS_TESTS_BV32_BV32_VECTOR_IO_H
