#include "neural_run.h"

#include <algorithm>

#include "vad/dnn/detector.h"

namespace vad_eval {

namespace {

const float kUnlimitedFrames = 1073741824.0f;

// Frame codes of the windowed decision.
const int kSpeechToSpeech = 0;
const int kSilenceToSpeech = 3;

class RecordingDetector : public vx_dnnvad::CMFE {
public:
    explicit RecordingDetector(std::vector<uint8_t>* frames) : m_frames(frames) {}
    int mfeVADOneFrame(int64_t frameIdx, bool unused) override {
        const int code = CMFE::mfeVADOneFrame(frameIdx, unused);
        // A frame that closes an utterance is analysed twice; the later call counts.
        if (frameIdx >= static_cast<int64_t>(m_frames->size())) m_frames->resize(frameIdx + 1, 0);
        (*m_frames)[frameIdx] = (code == kSpeechToSpeech || code == kSilenceToSpeech) ? 1 : 0;
        return code;
    }

private:
    std::vector<uint8_t>* m_frames;
};

void configure(RecordingDetector* mfe, int sampleRate) {
    using namespace vx_dnnvad;
    mfe->mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
    mfe->mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
    mfe->mfeSetParam(MFE_PARAM_SAMPLE_RATE, static_cast<float>(sampleRate));
    mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_DURATION, 5000);
    mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 49);
    mfe->mfeSetParam(MFE_PARAM_START_BACK_FRAME, 40);
    mfe->mfeSetParam(MFE_PARAM_END_BACK_FRAME, 30);
    mfe->mfeSetParam(MFE_PARAM_USE_VAD, 1);
    mfe->mfeSetParam(MFE_PARAM_LOG_LEVEL, 0);
    mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, kUnlimitedFrames);
    mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, kUnlimitedFrames);
}

}  // namespace

bool runNeuralDetector(const std::vector<int16_t>& pcm, int sampleRate, const std::string& dnnFile,
                       const std::string& cmvnFile, NeuralRun* run, std::string* error) {
    run->speechFrames.clear();
    run->utterances.clear();
    RecordingDetector mfe(&run->speechFrames);
    configure(&mfe, sampleRate);
    if (mfe.mfeInit(dnnFile.c_str(), cmvnFile.c_str()) != 0) {
        *error = "cannot load the model files " + dnnFile + " and " + cmvnFile;
        return false;
    }
    const size_t push = static_cast<size_t>(sampleRate / 100 * 16);
    std::vector<char> handBack(1 << 20);
    for (size_t at = 0; at < pcm.size(); at += push) {
        const int count = static_cast<int>(std::min(push, pcm.size() - at));
        if (mfe.mfeSendData(pcm.data() + at, count) != 0) {
            *error = "the detector refused a push";
            return false;
        }
        mfe.mfeDNNDetect();
        int len = 0;
        mfe.mfeGetCallbackData(handBack.data(), &len, static_cast<int>(handBack.size()));
    }
    const int64_t lastFrame = static_cast<int64_t>(run->speechFrames.size()) - 1;
    for (const vx_dnnvad::_VADINFO_& segment : mfe.segments()) {
        const int64_t end = segment.speech_e >= 0 ? segment.speech_e : mfe.mfeGetLastSpeechFrame();
        run->utterances.push_back({segment.speech_s, std::min(end, lastFrame)});
    }
    return true;
}

}  // namespace vad_eval
