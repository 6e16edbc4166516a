// BroadVoice32 wideband speech codec (16 kHz, 80-sample frames, 160 bits).
//
// Threading: an Encoder or Decoder is used by one thread at a time; all of its
// mutable state (the basic operators' overflow flag included) lives in the
// object, so any number of codecs may run in parallel on different threads.
// Only construction allocates (without throwing); ready() tells whether it
// succeeded. A codec that is not ready, or a null buffer, makes a coding call
// do nothing.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_H
#define VXS_AUDIO_CODEC_BV32_BV32_H

#include <cstdint>

namespace vxs {
namespace bv32 {

constexpr int kFrameSamples = 80;  // 5 ms at 16 kHz
constexpr int kFrameBytes = 20;    // 160 bits, packed MSB first
constexpr int kSampleRate = 16000;

struct EncoderState;
struct DecoderState;

class Encoder {
public:
    Encoder();
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // False only if the state could not be allocated.
    bool ready() const { return state_ != nullptr; }
    // Returns the encoder to its initial state.
    void reset();
    // Encodes one frame of kFrameSamples samples into kFrameBytes bytes.
    void encodeFrame(const int16_t* pcm, uint8_t* packed);

private:
    EncoderState* state_;
};

class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // False only if the state could not be allocated.
    bool ready() const { return state_ != nullptr; }
    // Returns the decoder to its initial state.
    void reset();
    // Decodes one frame of kFrameBytes bytes into kFrameSamples samples.
    // Any 20 bytes are a valid frame.
    void decodeFrame(const uint8_t* packed, int16_t* pcm);
    // Conceals one lost frame from the decoder's history.
    void concealFrame(int16_t* pcm);

private:
    DecoderState* state_;
};

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_H
