// The common calling convention of the audio encoders: whole frames of 16-bit
// little-endian PCM in, a byte stream out, with a 4-byte format header (format
// byte, then three zero bytes) in front of the first output after every
// (re)initialisation.
//
// Threading: an encoder is used by one thread at a time and has no lock.
#ifndef VXS_AUDIO_AUDIO_ENCODER_BASE_H
#define VXS_AUDIO_AUDIO_ENCODER_BASE_H

#include <cstdint>

namespace vxs {

// Size of the format header that precedes the first output.
constexpr int kAudioEncoderHeaderBytes = 4;

// encodeSamples results other than a byte count.
enum AudioEncoderResult {
    AUDIO_ENCODER_INIT_FAILED = -1,   // the codec state cannot be created
    AUDIO_ENCODER_BAD_LENGTH = -2,    // the input is not a whole number of frames
    AUDIO_ENCODER_NO_ROOM = -3,       // the destination is too small
};

class AudioEncoderBase {
public:
    AudioEncoderBase(const AudioEncoderBase&) = delete;
    AudioEncoderBase& operator=(const AudioEncoderBase&) = delete;

    // Bytes of PCM per codec frame; every input length is a multiple of it.
    virtual int getEncoderFrameSize_bytes();
    // Makes the codec state ready and arms the header; 0 on success.
    virtual int encoderInit() = 0;
    // Releases the codec state; the next encodeSamples starts over with a header.
    virtual void encoderExit() = 0;
    // Encodes src_len bytes of PCM (whole frames) into dst. Returns the bytes
    // written (header included), 0 for an empty input or output, or a negative
    // AudioEncoderResult. Initialises the encoder itself when needed.
    virtual int encodeSamples(const uint8_t* src, int src_len, uint8_t* dst, int dst_len) = 0;
    virtual ~AudioEncoderBase() = default;

    int sampleRate() const { return m_sampleRate; }

protected:
    AudioEncoderBase(int sampleRate, int frameSizeBytes);

    // Writes the format header at dst (at least kAudioEncoderHeaderBytes) and
    // clears m_waitingFirstAudio.
    void writeHeader(uint8_t* dst, uint8_t formatByte);
    // Shared input test of the three encoders: src_len is a whole number of frames.
    bool isWholeFrames(int src_len) const;

    int m_sampleRate;
    int m_frameSize_Bytes;
    bool m_isInitialized;
    bool m_waitingFirstAudio;
};

// The sample rates every encoder accepts; factories refuse any other.
bool isSupportedEncoderSampleRate(int sampleRate);

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_ENCODER_BASE_H
