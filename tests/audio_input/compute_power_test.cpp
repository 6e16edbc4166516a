#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/dummy_audio_recorder.h"

using vxs::recorder::Dummy_AudioRecorder;

namespace {

std::vector<char> toBytes(const std::vector<int16_t>& samples) {
    std::vector<char> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

struct LevelCase {
    const char* what;
    std::vector<int16_t> samples;
    int extraBytes;  // trailing odd bytes after the samples
    long level;
};

std::vector<int16_t> constant(size_t count, int16_t value) { return std::vector<int16_t>(count, value); }

// 2048 samples: the 512 pairs that count hold 30 (even) and 1000 (odd); the
// rest is loud and must be ignored.
std::vector<int16_t> loudTail() {
    std::vector<int16_t> samples(2048, 30000);
    for (size_t i = 0; i < 1024; ++i) samples[i] = (i % 2 == 0) ? 30 : 1000;
    return samples;
}

TEST(ComputePower, RootMeanSquareOfEvenSamplesOfTheFirstPairs) {
    const LevelCase cases[] = {
        {"one sample: no whole pair", {500}, 0, 0},
        {"1000 samples of 100", constant(1000, 100), 0, 100},
        {"only the first 512 even samples count", loudTail(), 0, 30},
        {"odd samples are skipped", {3, 30000, 4, -30000}, 0, 3},  // (9 + 16) / 2 = 12 in integers, root 3.46
        {"full-scale negative", constant(8, INT16_MIN), 0, 32768},
        {"odd byte count uses whole pairs", {-7, 99}, 1, 7},
        {"truncates the root", {1, 0, 2, 0}, 0, 1},  // (1 + 4) / 2 = 2, root 1.41
    };
    for (const LevelCase& c : cases) {
        std::vector<char> bytes = toBytes(c.samples);
        bytes.resize(bytes.size() + static_cast<size_t>(c.extraBytes), 0);
        EXPECT_EQ(Dummy_AudioRecorder::computePower(bytes.data(), static_cast<int>(bytes.size())), c.level) << c.what;
    }
}

TEST(ComputePower, EmptyOrMissingInputHasLevelZero) {
    const char bytes[4] = {10, 0, 0, 0};
    EXPECT_EQ(Dummy_AudioRecorder::computePower(nullptr, 4096), 0);
    EXPECT_EQ(Dummy_AudioRecorder::computePower(bytes, 0), 0);
    EXPECT_EQ(Dummy_AudioRecorder::computePower(bytes, -4), 0);
    EXPECT_EQ(Dummy_AudioRecorder::computePower(bytes, 3), 0);
}

}  // namespace
