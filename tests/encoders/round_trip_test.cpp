#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_encoder_factory.h"
#include "signal_quality.h"
#include "stream_decoder.h"
#include "stream_encoder.h"
#include "stream_format.h"

namespace {

using vxs::codec_io::StreamFormat;

const char kSpeechFile[] = "/usr/share/pocketsphinx/test/data/goforward.raw";  // 16 kHz mono

std::vector<int16_t> loadSpeech16k() {
    std::ifstream in(kSpeechFile, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Halves the rate: windowed-sinc low-pass at 3.6 kHz, then every second sample.
std::vector<int16_t> downsampleTo8k(const std::vector<int16_t>& in) {
    constexpr int kTaps = 63;
    constexpr int kHalf = kTaps / 2;
    double taps[kTaps];
    double sum = 0.0;
    for (int i = 0; i < kTaps; ++i) {
        const double n = i - kHalf;
        const double cutoff = 3600.0 / 16000.0;
        const double sinc = n == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * n) / (M_PI * n);
        taps[i] = sinc * (0.54 - 0.46 * std::cos(2 * M_PI * i / (kTaps - 1)));
        sum += taps[i];
    }
    std::vector<int16_t> out;
    for (size_t center = 0; center < in.size(); center += 2) {
        double acc = 0.0;
        for (int i = 0; i < kTaps; ++i) {
            const long index = static_cast<long>(center) + i - kHalf;
            if (index >= 0 && index < static_cast<long>(in.size())) acc += taps[i] / sum * in[static_cast<size_t>(index)];
        }
        out.push_back(static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, acc)))));
    }
    return out;
}

struct RoundTrip {
    std::vector<uint8_t> stream;
    std::vector<int16_t> decoded;
    StreamFormat format;
    long encodedFrames = 0;
    long decodedFrames = 0;
};

RoundTrip roundTrip(int type, int rate, const std::vector<int16_t>& pcm) {
    RoundTrip trip;
    auto encoder = vxs::createAudioEncoder(type, rate);
    std::string error;
    EXPECT_TRUE(vxs::codec_io::encodeInPackages(*encoder, pcm.data(), pcm.size(), &trip.stream, &trip.encodedFrames,
                                                &error))
        << error;
    EXPECT_TRUE(vxs::codec_io::decodeStream(trip.stream.data(), trip.stream.size(), &trip.format, &trip.decoded,
                                            &trip.decodedFrames, &error))
        << error;
    return trip;
}

struct CodecCase {
    const char* name;
    int type;
    int rate;
    size_t samplesPerFrame;
    double minSnrDb;
    double minSegmentalSnrDb;
};

class SpeechRoundTrip : public ::testing::TestWithParam<CodecCase> {};

