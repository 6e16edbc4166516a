#include "stream_decoder.h"

#include <cstring>

#include "audio/audio_compression_type.h"

extern "C" {
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrwb/dec_if.h>
}

#ifdef VXS_HAVE_BV32
#include "audio/codec/bv32/bv32.h"
#endif

namespace vxs {
namespace codec_io {

namespace {

constexpr size_t kBv32PackedBytes = 20;
constexpr size_t kBv32FrameSamples = 80;
constexpr size_t kNarrowbandFrameSamples = 160;
constexpr size_t kWidebandFrameSamples = 320;
constexpr int kInvalidFrameType = -1;

// Bytes after the frame-type byte for each frame type of the storage format;
// kInvalidFrameType marks types no encoder writes. NB: 0-7 speech, 8 SID,
// 15 no data. WB: 0-8 speech, 9 SID, 14 speech lost, 15 no data.
const int kNarrowbandPayloadBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, -1, -1, -1, -1, -1, -1, 0};
const int kWidebandPayloadBytes[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};

}  // namespace

StreamDecoder::~StreamDecoder() { close(); }

void StreamDecoder::close() {
    if (m_amrState != nullptr) {
        if (m_amrNarrowband) {
            Decoder_Interface_exit(m_amrState);
        } else {
            D_IF_exit(m_amrState);
        }
        m_amrState = nullptr;
    }
#ifdef VXS_HAVE_BV32
    delete static_cast<bv32::Decoder*>(m_bv32Decoder);
#endif
    m_bv32Decoder = nullptr;
    m_frames = 0;
}

bool StreamDecoder::open(const StreamFormat& format, std::string* error) {
    close();
    m_format = StreamFormat();
    if (format.sampleRate != 8000 && format.sampleRate != 16000) {
        *error = "unsupported sample rate " + std::to_string(format.sampleRate);
        return false;
    }
    if (!createCodec(format, error)) return false;
    m_format = format;  // only a usable codec makes the decoder open
    return true;
}

bool StreamDecoder::createCodec(const StreamFormat& format, std::string* error) {
    switch (format.compressionType) {
        case EVR_AUDIO_COMPRESSION_PCM:
            return true;
        case EVR_AUDIO_COMPRESSION_BV32:
#ifdef VXS_HAVE_BV32
            m_bv32Decoder = new bv32::Decoder();
            return true;
#else
            *error = "BroadVoice32 decoder not built";
            return false;
#endif
        case EVR_AUDIO_COMPRESSION_AMR:
            m_amrNarrowband = format.sampleRate == 8000;
            m_amrState = m_amrNarrowband ? Decoder_Interface_init() : D_IF_init();
            if (m_amrState == nullptr) *error = "AMR decoder cannot be created";
            return m_amrState != nullptr;
        default:
            *error = "unknown compression type " + std::to_string(format.compressionType);
            return false;
    }
}

bool StreamDecoder::decodeFrames(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error) {
    if (size == 0) return true;
    if (data == nullptr) {
        *error = "no data";
        return false;
    }
    switch (m_format.compressionType) {
        case EVR_AUDIO_COMPRESSION_PCM:
            return decodePcm(data, size, pcm, error);
        case EVR_AUDIO_COMPRESSION_BV32:
            return decodeBv32(data, size, pcm, error);
        case EVR_AUDIO_COMPRESSION_AMR:
            return decodeAmr(data, size, pcm, error);
        default:
            *error = "decoder not open";
            return false;
    }
}

bool StreamDecoder::decodePcm(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error) {
    const size_t samples = size / 2;
    const size_t first = pcm->size();
    pcm->resize(first + samples);
    if (samples > 0) std::memcpy(pcm->data() + first, data, samples * 2);
    m_frames += static_cast<long>(samples);
    if (size % 2 != 0) {
        *error = "odd number of PCM bytes";
        return false;
    }
    return true;
}

bool StreamDecoder::decodeBv32(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error) {
#ifdef VXS_HAVE_BV32
    auto* decoder = static_cast<bv32::Decoder*>(m_bv32Decoder);
    int16_t samples[kBv32FrameSamples];
    size_t offset = 0;
    for (; offset + kBv32PackedBytes <= size; offset += kBv32PackedBytes) {
        decoder->decodeFrame(data + offset, samples);
        pcm->insert(pcm->end(), samples, samples + kBv32FrameSamples);
        ++m_frames;
    }
    if (offset != size) {
        *error = "truncated BroadVoice32 frame";
        return false;
    }
    return true;
#else
    (void)data;
    (void)size;
    (void)pcm;
    *error = "BroadVoice32 decoder not built";
    return false;
#endif
}

bool StreamDecoder::decodeAmr(const uint8_t* data, size_t size, std::vector<int16_t>* pcm, std::string* error) {
    const bool narrowband = m_format.sampleRate == 8000;
    const int* payloadBytes = narrowband ? kNarrowbandPayloadBytes : kWidebandPayloadBytes;
    const size_t frameSamples = narrowband ? kNarrowbandFrameSamples : kWidebandFrameSamples;
    int16_t samples[kWidebandFrameSamples];
    size_t offset = 0;
    while (offset < size) {
        const int frameType = (data[offset] >> 3) & 0x0F;
        const int payload = payloadBytes[frameType];
        if (payload == kInvalidFrameType) {
            *error = "invalid AMR frame type " + std::to_string(frameType) + " at byte " + std::to_string(offset);
            return false;
        }
        if (size - offset < 1 + static_cast<size_t>(payload)) {
            *error = "truncated AMR frame at byte " + std::to_string(offset);
            return false;
        }
        if (narrowband) {
            Decoder_Interface_Decode(m_amrState, data + offset, samples, 0);
        } else {
            D_IF_decode(m_amrState, data + offset, samples, 0);
        }
        pcm->insert(pcm->end(), samples, samples + frameSamples);
        ++m_frames;
        offset += 1 + static_cast<size_t>(payload);
    }
    return true;
}

bool decodeStream(const uint8_t* data, size_t size, StreamFormat* format, std::vector<int16_t>* pcm,
                  long* frames, std::string* error) {
    *frames = 0;
    if (!readStreamHeader(data, size, format, error)) return false;
    StreamDecoder decoder;
    if (!decoder.open(*format, error)) return false;
    const bool ok = decoder.decodeFrames(data + kStreamHeaderBytes, size - kStreamHeaderBytes, pcm, error);
    *frames = decoder.framesDecoded();
    return ok;
}

}  // namespace codec_io
}  // namespace vxs
