#include "audio/audio_encoder_amr.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <opencore-amrnb/interf_enc.h>
#include <vo-amrwbenc/enc_if.h>
}

namespace vxs {

namespace {
constexpr int kNarrowbandFrameBytes = 320;  // 160 samples, 20 ms at 8000 Hz
constexpr int kWidebandFrameBytes = 640;    // 320 samples, 20 ms at 16000 Hz
constexpr int kWidebandMode = 4;            // 15.85 kbit/s
// Largest frame either interface can return (frame-type byte included):
// AMR-NB MR122 and AMR-WB 23.85 kbit/s.
constexpr int kNarrowbandMaxFrameBytes = 32;
constexpr int kWidebandMaxFrameBytes = 61;
constexpr int kDtxOff = 0;
}  // namespace

Memory::vxs_shared_ptr<AudioEncoderBase> AudioEncoderAMR::createEncoder(int sampleRate) {
    if (!isSupportedEncoderSampleRate(sampleRate)) return Memory::vxs_shared_ptr<AudioEncoderBase>();
    return Memory::vxs_shared_ptr<AudioEncoderBase>(new AudioEncoderAMR(sampleRate));
}

AudioEncoderAMR::AudioEncoderAMR(int sampleRate)
    : AudioEncoderBase(sampleRate, sampleRate == 8000 ? kNarrowbandFrameBytes : kWidebandFrameBytes),
      m_encoderHandle(nullptr),
      m_frameSamples() {}

AudioEncoderAMR::~AudioEncoderAMR() { encoderExit(); }

int AudioEncoderAMR::encoderInit() {
    encoderExit();
    m_encoderHandle = isNarrowband() ? Encoder_Interface_init(kDtxOff) : E_IF_init();
    if (m_encoderHandle == nullptr) return AUDIO_ENCODER_INIT_FAILED;
    m_isInitialized = true;
    m_waitingFirstAudio = true;
    return 0;
}

void AudioEncoderAMR::encoderExit() {
    m_isInitialized = false;
    if (m_encoderHandle == nullptr) return;
    if (isNarrowband()) {
        Encoder_Interface_exit(m_encoderHandle);
    } else {
        E_IF_exit(m_encoderHandle);
    }
    m_encoderHandle = nullptr;
}

int AudioEncoderAMR::maxEncodedBytes(int src_len) const {
    const int frames = src_len / m_frameSize_Bytes;
    const int perFrame = isNarrowband() ? kNarrowbandMaxFrameBytes : kWidebandMaxFrameBytes;
    return (m_waitingFirstAudio || !m_isInitialized ? kAudioEncoderHeaderBytes : 0) + frames * perFrame;
}

int AudioEncoderAMR::encodeFrame(uint8_t* dst) {
    if (isNarrowband()) return Encoder_Interface_Encode(m_encoderHandle, MR122, m_frameSamples, dst, 0);
    return E_IF_encode(m_encoderHandle, kWidebandMode, m_frameSamples, dst, kDtxOff);
}

int AudioEncoderAMR::encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) {
    if (!m_isInitialized) {
        const int rc = encoderInit();
        if (rc != 0) return rc;
    }
    if (src == nullptr || src_len == 0 || dst == nullptr || dst_len == 0) return 0;
    if (!isWholeFrames(src_len)) {
        fprintf(stderr, "ARM encoder fail, bad input length: %d\n", src_len);
        return AUDIO_ENCODER_BAD_LENGTH;
    }
    // The codec writes a whole frame without knowing the room left, so the
    // room for the worst case is checked before anything is coded.
    if (dst_len < maxEncodedBytes(src_len)) return AUDIO_ENCODER_NO_ROOM;

    int written = 0;
    if (m_waitingFirstAudio) {
        writeHeader(dst, isNarrowband() ? 3 : 7);
        written = kAudioEncoderHeaderBytes;
    }
    for (int offset = 0; offset < src_len; offset += m_frameSize_Bytes) {
        std::memcpy(m_frameSamples, src + offset, static_cast<size_t>(m_frameSize_Bytes));
        const int produced = encodeFrame(dst + written);
        if (produced > 0) written += produced;
    }
    return written;
}

}  // namespace vxs
