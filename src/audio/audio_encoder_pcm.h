// Uncompressed PCM: frames of one sample, copied unchanged behind the header
// (format byte 5 at 16000 Hz, 1 at 8000 Hz).
//
// Threading: one thread at a time (see AudioEncoderBase).
#ifndef VXS_AUDIO_AUDIO_ENCODER_PCM_H
#define VXS_AUDIO_AUDIO_ENCODER_PCM_H

#include "audio/audio_encoder_base.h"
#include "core/shared_ptr.h"

namespace vxs {

class AudioEncoderPCM : public AudioEncoderBase {
public:
    // Empty pointer for a rate other than 8000 or 16000 Hz.
    static Memory::vxs_shared_ptr<AudioEncoderBase> createEncoder(int sampleRate);

    int encoderInit() override;
    void encoderExit() override;
    // Needs dst_len >= src_len, and src_len + 4 while the header is pending.
    int encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) override;

private:
    explicit AudioEncoderPCM(int sampleRate);
};

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_ENCODER_PCM_H
