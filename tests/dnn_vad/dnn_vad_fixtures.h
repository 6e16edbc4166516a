// Fixtures of the detector tests: a scratch directory, tiny model files whose
// outputs the test controls, test audio and a detector with a scripted
// per-frame decision.
#ifndef VXS_TESTS_DNN_VAD_FIXTURES_H
#define VXS_TESTS_DNN_VAD_FIXTURES_H

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "vad/dnn/cmvn_file.h"
#include "vad/dnn/detector.h"
#include "vad/dnn/dnn_vad_types.h"
#include "vad/dnn/network_file.h"

namespace dnnvad_test {

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/dnn_vad_test_XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "/tmp";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

const int kFeatures = 26;

// A network of widths 26*context -> 9 (no hidden layer) whose speech units
// 3..8 win when the mean log mel energy is above 12 and units 0..2 win below:
// noise of amplitude 3000 reads as speech, amplitude 2 or digital silence as
// silence. With `alwaysSilence` the units 0..2 win whatever the input.
inline std::vector<float> energyNetworkParams(int context, bool alwaysSilence) {
    const int in = kFeatures * context;
    std::vector<float> params;
    for (int o = 0; o < 9; ++o) {
        const float sign = (o >= 3) ? 1.0f : -1.0f;
        for (int j = 0; j < in; ++j) params.push_back(alwaysSilence ? 0.0f : sign / in);
    }
    for (int o = 0; o < 9; ++o) params.push_back(alwaysSilence ? (o < 3 ? 30.0f : -30.0f) : (o < 3 ? 12.0f : -12.0f));
    return params;
}

inline std::string writeEnergyNetwork(const ScratchDir& dir, int context = 1, bool alwaysSilence = false) {
    const std::string path = dir.file(alwaysSilence ? "silent_net.dat" : "energy_net.dat");
    vx_dnnvad::writeNetworkFile(path.c_str(), {kFeatures * context, 9}, energyNetworkParams(context, alwaysSilence));
    return path;
}

inline std::string writeIdentityCmvn(const ScratchDir& dir) {
    const std::string path = dir.file("cmvn.dat");
    std::vector<float> mean(kFeatures, 0.0f), revVar(kFeatures, 1.0f);
    vx_dnnvad::writeCmvnFile(path.c_str(), mean.data(), revVar.data(), kFeatures);
    return path;
}

// Deterministic white noise of the given amplitude.
inline std::vector<short> noise(size_t count, int amplitude, uint32_t seed = 12345) {
    std::vector<short> out(count);
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = static_cast<short>(static_cast<int>(seed >> 16) % (2 * amplitude + 1) - amplitude);
    }
    return out;
}

inline void append(std::vector<short>* to, const std::vector<short>& more) { to->insert(to->end(), more.begin(), more.end()); }

// A detector whose per-frame decision comes from a script instead of the
// network; it records every frame it is asked about. Frames beyond the script
// are silence.
class ScriptedMFE : public vx_dnnvad::CMFE {
public:
    int mfeVADOneFrame(int64_t frameIdx, bool) override {
        analysed.push_back(frameIdx);
        return frameIdx < static_cast<int64_t>(codes.size()) ? codes[frameIdx] : vx_dnnvad::SIL2SIL;
    }
    // Speech on frames [from, to): an onset, speech and the frame that ends it.
    void speech(int64_t from, int64_t to) {
        if (static_cast<int64_t>(codes.size()) < to) codes.resize(to, vx_dnnvad::SIL2SIL);
        for (int64_t f = from; f < to; ++f) codes[f] = vx_dnnvad::SPEECH2SPEECH;
        codes[from] = vx_dnnvad::SIL2SPEECH;
        codes[to - 1] = vx_dnnvad::SPEECH2SIL;
    }

    std::vector<int> codes;
    std::vector<int64_t> analysed;
};

}  // namespace dnnvad_test

#endif
