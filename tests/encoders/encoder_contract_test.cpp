#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_encoder_amr.h"
#include "audio/audio_encoder_bv.h"
#include "audio/audio_encoder_factory.h"
#include "audio/audio_encoder_pcm.h"

namespace {

using vxs::AudioEncoderBase;
using EncoderPtr = vxs::Memory::vxs_shared_ptr<AudioEncoderBase>;

constexpr uint8_t kUntouched = 0xA5;

// A voiced-sounding test signal so the codecs produce non-trivial frames.
std::vector<uint8_t> speechLikePcm(int samples, int sampleRate, int seed = 0) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i + seed * 997) / sampleRate;
        pcm[static_cast<size_t>(i)] = static_cast<int16_t>(
            6000 * std::sin(2 * M_PI * 180 * t) + 2500 * std::sin(2 * M_PI * 1230 * t) + ((i * 7919) % 301) - 150);
    }
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

struct Encoded {
    int result;
    std::vector<uint8_t> bytes;
};

Encoded encode(AudioEncoderBase& encoder, const std::vector<uint8_t>& pcm, int room) {
    std::vector<uint8_t> dst(static_cast<size_t>(room), kUntouched);
    const int result = encoder.encodeSamples(pcm.data(), static_cast<int>(pcm.size()), dst.data(), room);
    if (result > 0) dst.resize(static_cast<size_t>(result));
    return {result, dst};
}

bool startsWithHeader(const std::vector<uint8_t>& bytes, uint8_t formatByte) {
    return bytes.size() >= 4 && bytes[0] == formatByte && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0;
}

struct EncoderCase {
    const char* name;
    int type;
    int rate;
    int frameBytes;
    uint8_t formatByte;
};

const EncoderCase kEncoderCases[] = {
    {"pcm8k", vxs::EVR_AUDIO_COMPRESSION_PCM, 8000, 2, 1},
    {"pcm16k", vxs::EVR_AUDIO_COMPRESSION_PCM, 16000, 2, 5},
    {"bv8k", vxs::EVR_AUDIO_COMPRESSION_BV32, 8000, 160, 0},
    {"bv16k", vxs::EVR_AUDIO_COMPRESSION_BV32, 16000, 160, 4},
    {"amr8k", vxs::EVR_AUDIO_COMPRESSION_AMR, 8000, 320, 3},
    {"amr16k", vxs::EVR_AUDIO_COMPRESSION_AMR, 16000, 640, 7},
};

class EveryEncoder : public ::testing::TestWithParam<EncoderCase> {
protected:
    EncoderPtr make() const { return vxs::createAudioEncoder(GetParam().type, GetParam().rate); }
    // 160 ms of audio, a whole number of frames for every encoder.
    std::vector<uint8_t> package(int seed = 0) const {
        return speechLikePcm(GetParam().rate * 16 / 100, GetParam().rate, seed);
    }
    static constexpr int kRoom = 8192;
};

TEST_P(EveryEncoder, HeaderOnlyBeforeFirstOutputAndAgainAfterExit) {
    EncoderPtr encoder = make();
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->getEncoderFrameSize_bytes(), GetParam().frameBytes);

    const Encoded first = encode(*encoder, package(0), kRoom);
    ASSERT_GT(first.result, 4);
    EXPECT_TRUE(startsWithHeader(first.bytes, GetParam().formatByte));

    const Encoded second = encode(*encoder, package(1), kRoom);
    ASSERT_GT(second.result, 0);
    EXPECT_EQ(second.result, first.result - 4) << "later packages carry no header";

    encoder->encoderExit();
    const Encoded restarted = encode(*encoder, package(0), kRoom);
    EXPECT_EQ(restarted.bytes, first.bytes) << "after exit the stream starts over, header and codec state";
}

TEST_P(EveryEncoder, CodecStateCarriesAcrossCalls) {
    // Two packages in one call and in two calls must code identically.
    std::vector<uint8_t> both = package(0);
    const std::vector<uint8_t> tail = package(1);
    both.insert(both.end(), tail.begin(), tail.end());

    EncoderPtr whole = make();
    const Encoded once = encode(*whole, both, 2 * kRoom);

    EncoderPtr split = make();
    Encoded joined = encode(*split, package(0), kRoom);
    const Encoded rest = encode(*split, tail, kRoom);
    ASSERT_GT(joined.result, 0);
    ASSERT_GT(rest.result, 0);
    joined.bytes.insert(joined.bytes.end(), rest.bytes.begin(), rest.bytes.end());
    EXPECT_EQ(once.bytes, joined.bytes);
}

