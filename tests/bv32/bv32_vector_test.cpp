// Encoder and decoder outputs must match the reference vectors bit for bit.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "audio/codec/bv32/bv32.h"
#include "bv32/bv32_vector_io.h"

using namespace vxs::bv32;
using bv32test::readBytes;
using bv32test::readPcm;

namespace {

std::vector<uint8_t> encodeAll(const std::vector<int16_t>& pcm) {
    Encoder enc;
    const size_t frames = pcm.size() / kFrameSamples;
    std::vector<uint8_t> bits(frames * kFrameBytes);
    for (size_t f = 0; f < frames; ++f) enc.encodeFrame(&pcm[f * kFrameSamples], &bits[f * kFrameBytes]);
    return bits;
}

std::vector<int16_t> decodeAll(const std::vector<uint8_t>& bits, const std::set<size_t>& lost = {}) {
    Decoder dec;
    const size_t frames = bits.size() / kFrameBytes;
    std::vector<int16_t> pcm(frames * kFrameSamples);
    for (size_t f = 0; f < frames; ++f) {
        if (lost.count(f)) {
            dec.concealFrame(&pcm[f * kFrameSamples]);
        } else {
            dec.decodeFrame(&bits[f * kFrameBytes], &pcm[f * kFrameSamples]);
        }
    }
    return pcm;
}

// Index of the first frame where the two streams differ, or -1.
template <typename T>
long firstDifferingFrame(const std::vector<T>& got, const std::vector<T>& want, size_t frameSize) {
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) return static_cast<long>(i / frameSize);
    }
    return got.size() == want.size() ? -1 : static_cast<long>(n / frameSize);
}

const char* const kEncoderInputs[] = {"goforward", "numbers", "silence", "square", "sweep", "noise", "dc"};
const char* const kDecoderStreams[] = {"goforward", "numbers", "silence", "square",    "sweep",
                                       "noise",     "dc",      "random",  "gainstress"};

class EncoderVectors : public ::testing::TestWithParam<const char*> {};

TEST_P(EncoderVectors, EncodesFromResetToTheReferenceBitstream) {
    const std::string name = GetParam();
    const std::vector<int16_t> pcm = readPcm(name + ".pcm");
    const std::vector<uint8_t> want = readBytes(name + ".bit");
    ASSERT_FALSE(pcm.empty());
    ASSERT_EQ(want.size(), pcm.size() / kFrameSamples * kFrameBytes);
    EXPECT_EQ(firstDifferingFrame(encodeAll(pcm), want, kFrameBytes), -1) << name;
}

std::string vectorName(const ::testing::TestParamInfo<const char*>& info) { return info.param; }

INSTANTIATE_TEST_SUITE_P(All, EncoderVectors, ::testing::ValuesIn(kEncoderInputs), vectorName);

class DecoderVectors : public ::testing::TestWithParam<const char*> {};

TEST_P(DecoderVectors, DecodesFromResetToTheReferenceOutput) {
    const std::string name = GetParam();
    const std::vector<uint8_t> bits = readBytes(name + ".bit");
    const std::vector<int16_t> want = readPcm(name + ".dec.pcm");
    ASSERT_FALSE(bits.empty());
    ASSERT_EQ(want.size(), bits.size() / kFrameBytes * kFrameSamples);
    EXPECT_EQ(firstDifferingFrame(decodeAll(bits), want, kFrameSamples), -1) << name;
}

INSTANTIATE_TEST_SUITE_P(All, DecoderVectors, ::testing::ValuesIn(kDecoderStreams), vectorName);

std::set<size_t> readLostFrames(const std::string& name) {
    std::ifstream in(bv32test::vectorPath(name));
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    for (char& c : s) {
        if (c < '0' || c > '9') c = ' ';
    }
    std::istringstream numbers(s);
    std::set<size_t> frames;
    size_t f;
    while (numbers >> f) frames.insert(f);
    return frames;
}

TEST(DecoderConcealment, LostFramesMatchTheReferenceConcealment) {
    const std::set<size_t> lost = readLostFrames("goforward.plc.txt");
    ASSERT_EQ(lost.size(), 17u);
    const std::vector<uint8_t> bits = readBytes("goforward.bit");
    const std::vector<int16_t> want = readPcm("goforward.plc.dec.pcm");
    EXPECT_EQ(firstDifferingFrame(decodeAll(bits, lost), want, kFrameSamples), -1);
}

TEST(DecoderConcealment, ConcealingBeforeAnyGoodFrameIsSilentAndRecovers) {
    const std::vector<uint8_t> bits = readBytes("goforward.bit");
    Decoder dec;
    int16_t out[kFrameSamples];
    for (int i = 0; i < 3; ++i) {
        dec.concealFrame(out);
        for (int16_t s : out) EXPECT_EQ(s, 0);
    }
    // A long erasure in the middle of speech stays bounded and decoding resumes.
    for (size_t f = 0; f < 100; ++f) dec.decodeFrame(&bits[f * kFrameBytes], out);
    for (int i = 0; i < 80; ++i) dec.concealFrame(out);
    for (size_t f = 100; f < 120; ++f) dec.decodeFrame(&bits[f * kFrameBytes], out);
}

TEST(CodecReset, ResetRestoresTheInitialState) {
    const std::vector<int16_t> pcm = readPcm("numbers.pcm");
    const std::vector<uint8_t> bits = readBytes("numbers.bit");
    Encoder enc;
    Decoder dec;
    uint8_t frame[kFrameBytes];
    int16_t out[kFrameSamples];
    for (size_t f = 0; f < 50; ++f) {
        enc.encodeFrame(&pcm[(200 + f) * kFrameSamples], frame);
        dec.decodeFrame(frame, out);
    }
    enc.reset();
    dec.reset();
    const std::vector<int16_t> want = readPcm("numbers.dec.pcm");
    for (size_t f = 0; f < 20; ++f) {
        enc.encodeFrame(&pcm[f * kFrameSamples], frame);
        ASSERT_TRUE(std::equal(frame, frame + kFrameBytes, &bits[f * kFrameBytes])) << "frame " << f;
        dec.decodeFrame(frame, out);
        ASSERT_TRUE(std::equal(out, out + kFrameSamples, &want[f * kFrameSamples])) << "frame " << f;
    }
}

}  // namespace

TEST(CodecInput, NullBuffersLeaveOutputAndStateUntouched) {
    const std::vector<int16_t> pcm = readPcm("goforward.pcm");
    const std::vector<uint8_t> bits = readBytes("goforward.bit");
    Encoder enc;
    Decoder dec;
    ASSERT_TRUE(enc.ready());
    ASSERT_TRUE(dec.ready());
    uint8_t frame[kFrameBytes] = {0xAA};
    int16_t out[kFrameSamples] = {123};
    enc.encodeFrame(nullptr, frame);
    enc.encodeFrame(pcm.data(), nullptr);
    dec.decodeFrame(nullptr, out);
    dec.decodeFrame(bits.data(), nullptr);
    dec.concealFrame(nullptr);
    EXPECT_EQ(frame[0], 0xAA);
    EXPECT_EQ(out[0], 123);

    const std::vector<int16_t> want = readPcm("goforward.dec.pcm");
    enc.encodeFrame(pcm.data(), frame);
    EXPECT_TRUE(std::equal(frame, frame + kFrameBytes, bits.begin()));
    dec.decodeFrame(frame, out);
    EXPECT_TRUE(std::equal(out, out + kFrameSamples, want.begin()));
}
