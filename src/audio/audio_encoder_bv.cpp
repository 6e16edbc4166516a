#include "audio/audio_encoder_bv.h"

#include <cstdio>
#include <cstring>
#include <new>

#ifdef VXS_HAVE_BV32
#include "audio/codec/bv32/bv32.h"
#endif

namespace vxs {

namespace {
constexpr int kBvFrameSamples = 80;
constexpr int kBvFrameBytes = kBvFrameSamples * 2;
constexpr int kBvPackedBytes = 20;
}  // namespace

Memory::vxs_shared_ptr<AudioEncoderBase> AudioEncoderBV::createEncoder(int sampleRate) {
    if (!isSupportedEncoderSampleRate(sampleRate)) return Memory::vxs_shared_ptr<AudioEncoderBase>();
    return Memory::vxs_shared_ptr<AudioEncoderBase>(new AudioEncoderBV(sampleRate));
}

AudioEncoderBV::AudioEncoderBV(int sampleRate)
    : AudioEncoderBase(sampleRate, kBvFrameBytes), m_BV32EncoderState(nullptr), m_frameSamples(), m_BV32bitStream() {}

#ifdef VXS_HAVE_BV32

AudioEncoderBV::~AudioEncoderBV() { delete m_BV32EncoderState; }

int AudioEncoderBV::encoderInit() {
    if (m_BV32EncoderState == nullptr) {
        m_BV32EncoderState = new (std::nothrow) bv32::Encoder();
        if (m_BV32EncoderState == nullptr) return AUDIO_ENCODER_INIT_FAILED;
    }
    m_BV32EncoderState->reset();
    m_isInitialized = true;
    m_waitingFirstAudio = true;
    return 0;
}

void AudioEncoderBV::encodeFrame(const uint8_t* frame) {
    std::memcpy(m_frameSamples, frame, kBvFrameBytes);
    m_BV32EncoderState->encodeFrame(m_frameSamples, m_BV32bitStream);
}

#else  // The codec archive is not part of this build: every init fails.

AudioEncoderBV::~AudioEncoderBV() = default;

int AudioEncoderBV::encoderInit() { return AUDIO_ENCODER_INIT_FAILED; }

void AudioEncoderBV::encodeFrame(const uint8_t*) {}

#endif

void AudioEncoderBV::encoderExit() { m_isInitialized = false; }

int AudioEncoderBV::encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) {
    if (!m_isInitialized) {
        const int rc = encoderInit();
        if (rc != 0) return rc;
    }
    if (src == nullptr || src_len == 0 || dst == nullptr || dst_len == 0) return 0;
    if (!isWholeFrames(src_len)) {
        fprintf(stderr, "src_len: %d, nSegNum: %d, frsz: %d\n", src_len, src_len / m_frameSize_Bytes,
                m_frameSize_Bytes);
        return AUDIO_ENCODER_BAD_LENGTH;
    }
    if (dst_len < kAudioEncoderHeaderBytes) return AUDIO_ENCODER_NO_ROOM;

    int written = 0;
    if (m_waitingFirstAudio) {
        writeHeader(dst, m_sampleRate == 16000 ? 4 : 0);
        written = kAudioEncoderHeaderBytes;
    }
    for (int offset = 0; offset < src_len; offset += m_frameSize_Bytes) {
        // The last byte of the destination is never written: a frame that
        // would reach it ends the stream.
        if (written + kBvPackedBytes > dst_len - 1) {
            encoderExit();
            return AUDIO_ENCODER_NO_ROOM;
        }
        encodeFrame(src + offset);
        std::memcpy(dst + written, m_BV32bitStream, kBvPackedBytes);
        written += kBvPackedBytes;
    }
    return written;
}

}  // namespace vxs