TEST_P(EveryEncoder, SourceIsLeftUntouched) {
    // The AMR coders filter their input buffer in place; the caller's audio
    // (queued, saved, re-sent) must not change.
    EncoderPtr encoder = make();
    std::vector<uint8_t> pcm = package();
    const std::vector<uint8_t> original = pcm;
    ASSERT_GT(encode(*encoder, pcm, kRoom).result, 0);
    EXPECT_EQ(pcm, original);
}

TEST_P(EveryEncoder, EmptyInputOrOutputWritesNothingAndKeepsTheHeaderPending) {
    EncoderPtr encoder = make();
    const std::vector<uint8_t> pcm = package();
    std::vector<uint8_t> dst(kRoom, kUntouched);
    EXPECT_EQ(encoder->encodeSamples(nullptr, 640, dst.data(), kRoom), 0);
    EXPECT_EQ(encoder->encodeSamples(pcm.data(), 0, dst.data(), kRoom), 0);
    EXPECT_EQ(encoder->encodeSamples(pcm.data(), static_cast<int>(pcm.size()), nullptr, kRoom), 0);
    EXPECT_EQ(encoder->encodeSamples(pcm.data(), static_cast<int>(pcm.size()), dst.data(), 0), 0);
    EXPECT_EQ(dst, std::vector<uint8_t>(kRoom, kUntouched));

    EXPECT_TRUE(startsWithHeader(encode(*encoder, pcm, kRoom).bytes, GetParam().formatByte));
}

TEST_P(EveryEncoder, PartialFrameIsRejectedWithItsMessage) {
    EncoderPtr encoder = make();
    const int frame = GetParam().frameBytes;
    const int badLength = 10 * frame + 1;
    const std::vector<uint8_t> pcm = speechLikePcm(badLength, GetParam().rate);

    ::testing::internal::CaptureStderr();
    const Encoded result = encode(*encoder, std::vector<uint8_t>(pcm.begin(), pcm.begin() + badLength), kRoom);
    const std::string printed = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(result.result, vxs::AUDIO_ENCODER_BAD_LENGTH);
    EXPECT_EQ(result.bytes, std::vector<uint8_t>(kRoom, kUntouched));
    const std::string expected =
        GetParam().type == vxs::EVR_AUDIO_COMPRESSION_BV32
            ? "src_len: " + std::to_string(badLength) + ", nSegNum: 10, frsz: 160\n"
            : "ARM encoder fail, bad input length: " + std::to_string(badLength) + "\n";
    EXPECT_EQ(printed, expected);

    std::vector<uint8_t> dst(kRoom);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(encoder->encodeSamples(pcm.data(), -frame, dst.data(), kRoom), vxs::AUDIO_ENCODER_BAD_LENGTH);
    ::testing::internal::GetCapturedStderr();
}

TEST_P(EveryEncoder, DestinationTooSmallForTheHeaderIsRefused) {
    EncoderPtr encoder = make();
    const std::vector<uint8_t> pcm = package();
    const Encoded result = encode(*encoder, pcm, 3);
    EXPECT_EQ(result.result, vxs::AUDIO_ENCODER_NO_ROOM);
}

INSTANTIATE_TEST_SUITE_P(Encoders, EveryEncoder, ::testing::ValuesIn(kEncoderCases),
                         [](const ::testing::TestParamInfo<EncoderCase>& info) { return info.param.name; });

TEST(PcmEncoder, RoomForDataAndHeader) {
    EncoderPtr encoder = vxs::AudioEncoderPCM::createEncoder(16000);
    const std::vector<uint8_t> pcm = speechLikePcm(1600, 16000);

    EXPECT_EQ(encode(*encoder, pcm, 3203).result, vxs::AUDIO_ENCODER_NO_ROOM);
    const Encoded first = encode(*encoder, pcm, 3204);
    ASSERT_EQ(first.result, 3204);
    EXPECT_TRUE(startsWithHeader(first.bytes, 5));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), first.bytes.begin() + 4));

    EXPECT_EQ(encode(*encoder, pcm, 3199).result, vxs::AUDIO_ENCODER_NO_ROOM);
    const Encoded second = encode(*encoder, pcm, 3200);
    ASSERT_EQ(second.result, 3200);
    EXPECT_EQ(second.bytes, pcm);
}

