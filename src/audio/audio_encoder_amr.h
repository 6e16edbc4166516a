// AMR: narrowband at 8000 Hz (320-byte frames, mode MR122, format byte 3) and
// wideband at 16000 Hz (640-byte frames, mode 4 = 15.85 kbit/s, format byte 7),
// both without DTX. Each 20 ms frame becomes one frame of the codec interface's
// storage format (frame-type byte first).
//
// Threading: one thread at a time (see AudioEncoderBase).
#ifndef VXS_AUDIO_AUDIO_ENCODER_AMR_H
#define VXS_AUDIO_AUDIO_ENCODER_AMR_H

#include "audio/audio_encoder_base.h"
#include "core/shared_ptr.h"

namespace vxs {

class AudioEncoderAMR : public AudioEncoderBase {
public:
    // Empty pointer for a rate other than 8000 or 16000 Hz.
    static Memory::vxs_shared_ptr<AudioEncoderBase> createEncoder(int sampleRate);
    ~AudioEncoderAMR() override;

    // Creates a fresh codec instance (releasing any old one); -1 on failure.
    int encoderInit() override;
    void encoderExit() override;
    // Needs room for the pending header plus the codec's largest frame per
    // input frame (maxEncodedBytes); otherwise -3 and nothing is encoded.
    int encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) override;

    // The destination size that always suffices for src_len bytes of whole frames.
    int maxEncodedBytes(int src_len) const;

private:
    explicit AudioEncoderAMR(int sampleRate);
    bool isNarrowband() const { return m_sampleRate == 8000; }
    // Encodes one frame from m_frameSamples into dst; returns the bytes produced.
    int encodeFrame(uint8_t* dst);

    void* m_encoderHandle;
    int16_t m_frameSamples[320];
};

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_ENCODER_AMR_H
