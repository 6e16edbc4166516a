#include "recognizer.h"

#include <pocketsphinx.h>
#include <soxr.h>

namespace vxs {
namespace refservice {

DecoderPool::DecoderPool(std::string model_dir, size_t max_decoders)
    : m_model_dir(std::move(model_dir)), m_max(max_decoders == 0 ? 1 : max_decoders) {}

DecoderPool::~DecoderPool() {
    for (ps_decoder_t* decoder : m_idle) ps_free(decoder);
}

ps_decoder_s* DecoderPool::create() {
    const std::string hmm = m_model_dir + "/en-us";
    const std::string lm = m_model_dir + "/en-us.lm.bin";
    const std::string dict = m_model_dir + "/cmudict-en-us.dict";
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-lm", lm.c_str(), "-dict",
                                   dict.c_str(), "-logfn", "/dev/null", nullptr);
    if (!config) return nullptr;
    ps_decoder_t* decoder = ps_init(config);
    // The decoder holds its own reference to the configuration.
    cmd_ln_free_r(config);
    return decoder;
}

bool DecoderPool::warm_up(std::string* error) {
    ps_decoder_t* decoder = acquire();
    if (!decoder) {
        *error = "cannot load the pocketsphinx model from " + m_model_dir;
        return false;
    }
    release(decoder);
    return true;
}

ps_decoder_s* DecoderPool::acquire() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_returned.wait(lock, [&] { return !m_idle.empty() || m_count < m_max; });
    if (!m_idle.empty()) {
        ps_decoder_t* decoder = m_idle.back();
        m_idle.pop_back();
        return decoder;
    }
    ++m_count;
    lock.unlock();
    ps_decoder_t* decoder = create();
    if (!decoder) {
        lock.lock();
        --m_count;
        m_returned.notify_one();
    }
    return decoder;
}

void DecoderPool::release(ps_decoder_s* decoder) {
    if (!decoder) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(decoder);
    m_returned.notify_one();
}

UtteranceRecognizer::UtteranceRecognizer(DecoderPool& pool) : m_pool(pool) {}

UtteranceRecognizer::~UtteranceRecognizer() {
    if (m_decoder) {
        if (m_started && !m_finished) ps_end_utt(m_decoder);
        m_pool.release(m_decoder);
    }
    if (m_resampler) soxr_delete(m_resampler);
}

bool UtteranceRecognizer::ensure_started(std::string* error) {
    if (m_finished) {
        *error = "audio after the end of the utterance";
        return false;
    }
    if (m_started) return true;
    m_decoder = m_pool.acquire();
    if (!m_decoder) {
        *error = "no recogniser available (model not loaded)";
        return false;
    }
    if (ps_start_utt(m_decoder) < 0) {
        *error = "recogniser refused to start";
        return false;
    }
    m_started = true;
    return true;
}

bool UtteranceRecognizer::open_stream(const uint8_t* data, size_t size, size_t* header_bytes, std::string* error) {
    if (!codec_io::readStreamHeader(data, size, &m_format, error)) return false;
    if (!m_stream.open(m_format, error)) return false;
    if (m_format.sampleRate != 16000) {
        soxr_error_t failure = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        m_resampler = soxr_create(m_format.sampleRate, 16000, 1, &failure, &io, &quality, nullptr);
        if (!m_resampler) {
            *error = std::string("resampler: ") + (failure ? failure : "unknown error");
            return false;
        }
    }
    m_has_format = true;
    *header_bytes = codec_io::kStreamHeaderBytes;
    return true;
}

bool UtteranceRecognizer::feed_package(const uint8_t* data, size_t size, std::string* error) {
    if (!ensure_started(error)) return false;
    size_t offset = 0;
    if (!m_has_format && !open_stream(data, size, &offset, error)) return false;
    m_pcm.clear();
    const bool decoded = m_stream.decodeFrames(data + offset, size - offset, &m_pcm, error);
    m_samples += static_cast<long>(m_pcm.size());
    if (!m_pcm.empty() && !resample_and_feed(m_pcm.data(), m_pcm.size(), false, error)) return false;
    return decoded;
}

bool UtteranceRecognizer::feed_pcm16k(const int16_t* samples, size_t count, std::string* error) {
    if (!ensure_started(error)) return false;
    if (count > 0 && ps_process_raw(m_decoder, samples, count, FALSE, FALSE) < 0) {
        *error = "recogniser failed on the audio";
        return false;
    }
    return true;
}

bool UtteranceRecognizer::resample_and_feed(const int16_t* samples, size_t count, bool flush, std::string* error) {
    if (!m_resampler) return feed_pcm16k(samples, count, error);
    // 8 kHz to 16 kHz doubles the samples; the margin covers the filter delay
    // released by a flush.
    m_resampled.resize(count * 2 + 1024);
    size_t consumed = 0;
    size_t produced = 0;
    soxr_error_t failure = soxr_process(m_resampler, flush ? nullptr : samples, flush ? 0 : count, &consumed,
                                        m_resampled.data(), m_resampled.size(), &produced);
    if (failure) {
        *error = std::string("resampler: ") + failure;
        return false;
    }
    return feed_pcm16k(m_resampled.data(), produced, error);
}

std::string UtteranceRecognizer::partial() {
    if (!m_started || m_finished) return m_final;
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(m_decoder, &score);
    return hypothesis ? hypothesis : "";
}

std::string UtteranceRecognizer::finish() {
    if (m_finished) return m_final;
    if (!m_started) {
        m_finished = true;
        return m_final;
    }
    std::string ignored;
    if (m_resampler) resample_and_feed(nullptr, 0, true, &ignored);
    ps_end_utt(m_decoder);
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(m_decoder, &score);
    m_final = hypothesis ? hypothesis : "";
    m_finished = true;
    m_pool.release(m_decoder);
    m_decoder = nullptr;
    return m_final;
}

}  // namespace refservice
}  // namespace vxs