TEST(BvEncoder, OutputNeedsOneSpareByteAndOverflowRestartsTheStream) {
    EncoderPtr reference = vxs::AudioEncoderBV::createEncoder(16000);
    const std::vector<uint8_t> pcm = speechLikePcm(1600, 16000);  // 3200 bytes, 20 frames
    const Encoded expected = encode(*reference, pcm, 405);
    ASSERT_EQ(expected.result, 4 + 20 * 20);
    EXPECT_TRUE(startsWithHeader(expected.bytes, 4));

    EncoderPtr encoder = vxs::AudioEncoderBV::createEncoder(16000);
    EXPECT_EQ(encode(*encoder, pcm, 404).result, vxs::AUDIO_ENCODER_NO_ROOM);
    // The overflow de-initialised the encoder: a new header and a fresh codec.
    EXPECT_EQ(encode(*encoder, pcm, 405).bytes, expected.bytes);

    // Mid-stream, too, an overflow makes the next call start a new stream.
    EXPECT_EQ(encode(*encoder, pcm, 400).result, vxs::AUDIO_ENCODER_NO_ROOM);
    EXPECT_EQ(encode(*encoder, pcm, 405).bytes, expected.bytes);
}

TEST(BvEncoder, HeaderWithoutRoomForAFrameOverflows) {
    EncoderPtr encoder = vxs::AudioEncoderBV::createEncoder(16000);
    const std::vector<uint8_t> frame = speechLikePcm(80, 16000);
    std::vector<uint8_t> dst(4, kUntouched);
    EXPECT_EQ(encoder->encodeSamples(frame.data(), 160, dst.data(), 4), vxs::AUDIO_ENCODER_NO_ROOM);
    EXPECT_EQ(encode(*encoder, frame, 25).result, 24);
}

struct AmrCase {
    int rate;
    int frameBytes;
    int codedFrameBytes;  // frame-type byte included
    int worstFrameBytes;  // the largest frame the interface may return
};

class AmrEncoder : public ::testing::TestWithParam<AmrCase> {};

TEST_P(AmrEncoder, FrameSizesAndWorstCaseRoom) {
    const AmrCase c = GetParam();
    EncoderPtr encoder = vxs::AudioEncoderAMR::createEncoder(c.rate);
    const std::vector<uint8_t> pcm = speechLikePcm(c.frameBytes / 2 * 8, c.rate);  // 8 frames
    const int worstCase = 4 + 8 * c.worstFrameBytes;

    const Encoded refused = encode(*encoder, pcm, worstCase - 1);
    EXPECT_EQ(refused.result, vxs::AUDIO_ENCODER_NO_ROOM);
    EXPECT_EQ(refused.bytes, std::vector<uint8_t>(static_cast<size_t>(worstCase - 1), kUntouched));

    const Encoded first = encode(*encoder, pcm, worstCase);
    ASSERT_EQ(first.result, 4 + 8 * c.codedFrameBytes);
    EXPECT_TRUE(startsWithHeader(first.bytes, c.rate == 8000 ? 3 : 7));
    // No DTX: every frame is a full speech frame of the fixed mode.
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(first.bytes[static_cast<size_t>(4 + i * c.codedFrameBytes)] & 0x7C,
                  (c.rate == 8000 ? 7 : 4) << 3 | 0x04);
    }
    EXPECT_EQ(encode(*encoder, pcm, worstCase - 4).result, 8 * c.codedFrameBytes);
}

INSTANTIATE_TEST_SUITE_P(Rates, AmrEncoder,
                         ::testing::Values(AmrCase{8000, 320, 32, 32}, AmrCase{16000, 640, 41, 61}),
                         [](const ::testing::TestParamInfo<AmrCase>& info) {
                             return std::to_string(info.param.rate);
                         });

TEST(EncoderFactory, RefusesUnknownTypesAndRates) {
    for (int type : {0, 4, 7, -1}) EXPECT_FALSE(vxs::createAudioEncoder(type, 16000)) << type;
    for (int rate : {0, 11025, 44100, -8000}) {
        EXPECT_FALSE(vxs::AudioEncoderPCM::createEncoder(rate)) << rate;
        EXPECT_FALSE(vxs::AudioEncoderBV::createEncoder(rate)) << rate;
        EXPECT_FALSE(vxs::AudioEncoderAMR::createEncoder(rate)) << rate;
    }
}

}  // namespace
