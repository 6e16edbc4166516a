#include "audio_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vxs_vad_tool {

namespace {

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool readWhole(const std::string& path, std::vector<unsigned char>* bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

void samplesFrom(const unsigned char* data, size_t bytes, std::vector<short>* out) {
    out->resize(bytes / 2);
    for (size_t i = 0; i < out->size(); ++i) (*out)[i] = static_cast<short>(le16(data + 2 * i));
}

const uint16_t kFormatPcm = 1;
const uint16_t kFormatExtensible = 0xFFFE;

bool parseWav(const std::vector<unsigned char>& b, Audio* audio, std::string* error) {
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        const uint32_t size = le32(&b[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = b.size() - body;
        if (std::memcmp(&b[pos], "fmt ", 4) == 0) {
            if (size < 16 || available < 16) break;
            const uint16_t format = le16(&b[body]);
            const uint16_t channels = le16(&b[body + 2]);
            const uint16_t bits = le16(&b[body + 14]);
            if ((format != kFormatPcm && format != kFormatExtensible) || channels != 1 || bits != 16) {
                *error = "only 16-bit mono PCM WAV files are supported";
                return false;
            }
            audio->sampleRate = static_cast<int>(le32(&b[body + 4]));
            haveFormat = true;
        } else if (std::memcmp(&b[pos], "data", 4) == 0) {
            if (!haveFormat) break;
            // A truncated file keeps what it holds.
            samplesFrom(&b[body], size < available ? size : available, &audio->samples);
            return true;
        }
        if (size > available) break;
        pos = body + size + (size & 1);
    }
    *error = "malformed WAV file (no format or data chunk)";
    return false;
}

}  // namespace

bool readAudioFile(const std::string& path, int requestedRate, Audio* audio, std::string* error) {
    std::vector<unsigned char> bytes;
    if (!readWhole(path, &bytes)) {
        *error = "cannot read " + path;
        return false;
    }
    const bool isWav = bytes.size() >= 12 && std::memcmp(&bytes[0], "RIFF", 4) == 0 &&
                       std::memcmp(&bytes[8], "WAVE", 4) == 0;
    if (isWav) {
        if (!parseWav(bytes, audio, error)) return false;
        if (requestedRate != 0 && requestedRate != audio->sampleRate) {
            *error = "--rate does not match the WAV file's rate";
            return false;
        }
    } else {
        if (requestedRate == 0) {
            *error = "raw PCM input needs --rate 8000 or --rate 16000";
            return false;
        }
        audio->sampleRate = requestedRate;
        samplesFrom(bytes.data(), bytes.size(), &audio->samples);
    }
    if (audio->sampleRate != 8000 && audio->sampleRate != 16000) {
        *error = "the sample rate must be 8000 or 16000 Hz";
        return false;
    }
    return true;
}

}  // namespace vxs_vad_tool
