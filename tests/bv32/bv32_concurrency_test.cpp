// Two encoders and two decoders running at once on different threads give the
// same output as each alone: no codec state is shared.
#include <gtest/gtest.h>

#include <thread>

#include "audio/codec/bv32/bv32.h"
#include "bv32/bv32_vector_io.h"

using namespace vxs::bv32;

namespace {

constexpr size_t kFrames = 120;  // short enough for ThreadSanitizer

std::vector<uint8_t> encodeFrames(const std::vector<int16_t>& pcm) {
    Encoder enc;
    std::vector<uint8_t> bits(kFrames * kFrameBytes);
    for (size_t f = 0; f < kFrames; ++f) enc.encodeFrame(&pcm[f * kFrameSamples], &bits[f * kFrameBytes]);
    return bits;
}

std::vector<int16_t> decodeFrames(const std::vector<uint8_t>& bits) {
    Decoder dec;
    std::vector<int16_t> pcm(kFrames * kFrameSamples);
    for (size_t f = 0; f < kFrames; ++f) dec.decodeFrame(&bits[f * kFrameBytes], &pcm[f * kFrameSamples]);
    return pcm;
}

TEST(Bv32Concurrency, ParallelCodecsMatchSequentialRuns) {
    // Speech and a saturating square wave: different paths, frequent overflow.
    const std::vector<int16_t> speech = bv32test::readPcm("goforward.pcm");
    const std::vector<int16_t> square = bv32test::readPcm("square.pcm");
    const std::vector<uint8_t> random = bv32test::readBytes("random.bit");
    ASSERT_GE(speech.size(), kFrames * kFrameSamples);
    ASSERT_GE(square.size(), 100 * kFrameSamples);
    std::vector<int16_t> squareLong(square);
    squareLong.insert(squareLong.end(), square.begin(), square.end());
    ASSERT_GE(random.size(), kFrames * kFrameBytes);

    const std::vector<uint8_t> speechAlone = encodeFrames(speech);
    const std::vector<uint8_t> squareAlone = encodeFrames(squareLong);
    const std::vector<int16_t> randomAlone = decodeFrames(random);

    std::vector<uint8_t> speechBits, squareBits;
    std::vector<int16_t> speechOut, randomOut;
    std::thread a([&] {
        speechBits = encodeFrames(speech);
        speechOut = decodeFrames(speechBits);
    });
    std::thread b([&] {
        squareBits = encodeFrames(squareLong);
        randomOut = decodeFrames(random);
    });
    a.join();
    b.join();

    EXPECT_EQ(speechBits, speechAlone);
    EXPECT_EQ(squareBits, squareAlone);
    EXPECT_EQ(randomOut, randomAlone);
    EXPECT_EQ(speechOut, decodeFrames(speechAlone));
}

}  // namespace
