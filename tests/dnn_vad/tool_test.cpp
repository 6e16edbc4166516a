// The vxs-vad tool's parts: reading WAV and raw input, and finding the
// utterances of a recording the way the VAD module drives the detector.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_file.h"
#include "dnn_vad_fixtures.h"
#include "utterance_finder.h"

namespace {

using namespace dnnvad_test;
using vxs_vad_tool::Audio;

std::string wavBytes(int rate, int channels, int bits, const std::vector<short>& samples, long dataSizeField = -1) {
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::string fmt = u16(1) + u16(channels) + u32(rate) + u32(rate * channels * bits / 8) +
                      u16(channels * bits / 8) + u16(bits);
    std::string out = "RIFF" + u32(36 + dataBytes) + "WAVE" + "LIST" + u32(3) + "abc" + std::string(1, '\0');
    out += "fmt " + u32(16) + fmt;
    out += "data" + u32(dataSizeField < 0 ? dataBytes : static_cast<uint32_t>(dataSizeField));
    out.append(reinterpret_cast<const char*>(samples.data()), dataBytes);
    return out;
}

std::string writeBytes(const ScratchDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.file(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

TEST(ToolInput, WavAndRawFiles) {
    ScratchDir dir;
    const std::vector<short> samples = {1, -2, 3, 32767, -32768};
    const std::string raw(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
    struct Case {
        const char* name;
        std::string bytes;
        int rate;        // --rate, 0 = not given
        bool ok;
        int expectedRate;
        size_t expectedSamples;
    };
    const Case cases[] = {
        {"wav 16 kHz with a chunk before fmt", wavBytes(16000, 1, 16, samples), 0, true, 16000, 5},
        {"wav with matching --rate", wavBytes(8000, 1, 16, samples), 8000, true, 8000, 5},
        {"wav with another --rate", wavBytes(8000, 1, 16, samples), 16000, false, 0, 0},
        {"stereo wav", wavBytes(16000, 2, 16, samples), 0, false, 0, 0},
        {"8-bit wav", wavBytes(16000, 1, 8, samples), 0, false, 0, 0},
        {"wav at 44.1 kHz", wavBytes(44100, 1, 16, samples), 0, false, 0, 0},
        {"data size beyond the file", wavBytes(16000, 1, 16, samples, 1 << 30), 0, true, 16000, 5},
        {"riff header only", std::string("RIFF\x10\0\0\0WAVE", 12), 0, false, 0, 0},
        {"raw with --rate", raw, 8000, true, 8000, 5},
        {"raw without --rate", raw, 0, false, 0, 0},
    };
    for (const auto& c : cases) {
        Audio audio;
        std::string error;
        const bool ok = vxs_vad_tool::readAudioFile(writeBytes(dir, "in.bin", c.bytes), c.rate, &audio, &error);
        EXPECT_EQ(ok, c.ok) << c.name << ": " << error;
        if (!ok || !c.ok) continue;
        EXPECT_EQ(audio.sampleRate, c.expectedRate) << c.name;
        EXPECT_EQ(audio.samples, samples) << c.name;
    }
}

class Collect : public vxs_vad_tool::UtteranceSink {
public:
    void onUtterance(const vxs_vad_tool::Utterance& u) override { utterances.push_back(u); }
    void onFrame(int64_t frame, const char*) override { frames.push_back(frame); }
    std::vector<vxs_vad_tool::Utterance> utterances;
    std::vector<int64_t> frames;
};

// Two loud stretches (1.0-2.2 s and 3.7-4.5 s) in near silence, then `tail` seconds.
std::vector<short> twoSentences(int rate, double tail) {
    std::vector<short> audio = noise(rate, 2, 1);
    append(&audio, noise(rate * 12 / 10, 3000, 2));
    append(&audio, noise(rate * 15 / 10, 2, 3));
    append(&audio, noise(rate * 8 / 10, 3000, 4));
    append(&audio, noise(static_cast<size_t>(rate * tail), 2, 5));
    return audio;
}

std::vector<vxs_vad_tool::Utterance> find(const ScratchDir& dir, int rate, bool longSpeech, double tail,
                                          Collect* sink) {
    vxs_vad_tool::FinderOptions options;
    options.sampleRate = rate;
    options.longSpeech = longSpeech;
    options.frames = true;
    options.dnnFile = writeEnergyNetwork(dir, 2);
    options.cmvnFile = writeIdentityCmvn(dir);
    vxs_vad_tool::UtteranceFinder finder(sink);
    std::string error;
    EXPECT_TRUE(finder.init(options, &error)) << error;
    const std::vector<short> audio = twoSentences(rate, tail);
    bool running = true;
    for (size_t pos = 0; running && pos < audio.size(); pos += finder.pushSamples()) {
        const size_t n = std::min<size_t>(finder.pushSamples(), audio.size() - pos);
        running = finder.push(audio.data() + pos, static_cast<int>(n), &error);
    }
    if (running) finder.finish();
    return sink->utterances;
}

TEST(ToolFinder, LongSpeechFindsEverySentence) {
    ScratchDir dir;
    for (int rate : {8000, 16000}) {
        Collect sink;
        const auto found = find(dir, rate, true, 2.0, &sink);
        ASSERT_EQ(found.size(), 2u) << rate;
        const int64_t starts[2] = {1000, 3700};
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(found[i].status, "SPEECH_PAUSE");
            EXPECT_NEAR(found[i].speechStartMs, starts[i], 40) << rate << " " << i;
            EXPECT_EQ(found[i].audioStartMs, found[i].speechStartMs - 400);  // 40 frames of lead-in
            EXPECT_GT(found[i].audioEndMs, found[i].speechEndMs);
        }
        // Frames are numbered across the detector's resets.
        EXPECT_GE(sink.frames.back(), 640);  // 6.5 s of audio: frames up to 647
    }
}

TEST(ToolFinder, WithoutLongSpeechTheFirstSentenceEndsDetection) {
    ScratchDir dir;
    Collect sink;
    const auto found = find(dir, 16000, false, 2.0, &sink);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].status, "NO_SPEECH");
    EXPECT_NEAR(found[0].speechStartMs, 1000, 40);
}

TEST(ToolFinder, SpeechAtTheEndOfInput) {
    ScratchDir dir;
    Collect sink;
    const auto found = find(dir, 8000, true, 0.0, &sink);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].status, "END_OF_INPUT");
}

}  // namespace
