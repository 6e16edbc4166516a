#include "test_audio.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "vad/dnn/downsampler.h"

namespace vadmodel_test {

namespace {

uint32_t le32(const char* p) {
    return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) | (static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24);
}

// The data chunk of a RIFF/WAVE file, or the whole buffer for raw PCM.
void pcmBytes(const std::vector<char>& file, size_t* begin, size_t* end) {
    *begin = 0;
    *end = file.size();
    if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) != 0 || memcmp(file.data() + 8, "WAVE", 4) != 0) return;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const size_t size = le32(file.data() + at + 4);
        if (memcmp(file.data() + at, "data", 4) == 0) {
            *begin = at + 8;
            *end = std::min(file.size(), *begin + size);
            return;
        }
        at += 8 + size + (size & 1);
    }
    *end = 0;
}

}  // namespace

std::vector<int16_t> readPcm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t begin = 0, end = 0;
    pcmBytes(file, &begin, &end);
    std::vector<int16_t> pcm((end - begin) / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<int16_t>(static_cast<uint8_t>(file[begin + 2 * i]) |
                                      (static_cast<uint8_t>(file[begin + 2 * i + 1]) << 8));
    }
    return pcm;
}

std::vector<int16_t> to8k(const std::vector<int16_t>& pcm16k) {
    vx_dnnvad::DownSampler down;
    const size_t blocks = pcm16k.size() / vx_dnnvad::DownSampler::kBlock;
    std::vector<int16_t> out(blocks * vx_dnnvad::DownSampler::kBlockOut);
    for (size_t b = 0; b < blocks; ++b) {
        down.processBlock(pcm16k.data() + b * vx_dnnvad::DownSampler::kBlock,
                          out.data() + b * vx_dnnvad::DownSampler::kBlockOut);
    }
    return out;
}

const char* noiseName(Noise kind) {
    switch (kind) {
        case Noise::White: return "white";
        case Noise::Pink: return "pink";
        case Noise::Brown: return "brown";
        case Noise::Hum: return "hum";
        case Noise::Tone: return "tone";
        case Noise::Clicks: return "clicks";
        case Noise::Impulses:
            return "impulses";
        case Noise::Knocks:
            return "knocks";
    }
    return "?";
}

namespace {

std::vector<double> rawNoise(Noise kind, size_t samples, int sampleRate, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> x(samples);
    double b0 = 0, b1 = 0, b2 = 0, brown = 0;
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        switch (kind) {
            case Noise::White: x[i] = gauss(rng); break;
            case Noise::Pink: {  // Paul Kellet's economy pink filter
                const double w = gauss(rng);
                b0 = 0.99765 * b0 + w * 0.0990460;
                b1 = 0.96300 * b1 + w * 0.2965164;
                b2 = 0.57000 * b2 + w * 1.0526913;
                x[i] = b0 + b1 + b2 + w * 0.1848;
                break;
            }
            case Noise::Brown: brown = 0.998 * brown + gauss(rng); x[i] = brown; break;
            case Noise::Hum:  // mains hum: 50 Hz with odd harmonics
                x[i] = std::sin(2 * pi * 50 * t) + 0.5 * std::sin(2 * pi * 150 * t) + 0.3 * std::sin(2 * pi * 250 * t);
                break;
            case Noise::Tone: x[i] = std::sin(2 * pi * 1000 * t); break;
            case Noise::Clicks:
            case Noise::Impulses:
            case Noise::Knocks:
                x[i] = 0;
                break;
        }
    }
    std::uniform_int_distribution<size_t> anywhere(0, samples - 1);
    if (kind == Noise::Impulses) {  // about three single-sample spikes a second, either sign
        for (size_t k = 0; k < 3 * samples / static_cast<size_t>(sampleRate); ++k) {
            x[anywhere(rng)] += (rng() & 1) ? 1.0 : -1.0;
        }
    }
    if (kind == Noise::Knocks) {  // about two knocks a second: 30 ms of low-passed noise, decaying
        const size_t length = static_cast<size_t>(sampleRate) * 3 / 100;
        for (size_t k = 0; k < 2 * samples / static_cast<size_t>(sampleRate); ++k) {
            const size_t at = anywhere(rng);
            double smooth = 0;
            for (size_t j = 0; j < length && at + j < samples; ++j) {
                smooth = 0.8 * smooth + gauss(rng);
                x[at + j] += smooth * std::exp(-static_cast<double>(j) / (0.006 * sampleRate));
            }
        }
    }
    if (kind == Noise::Clicks) {  // about ten decaying clicks a second
        std::uniform_int_distribution<size_t> where(0, samples - 1);
        for (size_t k = 0; k < samples / static_cast<size_t>(sampleRate / 10); ++k) {
            const size_t at = where(rng);
            for (size_t j = 0; j < 60 && at + j < samples; ++j) x[at + j] += std::exp(-static_cast<double>(j) / 8.0);
        }
    }
    return x;
}

}  // namespace

std::vector<int16_t> makeNoise(Noise kind, double dbfs, size_t samples, int sampleRate, uint32_t seed) {
    const std::vector<double> x = rawNoise(kind, samples, sampleRate, seed);
    double energy = 0;
    for (double v : x) energy += v * v;
    const double rms = std::sqrt(energy / std::max<size_t>(1, samples)) + 1e-12;
    const double gain = 32768.0 * std::pow(10.0, dbfs / 20.0) / rms;
    std::vector<int16_t> out(samples);
    for (size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<int16_t>(std::lround(std::max(-32768.0, std::min(32767.0, x[i] * gain))));
    }
    return out;
}

}  // namespace vadmodel_test