TEST_P(SpeechRoundTrip, DecodesCloseToTheInput) {
    const CodecCase c = GetParam();
    std::vector<int16_t> speech = loadSpeech16k();
    if (speech.empty()) GTEST_SKIP() << kSpeechFile << " not installed";
    if (c.rate == 8000) speech = downsampleTo8k(speech);

    const RoundTrip trip = roundTrip(c.type, c.rate, speech);
    EXPECT_EQ(trip.format.compressionType, c.type);
    EXPECT_EQ(trip.format.sampleRate, c.rate);
    EXPECT_EQ(trip.decodedFrames, trip.encodedFrames);
    EXPECT_EQ(trip.decoded.size(), static_cast<size_t>(trip.decodedFrames) * c.samplesPerFrame);
    ASSERT_GE(trip.decoded.size(), speech.size());

    const auto quality = vxs::codec_io::compareSignals(speech.data(), speech.size(), trip.decoded.data(),
                                                       trip.decoded.size(), c.rate, c.rate * 30 / 1000);
    ASSERT_TRUE(quality.valid);
    printf("[ %s ] SNR %.2f dB, segmental SNR %.2f dB, level %.2f dB, delay %d samples, %zu bytes\n", c.name,
           quality.snrDb, quality.segmentalSnrDb, quality.levelDb, quality.delaySamples, trip.stream.size());
    // A silent output scores 0 dB SNR; the level check rules it out.
    EXPECT_NEAR(quality.levelDb, 0.0, 6.0);
    EXPECT_GT(quality.snrDb, c.minSnrDb);
    EXPECT_GT(quality.segmentalSnrDb, c.minSegmentalSnrDb);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, SpeechRoundTrip,
    // Floors sit well below what the codecs reach on this recording yet above
    // what a misaligned, reordered or garbled stream gives (below 0 dB). The
    // decoders' postfilters keep waveform SNRs of AMR low on noisy speech.
    ::testing::Values(CodecCase{"amr_wb_16k", vxs::EVR_AUDIO_COMPRESSION_AMR, 16000, 320, 2.5, 2.0},
                      CodecCase{"amr_nb_8k", vxs::EVR_AUDIO_COMPRESSION_AMR, 8000, 160, 1.0, -1.0},
                      CodecCase{"bv32_16k", vxs::EVR_AUDIO_COMPRESSION_BV32, 16000, 80, 7.0, 8.0},
                      CodecCase{"pcm_16k", vxs::EVR_AUDIO_COMPRESSION_PCM, 16000, 1, 100.0, 34.0}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

struct BadStream {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
};

class MalformedStream : public ::testing::TestWithParam<BadStream> {};

TEST_P(MalformedStream, IsRefusedWithAReason) {
    const BadStream& bad = GetParam();
    StreamFormat format;
    std::vector<int16_t> pcm;
    long frames = -1;
    std::string error;
    EXPECT_FALSE(vxs::codec_io::decodeStream(bad.bytes.data(), bad.bytes.size(), &format, &pcm, &frames, &error));
    EXPECT_NE(error.find(bad.reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MalformedStream,
    ::testing::Values(BadStream{"short_header", {7, 0, 0}, "shorter than"},
                      BadStream{"reserved_bytes", {7, 0, 1, 0}, "not zero"},
                      BadStream{"unknown_format", {2, 0, 0, 0}, "unknown format byte 2"},
                      BadStream{"odd_pcm", {5, 0, 0, 0, 1, 2, 3}, "odd number"},
                      BadStream{"bv_truncated", {4, 0, 0, 0, 1, 2, 3}, "truncated BroadVoice32"},
                      BadStream{"amr_truncated", {3, 0, 0, 0, 0x3C, 1, 2}, "truncated AMR frame at byte 0"},
                      BadStream{"amr_nb_reserved_type", {3, 0, 0, 0, 9 << 3 | 4}, "invalid AMR frame type 9"},
                      BadStream{"amr_wb_reserved_type", {7, 0, 0, 0, 12 << 3 | 4}, "invalid AMR frame type 12"}),
    [](const ::testing::TestParamInfo<BadStream>& info) { return info.param.name; });

TEST(StreamDecoder, TruncatedAmrStreamKeepsTheWholeFramesBeforeTheCut) {
    std::vector<int16_t> tone(320 * 5);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(8000 * std::sin(i * 0.07));
    RoundTrip trip = roundTrip(vxs::EVR_AUDIO_COMPRESSION_AMR, 16000, tone);
    ASSERT_EQ(trip.stream.size(), 4u + 5 * 41);
    for (size_t cut = 4; cut < trip.stream.size(); ++cut) {
        StreamFormat format;
        std::vector<int16_t> pcm;
        long frames = 0;
        std::string error;
        const bool ok = vxs::codec_io::decodeStream(trip.stream.data(), cut, &format, &pcm, &frames, &error);
        const long whole = static_cast<long>((cut - 4) / 41);
        EXPECT_EQ(ok, (cut - 4) % 41 == 0) << cut;
        EXPECT_EQ(frames, whole) << cut;
        EXPECT_EQ(pcm.size(), static_cast<size_t>(whole) * 320) << cut;
    }
}

TEST(StreamDecoder, FailedReopenRefusesToDecode) {
    std::vector<int16_t> tone(320, 1000);
    const RoundTrip trip = roundTrip(vxs::EVR_AUDIO_COMPRESSION_AMR, 16000, tone);
    const uint8_t* frame = trip.stream.data() + 4;
    const size_t frameBytes = trip.stream.size() - 4;

    vxs::codec_io::StreamDecoder decoder;
    std::string error;
    ASSERT_TRUE(decoder.open({vxs::EVR_AUDIO_COMPRESSION_AMR, 16000}, &error)) << error;
    for (const StreamFormat bad : {StreamFormat{vxs::EVR_AUDIO_COMPRESSION_AMR, 11025}, StreamFormat{9, 16000}}) {
        EXPECT_FALSE(decoder.open(bad, &error));
        std::vector<int16_t> pcm;
        EXPECT_FALSE(decoder.decodeFrames(frame, frameBytes, &pcm, &error));
        EXPECT_EQ(error, "decoder not open");
        EXPECT_TRUE(pcm.empty());
    }
}

TEST(SignalQuality, FindsTheCodecDelay) {
    std::vector<int16_t> reference(4000);
    for (size_t i = 0; i < reference.size(); ++i)
        reference[i] = static_cast<int16_t>(5000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.31));
    std::vector<int16_t> delayed(37, 0);
    delayed.insert(delayed.end(), reference.begin(), reference.end());
    for (size_t i = 0; i < delayed.size(); i += 2) delayed[i] = static_cast<int16_t>(delayed[i] + 50);

    const auto quality =
        vxs::codec_io::compareSignals(reference.data(), reference.size(), delayed.data(), delayed.size(), 8000, 80);
    ASSERT_TRUE(quality.valid);
    EXPECT_EQ(quality.delaySamples, 37);
    EXPECT_EQ(quality.comparedSamples, reference.size());
    EXPECT_NEAR(quality.snrDb, 10 * std::log10((5000.0 * 5000 + 3000.0 * 3000) / 2 / 1250.0), 0.5);
}

}  // namespace
