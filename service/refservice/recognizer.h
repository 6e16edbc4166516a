// Speech recognition for the reference service, done by pocketsphinx with its
// US-English model. Loading a model takes the better part of a second, so
// decoders are kept in a pool: each utterance takes one for its whole life
// (one decoder per utterance, never shared while in use) and gives it back.
//
// Threading: DecoderPool is safe from any thread. An Utterance recognition
// (UtteranceRecognizer) is used by one thread at a time.
#ifndef VXS_SERVICE_REFSERVICE_RECOGNIZER_H
#define VXS_SERVICE_REFSERVICE_RECOGNIZER_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "stream_decoder.h"
#include "stream_format.h"

struct ps_decoder_s;
struct soxr;

namespace vxs {
namespace refservice {

// The model folder of Debian's pocketsphinx-en-us.
constexpr const char* kDefaultModelDir = "/usr/share/pocketsphinx/model/en-us";

class DecoderPool {
public:
    // `model_dir` holds "en-us" (the acoustic model), "en-us.lm.bin" and
    // "cmudict-en-us.dict"; at most `max_decoders` exist at once.
    DecoderPool(std::string model_dir, size_t max_decoders);
    ~DecoderPool();
    DecoderPool(const DecoderPool&) = delete;
    DecoderPool& operator=(const DecoderPool&) = delete;

    // Loads one decoder now, so that a bad model folder shows at start; false
    // with a reason when the model cannot be loaded.
    bool warm_up(std::string* error);
    // An idle decoder, a new one, or (at the limit) the next one given back.
    // Null when the model cannot be loaded.
    ps_decoder_s* acquire();
    void release(ps_decoder_s* decoder);

private:
    ps_decoder_s* create();

    const std::string m_model_dir;
    const size_t m_max;
    std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<ps_decoder_s*> m_idle;
    size_t m_count = 0;
};

// One utterance: the encoded audio stream in (4-byte format header, then
// frames), words out. 8 kHz audio is resampled to the model's 16 kHz.
class UtteranceRecognizer {
public:
    explicit UtteranceRecognizer(DecoderPool& pool);
    ~UtteranceRecognizer();
    UtteranceRecognizer(const UtteranceRecognizer&) = delete;
    UtteranceRecognizer& operator=(const UtteranceRecognizer&) = delete;

    // Decodes one package of the stream (the first begins with the header)
    // and feeds the recogniser. False with a reason for a bad header or
    // frame, or when no decoder is to be had.
    bool feed_package(const uint8_t* data, size_t size, std::string* error);
    // Feeds 16 kHz PCM directly.
    bool feed_pcm16k(const int16_t* samples, size_t count, std::string* error);
    // The hypothesis so far ("" when none).
    std::string partial();
    // Ends the utterance and returns the final hypothesis.
    std::string finish();

    bool has_format() const { return m_has_format; }
    const codec_io::StreamFormat& format() const { return m_format; }
    // Samples decoded from the stream, at its own rate.
    long samples_decoded() const { return m_samples; }

private:
    bool ensure_started(std::string* error);
    bool open_stream(const uint8_t* data, size_t size, size_t* header_bytes, std::string* error);
    bool resample_and_feed(const int16_t* samples, size_t count, bool flush, std::string* error);

    DecoderPool& m_pool;
    ps_decoder_s* m_decoder = nullptr;
    bool m_started = false;
    bool m_finished = false;
    bool m_has_format = false;
    codec_io::StreamFormat m_format;
    codec_io::StreamDecoder m_stream;
    soxr* m_resampler = nullptr;
    long m_samples = 0;
    std::vector<int16_t> m_pcm;
    std::vector<int16_t> m_resampled;
    std::string m_final;
};

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_RECOGNIZER_H
