// Runs the neural detector over a whole stream the way the VAD module drives
// it in long-speech mode (start threshold 0.15, end threshold 0.1, pause 49
// frames, no wait limits, 160 ms pushes with a detection pass and a hand-back
// after each) and collects each frame's decision and the utterances found.
//
// Threading: reentrant; every call builds its own detector.
#ifndef VXS_TOOLS_VAD_EVAL_NEURAL_RUN_H
#define VXS_TOOLS_VAD_EVAL_NEURAL_RUN_H

#include <cstdint>
#include <string>
#include <vector>

namespace vad_eval {

struct NeuralUtterance {
    int64_t speechStartFrame;  // first speech frame
    int64_t speechEndFrame;    // last speech frame
};

struct NeuralRun {
    std::vector<uint8_t> speechFrames;  // 1 where the frame decision is speech
    std::vector<NeuralUtterance> utterances;
};

// False with `error` set when the detector cannot be initialised or refuses a push.
bool runNeuralDetector(const std::vector<int16_t>& pcm, int sampleRate, const std::string& dnnFile,
                       const std::string& cmvnFile, NeuralRun* run, std::string* error);

}  // namespace vad_eval

#endif
