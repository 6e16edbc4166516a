// vad-eval HELDOUT_DIR [DNN_FILE CMVN_FILE]
//
// Scores the neural voice-activity detector (default: the models shipped in
// models/) and WebRTC's voice detection at its default and most aggressive
// settings on the held-out streams listed in HELDOUT_DIR/manifest.txt
// (written by tools/vad-train/train), per condition (clean, 10 dB, 0 dB SNR):
// frame precision, recall and F1 of speech, and per labelled sentence
// whether it was found or split, false utterances, and the median start and
// end errors of the detected utterances.
//
// Frames: frame f is the 25 ms window starting at 10 f ms, as in the
// detector. WebRTC decides on 10 ms blocks; its block f + 1 (the middle of
// window f) is compared with label f. WebRTC's utterances are its speech
// frames merged across gaps up to the detector's pause limit (49 frames).
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "neural_run.h"
#include "scoring.h"
#include "webrtc_run.h"

namespace {

const int kWindowMs = 25;
const int kPauseFrames = 49;

struct Stream {
    std::string raw;
    int rate = 0;
    std::string condition;
    std::vector<uint8_t> labels;
    std::vector<vad_eval::Span> sentences;
};

bool readPcm(const std::string& path, std::vector<int16_t>* pcm) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pcm->resize(bytes.size() / 2);
    for (size_t i = 0; i < pcm->size(); ++i) {
        (*pcm)[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    return true;
}

bool readLabels(const std::string& path, std::vector<uint8_t>* labels) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return false;
    labels->clear();
    for (char c : line) labels->push_back(c == '1' ? 1 : 0);
    return true;
}

std::vector<vad_eval::Span> parseSentences(const std::string& text) {
    std::vector<vad_eval::Span> spans;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        long a = 0, b = 0;
        if (sscanf(item.c_str(), "%ld-%ld", &a, &b) == 2 && b > a) spans.push_back({a * 10, (b - 1) * 10 + kWindowMs});
    }
    return spans;
}

bool readManifest(const std::string& dir, std::vector<Stream>* streams) {
    std::ifstream in(dir + "/manifest.txt");
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        Stream s;
        std::string labels, sentences;
        if (!(ss >> s.raw >> s.rate >> s.condition >> labels >> sentences)) continue;
        s.raw = dir + "/" + s.raw;
        if (!readLabels(dir + "/" + labels, &s.labels)) return false;
        s.sentences = parseSentences(sentences);
        streams->push_back(s);
    }
    return !streams->empty();
}

std::vector<vad_eval::Span> neuralSpans(const vad_eval::NeuralRun& run) {
    std::vector<vad_eval::Span> spans;
    for (const vad_eval::NeuralUtterance& u : run.utterances) {
        spans.push_back({u.speechStartFrame * 10, u.speechEndFrame * 10 + kWindowMs});
    }
    return spans;
}

// WebRTC block f + 1 onto label frame f.
std::vector<uint8_t> alignWebRtc(const std::vector<uint8_t>& blocks) {
    if (blocks.size() < 2) return {};
    return std::vector<uint8_t>(blocks.begin() + 1, blocks.end());
}

void printRow(const std::string& condition, const std::string& name, const vad_eval::Score& s) {
    printf("%-6s %-17s %6.3f %6.3f %6.3f   %3d %5d %5d %5d   %+7.0f %+7.0f   %6.0f %6.0f\n", condition.c_str(),
           name.c_str(), s.precision(), s.recall(), s.f1(), s.sentences(), s.found(), s.split(), s.falseUtterances(),
           s.medianStartErrorMs(), s.medianEndErrorMs(), s.medianAbsStartErrorMs(), s.medianAbsEndErrorMs());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: vad-eval HELDOUT_DIR [DNN_FILE CMVN_FILE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string dnn = argc == 4 ? argv[2] : std::string(VXS_SOURCE_MODELS) + "/vxs_easr_mfe_dnn.dat";
    const std::string cmvn = argc == 4 ? argv[3] : std::string(VXS_SOURCE_MODELS) + "/vxs_easr_mfe_cmvn.dat";
    std::vector<Stream> streams;
    if (!readManifest(dir, &streams)) {
        fprintf(stderr, "vad-eval: cannot read %s/manifest.txt or its label files\n", dir.c_str());
        return 1;
    }
    const char* names[] = {"ours", "webrtc-default", "webrtc-aggressive"};
    std::vector<std::string> conditions;
    std::map<std::string, vad_eval::Score> scores[3];
    for (const Stream& s : streams) {
        std::vector<int16_t> pcm;
        if (!readPcm(s.raw, &pcm)) {
            fprintf(stderr, "vad-eval: cannot read %s\n", s.raw.c_str());
            return 1;
        }
        if (scores[0].find(s.condition) == scores[0].end()) conditions.push_back(s.condition);
        vad_eval::NeuralRun run;
        std::string error;
        if (!vad_eval::runNeuralDetector(pcm, s.rate, dnn, cmvn, &run, &error)) {
            fprintf(stderr, "vad-eval: %s\n", error.c_str());
            return 1;
        }
        scores[0][s.condition].addFrames(run.speechFrames, s.labels);
        scores[0][s.condition].addUtterances(s.sentences, neuralSpans(run));
        const vad_eval::WebRtcSetting settings[] = {vad_eval::WebRtcSetting::Default,
                                                    vad_eval::WebRtcSetting::MostAggressive};
        for (int k = 0; k < 2; ++k) {
            std::vector<uint8_t> blocks;
            if (!vad_eval::runWebRtcVad(pcm, s.rate, settings[k], &blocks)) {
                fprintf(stderr, "vad-eval: WebRTC voice detection failed on %s\n", s.raw.c_str());
                return 1;
            }
            const std::vector<uint8_t> frames = alignWebRtc(blocks);
            scores[k + 1][s.condition].addFrames(frames, s.labels);
            scores[k + 1][s.condition].addUtterances(s.sentences,
                                                     vad_eval::spansOfFrames(frames, kPauseFrames, kWindowMs));
        }
    }
    printf("%zu held-out streams (8 and 16 kHz)\n", streams.size());
    printf("%-6s %-17s %6s %6s %6s   %3s %5s %5s %5s   %7s %7s   %6s %6s\n", "cond", "detector", "prec", "recall",
           "F1", "snt", "found", "split", "false", "start", "end", "|start|", "|end|");
    for (const std::string& c : conditions) {
        for (int k = 0; k < 3; ++k) printRow(c, names[k], scores[k][c]);
    }
    printf("start/end: median error of detected minus labelled speech, ms (|..|: median absolute error)\n");
    return 0;
}
