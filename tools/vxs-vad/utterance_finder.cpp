#include "utterance_finder.h"

#include "vad/dnn/dnn_vad_types.h"

namespace vxs_vad_tool {

using namespace vx_dnnvad;

namespace {
const int kFetchBytes = 163840;  // the VAD module's largest fetch
const float kUnlimitedFrames = 1073741824.0f;  // 2^30
}  // namespace

// Reports every frame decision, numbered from the stream start.
class UtteranceFinder::ReportingDetector : public CMFE {
public:
    ReportingDetector(UtteranceSink* sink, bool report) : m_sink(sink), m_report(report), frameOffset(0) {}
    int mfeVADOneFrame(int64_t frameIdx, bool unused) override {
        const int code = CMFE::mfeVADOneFrame(frameIdx, unused);
        if (m_report) m_sink->onFrame(frameOffset + frameIdx, g_AudioState[code]);
        return code;
    }

private:
    UtteranceSink* m_sink;
    bool m_report;

public:
    int64_t frameOffset;
};

UtteranceFinder::UtteranceFinder(UtteranceSink* sink)
    : m_sink(sink),
      m_mfe(nullptr),
      m_buffer(kFetchBytes),
      m_preState(SILENCE),
      m_curState(SILENCE),
      m_preResult(RET_SILENCE),
      m_stopped(false),
      m_offsetSamples(0),
      m_pushedSinceReset(0),
      m_utteranceStart(-1),
      m_utteranceSamples(0) {}

UtteranceFinder::~UtteranceFinder() { delete m_mfe; }

bool UtteranceFinder::init(const FinderOptions& options, std::string* error) {
    m_options = options;
    delete m_mfe;
    m_mfe = new ReportingDetector(m_sink, options.frames);
    configure();
    const int rc = m_mfe->mfeInit(options.dnnFile.c_str(), options.cmvnFile.c_str());
    if (rc != 0) {
        *error = "the detector failed to initialise (code " + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

// The VAD module's multi-sentence settings.
void UtteranceFinder::configure() {
    m_mfe->mfeSetParam(MFE_PARAM_SPEECH_START_THRESHOLD, 0.15f);
    m_mfe->mfeSetParam(MFE_PARAM_SPEECH_END_THRESHOLD, 0.1f);
    m_mfe->mfeSetParam(MFE_PARAM_SAMPLE_RATE, static_cast<float>(m_options.sampleRate));
    m_mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_DURATION, 5000);
    m_mfe->mfeSetParam(MFE_PARAM_MAX_SPEECH_PAUSE, 49);
    m_mfe->mfeSetParam(MFE_PARAM_START_BACK_FRAME, 40);
    m_mfe->mfeSetParam(MFE_PARAM_END_BACK_FRAME, 30);
    m_mfe->mfeSetParam(MFE_PARAM_USE_VAD, 1);
    m_mfe->mfeSetParam(MFE_PARAM_LOG_LEVEL, 0);
    m_mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION, m_options.longSpeech ? kUnlimitedFrames : 50);
    m_mfe->mfeSetParam(MFE_PARAM_MAX_WAIT_DURATION_BEGIN, m_options.longSpeech ? kUnlimitedFrames : 600);
}

// What the VAD proxy makes of a detector state.
int UtteranceFinder::resultOf(int state) const {
    switch (state) {
    case SILENCE: return RET_SILENCE;
    case NO_SPEECH:
        if (m_preState != SILENCE) return RET_SPEECH_TO_SILENCE;
        return m_options.longSpeech ? RET_SILENCE : RET_NO_SPEECH;
    case SPEECH_TOO_LONG: return RET_SPEECH_TOO_LONG;
    case SPEECH_PAUSE:
        return (m_options.longSpeech && m_preState != SPEECH_PAUSE) ? RET_SPEECH_TO_SILENCE : RET_SILENCE;
    default: return RET_SILENCE_TO_SPEECH;
    }
}

bool UtteranceFinder::push(const short* samples, int count, std::string* error) {
    if (m_stopped) return false;
    const int rc = m_mfe->mfeSendData(samples, count);
    if (rc < 0) {
        *error = "the detector refused the audio (code " + std::to_string(rc) + ")";
        m_stopped = true;
        return false;
    }
    m_pushedSinceReset += count;
    m_preState = m_curState;
    m_curState = m_mfe->mfeDNNDetect();
    int result = resultOf(m_curState);
    switch (result) {
    case RET_SILENCE:
        if (m_preResult == RET_SILENCE_TO_SPEECH) deliver();
        break;
    case RET_SILENCE_TO_SPEECH: deliver(); break;
    case RET_SPEECH_TO_SILENCE:
    case RET_SPEECH_TOO_LONG:
        close(m_curState == SPEECH_TOO_LONG ? "SPEECH_TOO_LONG"
                                            : (m_curState == SPEECH_PAUSE ? "SPEECH_PAUSE" : "NO_SPEECH"));
        if (!m_stopped) result = RET_SILENCE;
        break;
    case RET_NO_SPEECH:
        *error = "no speech";
        m_stopped = true;
        break;
    default:
        *error = "speech too short";
        m_stopped = true;
        break;
    }
    m_preResult = result;
    return !m_stopped;
}

void UtteranceFinder::deliver() {
    int got = 0;
    do {
        m_mfe->mfeGetCallbackData(m_buffer.data(), &got, kFetchBytes);
        if (got <= 0) break;
        if (m_utteranceStart < 0 && !m_mfe->segments().empty()) {
            m_utteranceStart = m_offsetSamples + m_mfe->segments().back().utt_s * (m_options.sampleRate / 100);
        }
        m_utteranceSamples += got / 2;
    } while (got == kFetchBytes);
}

void UtteranceFinder::close(const char* status) {
    deliver();
    emit(status);
    if (!m_options.longSpeech) {
        m_stopped = true;
        return;
    }
    m_mfe->mfeReset();
    m_offsetSamples += m_pushedSinceReset;
    m_pushedSinceReset = 0;
    m_mfe->frameOffset = m_offsetSamples / (m_options.sampleRate / 100);
    m_preState = m_curState = SILENCE;
}

void UtteranceFinder::emit(const char* status) {
    if (m_utteranceStart < 0 || m_mfe->segments().empty()) return;
    const _VADINFO_& segment = m_mfe->segments().back();
    const int64_t frameMs = 10;
    const int64_t lastSpeech = segment.speech_e >= 0 ? segment.speech_e : m_mfe->mfeGetLastSpeechFrame();
    Utterance u;
    const int64_t offsetMs = msOfSamples(m_offsetSamples);
    u.speechStartMs = offsetMs + segment.speech_s * frameMs;
    u.speechEndMs = offsetMs + lastSpeech * frameMs + 25;
    u.audioStartMs = msOfSamples(m_utteranceStart);
    u.audioEndMs = msOfSamples(m_utteranceStart + m_utteranceSamples);
    u.status = status;
    m_sink->onUtterance(u);
    m_utteranceStart = -1;
    m_utteranceSamples = 0;
}

void UtteranceFinder::finish() {
    if (!m_stopped) emit("END_OF_INPUT");
    m_stopped = true;
}

}  // namespace vxs_vad_tool
