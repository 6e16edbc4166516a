#include "audio/audio_encoder_base.h"

#include <cstring>

namespace vxs {

AudioEncoderBase::AudioEncoderBase(int sampleRate, int frameSizeBytes)
    : m_sampleRate(sampleRate),
      m_frameSize_Bytes(frameSizeBytes),
      m_isInitialized(false),
      m_waitingFirstAudio(false) {}

int AudioEncoderBase::getEncoderFrameSize_bytes() { return m_frameSize_Bytes; }

void AudioEncoderBase::writeHeader(uint8_t* dst, uint8_t formatByte) {
    dst[0] = formatByte;
    std::memset(dst + 1, 0, kAudioEncoderHeaderBytes - 1);
    m_waitingFirstAudio = false;
}

bool AudioEncoderBase::isWholeFrames(int src_len) const {
    return src_len > 0 && src_len % m_frameSize_Bytes == 0;
}

bool isSupportedEncoderSampleRate(int sampleRate) {
    return sampleRate == 8000 || sampleRate == 16000;
}

}  // namespace vxs
