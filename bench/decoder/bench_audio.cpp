#include "bench_audio.h"

#include <soxr.h>

#include <fstream>
#include <iterator>

#include "audio/audio_encoder_factory.h"

namespace decbench {

namespace {

constexpr int kSourceRate = 16000;

// PCM bytes per package: the decoders' rule (rate x length x 2, raised to a
// whole number of encoder frames).
size_t package_bytes(int rate, int package_ms, int frame_bytes) {
    size_t bytes = static_cast<size_t>(rate * (package_ms / 1000.0) * 2);
    const size_t frame = static_cast<size_t>(frame_bytes);
    if (bytes == 0 || bytes % frame != 0) bytes += frame - bytes % frame;
    return bytes;
}

}  // namespace

std::vector<int16_t> load_raw_pcm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<uint8_t>(bytes[2 * i]);
        const auto high = static_cast<uint8_t>(bytes[2 * i + 1]);
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
    }
    return samples;
}

std::vector<int16_t> resample_from_16k(const std::vector<int16_t>& pcm, int rate) {
    if (rate == kSourceRate) return pcm;
    std::vector<int16_t> out(pcm.size() * static_cast<size_t>(rate) / kSourceRate + 16);
    size_t produced = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t failure = soxr_oneshot(kSourceRate, rate, 1, pcm.data(), pcm.size(), nullptr, out.data(),
                                              out.size(), &produced, &io, &quality, nullptr);
    if (failure) return {};
    out.resize(produced);
    return out;
}

Utterance cut_packages(const std::vector<int16_t>& pcm, const CodecSetting& setting, int package_ms) {
    Utterance utterance;
    auto encoder = vxs::createAudioEncoder(setting.compression, setting.rate);
    if (!encoder || pcm.empty()) return utterance;
    const size_t frame = static_cast<size_t>(encoder->getEncoderFrameSize_bytes());
    const size_t size = package_bytes(setting.rate, package_ms, static_cast<int>(frame));
    std::string bytes(pcm.size() * 2, '\0');
    for (size_t i = 0; i < pcm.size(); ++i) {
        const auto value = static_cast<uint16_t>(pcm[i]);
        bytes[2 * i] = static_cast<char>(value & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(value >> 8);
    }
    for (size_t at = 0; at < bytes.size(); at += size) utterance.packages.push_back(bytes.substr(at, size));
    std::string& last = utterance.packages.back();
    if (last.size() % frame != 0) last.append(frame - last.size() % frame, '\0');
    utterance.audio_seconds = static_cast<double>(pcm.size()) / setting.rate;
    return utterance;
}

}  // namespace decbench
