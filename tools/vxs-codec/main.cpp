// vxs-codec: encodes PCM as the library sends it, decodes such streams, and
// measures what the coding costs.
//
//   vxs-codec encode --codec pcm|bv32|amr --rate 8000|16000 [--raw] [--compare REF.pcm] IN.pcm OUT
//   vxs-codec decode [--raw --codec C --rate R] [--compare REF.pcm] IN OUT.pcm
//
// Prints one line of JSON: frames, bytes, kbit/s (coded frames, header left
// out) and, with --compare, the SNR, segmental SNR and level in dB of the
// decoded audio against REF at the best-aligning codec delay.
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
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

struct Options {
    std::string command;
    std::string codec;
    int rate = 0;
    bool raw = false;
    std::string compare;
    std::string input;
    std::string output;
};

int usage() {
    fprintf(stderr,
            "usage: vxs-codec encode --codec pcm|bv32|amr --rate 8000|16000 [--raw] [--compare REF.pcm] IN.pcm OUT\n"
            "       vxs-codec decode [--raw --codec pcm|bv32|amr --rate 8000|16000] [--compare REF.pcm] IN OUT.pcm\n");
    return 2;
}

bool parseOptions(int argc, char** argv, Options* options) {
    if (argc < 2) return false;
    options->command = argv[1];
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--codec" && hasValue) {
            options->codec = argv[++i];
        } else if (arg == "--rate" && hasValue) {
            options->rate = std::atoi(argv[++i]);
        } else if (arg == "--compare" && hasValue) {
            options->compare = argv[++i];
        } else if (arg == "--raw") {
            options->raw = true;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return false;
    options->input = positional[0];
    options->output = positional[1];
    return options->command == "encode" || options->command == "decode";
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::vector<int16_t> toSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

bool formatFromOptions(const Options& options, StreamFormat* format) {
    format->compressionType = vxs::codec_io::compressionTypeFromName(options.codec);
    format->sampleRate = options.rate;
    return format->compressionType != 0 && (options.rate == 8000 || options.rate == 16000);
}

int fail(const std::string& what) {
    fprintf(stderr, "vxs-codec: %s\n", what.c_str());
    return 1;
}

struct Summary {
    StreamFormat format;
    long frames = 0;
    size_t bytes = 0;          // what the output file holds
    size_t payloadBytes = 0;   // coded frames only, without the header
    double seconds = 0.0;
};

int printSummary(const Options& options, const Summary& summary, const std::vector<int16_t>* decoded) {
    cJSON* json = cJSON_CreateObject();
    cJSON_AddStringToObject(json, "command", options.command.c_str());
    cJSON_AddStringToObject(json, "codec", vxs::codec_io::compressionTypeName(summary.format.compressionType));
    cJSON_AddNumberToObject(json, "rate", summary.format.sampleRate);
    cJSON_AddNumberToObject(json, "frames", static_cast<double>(summary.frames));
    cJSON_AddNumberToObject(json, "bytes", static_cast<double>(summary.bytes));
    cJSON_AddNumberToObject(json, "seconds", summary.seconds);
    const double kbps = summary.seconds > 0 ? summary.payloadBytes * 8.0 / summary.seconds / 1000.0 : 0.0;
    cJSON_AddNumberToObject(json, "kbps", kbps);
    int rc = 0;
    if (!options.compare.empty() && decoded != nullptr) {
        std::vector<uint8_t> refBytes;
        if (!readFile(options.compare, &refBytes)) {
            rc = fail("cannot read " + options.compare);
        } else {
            const std::vector<int16_t> reference = toSamples(refBytes);
            const int maxDelay = summary.format.sampleRate * 30 / 1000;
            const vxs::codec_io::SignalQuality quality =
                vxs::codec_io::compareSignals(reference.data(), reference.size(), decoded->data(), decoded->size(),
                                              summary.format.sampleRate, maxDelay);
            cJSON_AddNumberToObject(json, "snr_db", quality.snrDb);
            cJSON_AddNumberToObject(json, "segsnr_db", quality.segmentalSnrDb);
            cJSON_AddNumberToObject(json, "level_db", quality.levelDb);
            cJSON_AddNumberToObject(json, "delay_samples", quality.delaySamples);
            if (!quality.valid) rc = fail("nothing to compare");
        }
    }
    char* line = cJSON_PrintUnformatted(json);
    printf("%s\n", line);
    cJSON_free(line);
    cJSON_Delete(json);
    return rc;
}

int runEncode(const Options& options) {
    Summary summary;
    if (!formatFromOptions(options, &summary.format)) return usage();
    std::vector<uint8_t> input;
    if (!readFile(options.input, &input)) return fail("cannot read " + options.input);
    if (input.size() % 2 != 0) return fail(options.input + " holds an odd number of bytes, not 16-bit PCM");
    vxs::Memory::vxs_shared_ptr<vxs::AudioEncoderBase> encoder =
        vxs::createAudioEncoder(summary.format.compressionType, summary.format.sampleRate);
    if (!encoder) return fail("cannot create the encoder");

    const std::vector<int16_t> pcm = toSamples(input);
    std::vector<uint8_t> encoded;
    std::string error;
    if (!vxs::codec_io::encodeInPackages(*encoder, pcm.data(), pcm.size(), &encoded, &summary.frames, &error))
        return fail(error);
    const size_t headerBytes = encoded.empty() ? 0 : vxs::codec_io::kStreamHeaderBytes;
    const size_t skip = options.raw ? headerBytes : 0;
    if (!writeFile(options.output, encoded.data() + skip, encoded.size() - skip))
        return fail("cannot write " + options.output);
    summary.bytes = encoded.size() - skip;
    summary.payloadBytes = encoded.size() - headerBytes;
    // The coded duration, the last frame's padding included, so kbit/s is the codec's own rate.
    const double codedSamples = static_cast<double>(summary.frames) * encoder->getEncoderFrameSize_bytes() / 2;
    summary.seconds = codedSamples / summary.format.sampleRate;

    std::vector<int16_t> decoded;
    if (!options.compare.empty() && !encoded.empty()) {
        StreamFormat format;
        long frames = 0;
        if (!vxs::codec_io::decodeStream(encoded.data(), encoded.size(), &format, &decoded, &frames, &error))
            return fail(error);
    }
    return printSummary(options, summary, &decoded);
}

int runDecode(const Options& options) {
    Summary summary;
    std::vector<uint8_t> input;
    if (!readFile(options.input, &input)) return fail("cannot read " + options.input);
    size_t offset = 0;
    std::string error;
    if (options.raw) {
        if (!formatFromOptions(options, &summary.format)) return usage();
    } else {
        if (!vxs::codec_io::readStreamHeader(input.data(), input.size(), &summary.format, &error)) return fail(error);
        offset = vxs::codec_io::kStreamHeaderBytes;
    }
    vxs::codec_io::StreamDecoder decoder;
    if (!decoder.open(summary.format, &error)) return fail(error);
    std::vector<int16_t> decoded;
    const bool ok = decoder.decodeFrames(input.data() + offset, input.size() - offset, &decoded, &error);
    if (!writeFile(options.output, decoded.data(), decoded.size() * 2)) return fail("cannot write " + options.output);
    if (!ok) return fail(error);
    summary.frames = decoder.framesDecoded();
    summary.bytes = input.size();
    summary.payloadBytes = input.size() - offset;
    summary.seconds = static_cast<double>(decoded.size()) / summary.format.sampleRate;
    return printSummary(options, summary, &decoded);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) return usage();
    return options.command == "encode" ? runEncode(options) : runDecode(options);
}
