// Decodes the frames of an encoded audio stream back to 16-bit PCM: PCM,
// BroadVoice32 (20 bytes per 80 samples), AMR-NB and AMR-WB (storage format,
// one frame-type byte then the frame's bits). Every frame's length is checked
// against the bytes present before a codec sees it, so any input is safe.
//
// Threading: a StreamDecoder is used by one thread at a time; separate
// decoders are independent.
#ifndef VXS_TOOLS_VXS_CODEC_STREAM_DECODER_H
#define VXS_TOOLS_VXS_CODEC_STREAM_DECODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream_format.h"

namespace vxs {
namespace codec_io {

class StreamDecoder {
public:
    StreamDecoder() = default;
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Prepares a fresh codec for `format`; false with a reason if the format
    // is unknown or its codec is not available (decodeFrames then refuses).
    bool open(const StreamFormat& format, std::string* error);
    // Decodes whole frames (no header) and appends their samples to `pcm`.
    // On a malformed or truncated frame it stops there and returns false with
    // a reason; the samples of the frames before it are kept.
    bool decodeFrames(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error);
    // Frames decoded since open.
    long framesDecoded() const { return m_frames; }

private:
    void close();
    bool createCodec(const StreamFormat& format, std::string* error);
    bool decodePcm(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error);
    bool decodeBv32(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error);
    bool decodeAmr(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error);

    StreamFormat m_format;
    void* m_amrState = nullptr;
    bool m_amrNarrowband = false;
    void* m_bv32Decoder = nullptr;
    long m_frames = 0;
};

// Decodes a whole stream: header, then frames. `format` receives what the
// header says even when the frames fail.
bool decodeStream(const uint8_t* data, size_t size, StreamFormat* format, std::vector<int16_t>* pcm,
                  long* frames, std::string* error);

}  // namespace codec_io
}  // namespace vxs

#endif  // VXS_TOOLS_VXS_CODEC_STREAM_DECODER_H
