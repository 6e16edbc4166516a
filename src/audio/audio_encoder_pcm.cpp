#include "audio/audio_encoder_pcm.h"

#include <cstdio>
#include <cstring>

namespace vxs {

namespace {
constexpr int kPcmFrameBytes = 2;
}

Memory::vxs_shared_ptr<AudioEncoderBase> AudioEncoderPCM::createEncoder(int sampleRate) {
    if (!isSupportedEncoderSampleRate(sampleRate)) return Memory::vxs_shared_ptr<AudioEncoderBase>();
    return Memory::vxs_shared_ptr<AudioEncoderBase>(new AudioEncoderPCM(sampleRate));
}

AudioEncoderPCM::AudioEncoderPCM(int sampleRate) : AudioEncoderBase(sampleRate, kPcmFrameBytes) {}

int AudioEncoderPCM::encoderInit() {
    m_isInitialized = true;
    m_waitingFirstAudio = true;
    return 0;
}

void AudioEncoderPCM::encoderExit() { m_isInitialized = false; }

int AudioEncoderPCM::encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) {
    if (!m_isInitialized) encoderInit();
    if (src == nullptr || src_len == 0 || dst == nullptr || dst_len == 0) return 0;
    if (!isWholeFrames(src_len)) {
        fprintf(stderr, "ARM encoder fail, bad input length: %d\n", src_len);
        return AUDIO_ENCODER_BAD_LENGTH;
    }
    const int headerBytes = m_waitingFirstAudio ? kAudioEncoderHeaderBytes : 0;
    if (dst_len - headerBytes < src_len) return AUDIO_ENCODER_NO_ROOM;

    if (headerBytes > 0) writeHeader(dst, m_sampleRate == 16000 ? 5 : 1);
    std::memcpy(dst + headerBytes, src, static_cast<size_t>(src_len));
    return src_len + headerBytes;
}

}  // namespace vxs
