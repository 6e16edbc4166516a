// vxs-vad [--rate 8000|16000] [--long-speech] [--frames] [--dnn FILE --cmvn FILE] AUDIO
//
// Runs the neural voice-activity detector over a WAV file or raw 16-bit mono
// PCM (then --rate is required) in 160 ms pushes with the VAD module's
// settings and prints one JSON line per utterance:
//   {"speech_start_ms":…,"speech_end_ms":…,"audio_start_ms":…,"audio_end_ms":…,"status":"…"}
// speech_*: the first speech frame's start and the last speech frame's window
// end; audio_*: the audio handed back for the utterance; status: what closed
// it. --frames adds {"frame":…,"code":"…"} for every analysed frame.
// --long-speech lifts the wait limits and resets the detector after each
// utterance, so that every sentence of a long recording is found.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio_file.h"
#include "utterance_finder.h"

namespace {

const char kNetworkName[] = "vxs_easr_mfe_dnn.dat";
const char kCmvnName[] = "vxs_easr_mfe_cmvn.dat";

struct Arguments {
    int rate = 0;
    bool longSpeech = false;
    bool frames = false;
    std::string dnn, cmvn, audio;
};

void usage() {
    std::fprintf(stderr,
                 "usage: vxs-vad [--rate 8000|16000] [--long-speech] [--frames] [--dnn FILE --cmvn FILE] AUDIO\n");
}

bool parseArguments(int argc, char** argv, Arguments* args) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--rate" && hasValue) {
            args->rate = std::atoi(argv[++i]);
            if (args->rate != 8000 && args->rate != 16000) return false;
        } else if (a == "--long-speech") {
            args->longSpeech = true;
        } else if (a == "--frames") {
            args->frames = true;
        } else if (a == "--dnn" && hasValue) {
            args->dnn = argv[++i];
        } else if (a == "--cmvn" && hasValue) {
            args->cmvn = argv[++i];
        } else if (!a.empty() && a[0] != '-' && args->audio.empty()) {
            args->audio = a;
        } else {
            return false;
        }
    }
    return !args->audio.empty() && args->dnn.empty() == args->cmvn.empty();
}

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The shipped model: installed next to the library, else in the source tree.
bool findShippedModel(std::string* dnn, std::string* cmvn) {
    for (const char* dir : {VXS_VAD_INSTALLED_MODELS, VXS_VAD_SOURCE_MODELS}) {
        const std::string d = std::string(dir) + "/" + kNetworkName;
        const std::string c = std::string(dir) + "/" + kCmvnName;
        if (isFile(d) && isFile(c)) {
            *dnn = d;
            *cmvn = c;
            return true;
        }
    }
    return false;
}

class JsonLines : public vxs_vad_tool::UtteranceSink {
public:
    void onUtterance(const vxs_vad_tool::Utterance& u) override {
        std::printf("{\"speech_start_ms\":%lld,\"speech_end_ms\":%lld,\"audio_start_ms\":%lld,\"audio_end_ms\":%lld,"
                    "\"status\":\"%s\"}\n",
                    static_cast<long long>(u.speechStartMs), static_cast<long long>(u.speechEndMs),
                    static_cast<long long>(u.audioStartMs), static_cast<long long>(u.audioEndMs), u.status.c_str());
    }
    void onFrame(int64_t frame, const char* code) override {
        std::printf("{\"frame\":%lld,\"code\":\"%s\"}\n", static_cast<long long>(frame), code);
    }
};

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!parseArguments(argc, argv, &args)) {
        usage();
        return 2;
    }
    if (args.dnn.empty() && !findShippedModel(&args.dnn, &args.cmvn)) {
        std::fprintf(stderr, "vxs-vad: no shipped model (%s, %s) found; give --dnn FILE --cmvn FILE\n", kNetworkName,
                     kCmvnName);
        return 2;
    }
    vxs_vad_tool::Audio audio;
    std::string error;
    if (!vxs_vad_tool::readAudioFile(args.audio, args.rate, &audio, &error)) {
        std::fprintf(stderr, "vxs-vad: %s\n", error.c_str());
        return 1;
    }
    JsonLines out;
    vxs_vad_tool::UtteranceFinder finder(&out);
    vxs_vad_tool::FinderOptions options;
    options.sampleRate = audio.sampleRate;
    options.longSpeech = args.longSpeech;
    options.frames = args.frames;
    options.dnnFile = args.dnn;
    options.cmvnFile = args.cmvn;
    if (!finder.init(options, &error)) {
        std::fprintf(stderr, "vxs-vad: %s\n", error.c_str());
        return 1;
    }
    const size_t step = static_cast<size_t>(finder.pushSamples());
    bool running = true;
    for (size_t pos = 0; running && pos < audio.samples.size(); pos += step) {
        const size_t n = audio.samples.size() - pos < step ? audio.samples.size() - pos : step;
        running = finder.push(audio.samples.data() + pos, static_cast<int>(n), &error);
    }
    if (running) finder.finish();
    if (!error.empty()) std::fprintf(stderr, "vxs-vad: %s\n", error.c_str());
    return 0;
}
