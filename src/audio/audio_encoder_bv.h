// BroadVoice32: 80-sample frames (160 bytes of PCM) packed into 20 bytes each,
// behind the header (format byte 4 at 16000 Hz, 0 otherwise).
//
// Threading: one thread at a time (see AudioEncoderBase).
#ifndef VXS_AUDIO_AUDIO_ENCODER_BV_H
#define VXS_AUDIO_AUDIO_ENCODER_BV_H

#include "audio/audio_encoder_base.h"
#include "core/shared_ptr.h"

namespace vxs {

namespace bv32 {
class Encoder;
}

class AudioEncoderBV : public AudioEncoderBase {
public:
    // Empty pointer for a rate other than 8000 or 16000 Hz.
    static Memory::vxs_shared_ptr<AudioEncoderBase> createEncoder(int sampleRate);
    ~AudioEncoderBV() override;

    // Resets the codec (creating it on first use); -1 when it cannot be created.
    int encoderInit() override;
    void encoderExit() override;
    // The destination must be at least one byte larger than the output
    // (header + 20 bytes per frame). When it is not, the encoder is
    // de-initialised and -3 returned, so the next call begins a new stream.
    int encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) override;

private:
    explicit AudioEncoderBV(int sampleRate);
    // Encodes one 160-byte frame into m_BV32bitStream.
    void encodeFrame(const uint8_t* frame);

    bv32::Encoder* m_BV32EncoderState;  // created at the first init, kept until destruction
    int16_t m_frameSamples[80];
    uint8_t m_BV32bitStream[20];
};

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_ENCODER_BV_H
