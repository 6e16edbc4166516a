// Utterance segmentation of CMFE: the detection pass over newly completed
// frames, the pause/wait/length rules, pause adaptation, the segment list and
// the end-of-input status.
#include <algorithm>

#include "vad/dnn/detector.h"
#include "vad/dnn/dnn_vad_print.h"

namespace vx_dnnvad {

namespace {
const int kBlipFrames = 9;  // a first utterance this short is forgotten
const int kStatusNone = -1;
}  // namespace

int CMFE::mfeReturnStatus(int /*ignored*/) {
    return (m_nVADCurState >= SILENCE && m_nVADCurState <= SPEECH_PAUSE) ? m_nVADCurState : SILENCE;
}

int CMFE::detectionPassDisabled() {
    m_lSample_process = m_lSample;
    const int64_t frames = mfeGetFrame(m_lSample);
    if (m_vecVadInfo.empty()) {
        m_vecVadInfo.push_back(_VADINFO_{0, frames, 0, frames, frames});
    } else {
        m_vecVadInfo.back().utt_e = frames;
        m_vecVadInfo.back().speech_e = frames;
        m_vecVadInfo.back().held_e = frames;
    }
    return m_bIsNull ? SPEECH_TO_SILENCE : SILENCE_TO_SPEECH;
}

void CMFE::copyFrameSamples(int64_t f) {
    const int capacity = ring8kCapacity();
    const int index = static_cast<int>(static_cast<int64_t>(m_n8kFrameShift) * f % capacity);
    copyFromRing(m_pData8k, capacity, index, m_n8kFrameLength, m_pFrameSamples);
}

int CMFE::mfeDNNDetect() {
    m_bFetchedSincePass = false;
    if (!m_bUseVAD) return detectionPassDisabled();
    if (m_nIsFinishFlag == 1) return UserStop();
    if (!m_bInitialised) return mfeReturnStatus(0);

    const int64_t from = m_lVADResultCurLoc;
    m_lVADResultStartLoc = from;
    const int64_t avail =
        m_lSample8k < m_n8kFrameLength ? 0 : (m_lSample8k - m_n8kFrameLength) / m_n8kFrameShift + 1;
    m_lVADResultCurLoc = avail;
    m_lFrameCnt = from;
    if (from < m_lVADStartFrame) {
        if (avail <= m_lVADStartFrame) {
            m_lVADResultStartLoc = avail;
            return mfeReturnStatus(0);
        }
        m_lVADResultStartLoc = m_lVADStartFrame;
    }
    if (avail == from) return mfeReturnStatus(0);

    m_lSampleEnd = m_lSample_process;
    m_lSample_process = m_lSample;
    m_nVADCurState = m_nVADLastState;
    if (m_nVADLastState == SILENCE || m_nVADLastState == SPEECH_PAUSE) m_nFirstFrame = avail;

    for (int64_t f = m_lFrameCnt; f < avail; ++f) {
        copyFrameSamples(f);
        int code = mfeVADOneFrame(f, false);
        if (code < SPEECH2SPEECH || code > INVALID) code = INVALID;
        m_nLastFrameCode = code;
        if (m_iLogLevel > 0) {
            VX_DNNVAD_PRINT("DEBUG:[%s:%d]frame:%d, vadstate:%s\n", static_cast<int>(f), g_AudioState[code]);
        }
        m_pFrameState[f % m_nRingFrames] = static_cast<unsigned char>(code);
        const int status = onFrameCode(f, code);
        if (status != kStatusNone) return status;
        mfeAdjustPauseThreshold(f - m_nFirstFrame);
        m_lFrameCnt = f + 1;
    }
    if (m_nVADCurState == SPEECH_TO_SILENCE && m_lFrameCnt - m_nLastSpeechFrame > m_nEndBackFrame) {
        m_lSampleEnd = mfeGetSamplespot(m_nLastSpeechFrame + m_nEndBackFrame);
    } else {
        m_lSampleEnd = m_lSample_process;
    }
    MakeSegment();
    return m_nVADCurState;
}

// Applies frame f's decision. Returns a status that ends the pass at once, or
// kStatusNone to go on with the next frame.
int CMFE::onFrameCode(int64_t f, int code) {
    switch (code) {
    case SPEECH2SPEECH:
        m_nVADCurState = SILENCE_TO_SPEECH;
        m_nLastSpeechFrame = f;
        if (f - m_nFirstFrame > m_nMax_Speech_Duration) m_nVADCurState = SPEECH_TOO_LONG;
        return kStatusNone;
    case SPEECH2SIL:
        m_nLastSpeechFrame = f;
        m_nVADCurState = SILENCE_TO_SPEECH;
        m_nMax_Wait_Duration = m_nMax_Wait_Duration_fix;
        return kStatusNone;
    case SIL2SPEECH:
        m_nVADCurState = SILENCE_TO_SPEECH;
        m_nStartFrame = f;
        m_nEndFrame = m_nLastSpeechFrame;
        m_nLastSpeechFrame = f;
        m_nLookForStart += 1;
        m_nFirstFrame = std::min(m_nFirstFrame, f);
        return kStatusNone;
    case SIL2SIL: return onSilentFrame(f);
    default: return kStatusNone;  // NOTBEGIN, INVALID: nothing changes
    }
}

// The silence rules, first match wins. Returns a status that ends the pass at
// once, or kStatusNone to go on with the next frame.
int CMFE::onSilentFrame(int64_t f) {
    const int64_t sil = f - m_nLastSpeechFrame;
    const bool noSpeechYet = m_nLastSpeechFrame == 0;
    if ((noSpeechYet && sil > m_nMax_Wait_Duration_Begin) || (!noSpeechYet && sil > m_nMax_Wait_Duration)) {
        m_nVADCurState = NO_SPEECH;
        m_nMax_Speech_Pause = m_nMax_Speech_Pause_fix;
        return NO_SPEECH;
    }
    if (noSpeechYet) {
        m_nVADCurState = SILENCE;
    } else if (m_nVADLastState == SPEECH_PAUSE) {
        m_nVADCurState = SPEECH_PAUSE;
    } else if (sil > m_nMax_Speech_Pause) {
        closeUtterance(f);
        return SPEECH_PAUSE;
    } else if (sil > m_nEndBackFrame) {
        m_lSampleEnd = mfeGetSamplespot(m_nLastSpeechFrame + m_nEndBackFrame);
        m_nVADCurState = SPEECH_TO_SILENCE;
    } else if (m_nLookForStart != 0) {
        m_nVADCurState = SPEECH_TO_SILENCE;
    } else {
        m_nVADCurState = m_nVADLastState;
    }
    return kStatusNone;
}

void CMFE::appendSegment(int64_t uttStart) {
    m_vecVadInfo.push_back(_VADINFO_{uttStart, -1, m_nFirstFrame, -1, -1});
}

// The windowed decision holds speech for up to a window after the network lets
// go; the utterance's timing keeps that hold, but its reported end is the last
// frame the network itself called speech.
int64_t CMFE::reportedSpeechEnd(int64_t speechStart) const {
    if (m_nLastVoicedFrame >= speechStart && m_nLastVoicedFrame <= m_nLastSpeechFrame) return m_nLastVoicedFrame;
    return m_nLastSpeechFrame;
}

int64_t CMFE::latestSpeechStart() const { return m_vecVadInfo.empty() ? m_nStartFrame : m_vecVadInfo.back().speech_s; }

// Closes the current utterance at silent frame f. The next pass starts again
// at f, so that frame is analysed a second time.
void CMFE::closeUtterance(int64_t f) {
    if (m_vecVadInfo.empty()) appendSegment(std::max(m_nFirstFrame - m_nStartBackFrame, m_lVADStartFrame));
    _VADINFO_& segment = m_vecVadInfo.back();
    segment.held_e = m_nLastSpeechFrame;
    segment.speech_e = reportedSpeechEnd(segment.speech_s);
    segment.utt_e = std::min(m_nLastSpeechFrame + m_nEndBackFrame, f);
    m_nMax_Speech_Pause = m_nMax_Speech_Pause_fix;
    m_nVADCurState = SPEECH_PAUSE;
    m_lSample_process = mfeGetSamplespot(f);
    m_lSampleEnd = std::min(mfeGetSamplespot(m_nLastSpeechFrame + m_nEndBackFrame), m_lSample_process);
    m_nLookForStart = 0;
    m_lVADResultCurLoc = f;
    m_lFrameCnt = f + 1;
    if (m_vecVadInfo.size() == 1) {
        const int64_t length = m_nLastSpeechFrame - m_vecVadInfo.front().speech_s;
        if (length <= kBlipFrames) {
            m_nLastSpeechFrame = 0;  // forgotten: the begin-wait applies again
        } else if (length < m_nMin_Speech_Duration) {
            m_nMax_Wait_Duration = m_nMax_Wait_Duration_ShortSpeech;
        }
    }
}

void CMFE::mfeAdjustPauseThreshold(int64_t n) {
    const int limit = m_nMax_Speech_Duration > 1999 ? 1000 : m_nMax_Speech_Duration / 2;
    if (n <= limit) return;
    m_nMax_Speech_Pause = static_cast<int>((1.0f - static_cast<float>(n) / (m_nMax_Speech_Duration + 0.01f)) *
                                           static_cast<float>(m_nMax_Speech_Pause_fix));
    if (m_iLogLevel != 0) VX_DNNVAD_PRINT("DEBUG:[%s:%d]m_nMax_Speech_Pause = %d\n\n", m_nMax_Speech_Pause);
}

int CMFE::MakeSegment() {
    const int cur = m_nVADCurState;
    const int last = m_nVADLastState;
    if (!m_vecVadInfo.empty() && last != SPEECH_PAUSE) {
        _VADINFO_& open = m_vecVadInfo.back();
        open.utt_e = m_lFrameCnt;
        open.held_e = m_nLastSpeechFrame;
        open.speech_e = reportedSpeechEnd(open.speech_s);
    }
    if (cur == SILENCE_TO_SPEECH && last == SILENCE) {
        appendSegment(std::max(m_nFirstFrame - m_nStartBackFrame, m_lVADStartFrame));
    } else if (last == SPEECH_PAUSE &&
               (cur == SILENCE_TO_SPEECH || cur == SPEECH_TOO_LONG ||
                (cur == SPEECH_TO_SILENCE && m_nLookForStart == 1))) {
        const int64_t prevUttEnd = m_vecVadInfo.empty() ? m_lVADStartFrame : m_vecVadInfo.back().utt_e;
        const int64_t prevSpeechEnd = m_vecVadInfo.empty() ? m_lVADStartFrame : m_vecVadInfo.back().held_e;
        int64_t uttStart = std::max(m_nFirstFrame - m_nStartBackFrame, prevUttEnd);
        if (m_nFirstFrame - uttStart <= kBlipFrames) uttStart = std::max(m_nFirstFrame - 10, prevSpeechEnd);
        appendSegment(uttStart);
    }
    return 0;
}

int CMFE::UserStop() {
    m_lSampleStart = m_lSampleEnd;
    const int last = m_nVADLastState;
    if (last != SILENCE && last != SPEECH_PAUSE) m_lSampleEnd = m_lSample;
    m_lSample_process = m_lSampleEnd;
    m_nEndFrame = mfeGetFrame(m_lSampleEnd);
    m_nIsFinishFlag = 0;
    if (last == SILENCE) return NO_SPEECH;
    if (last != SILENCE_TO_SPEECH) return SPEECH_TO_SILENCE;
    if (m_nEndFrame - m_nStartFrame < m_nMin_Speech_Duration) return SPEECH_TOO_SHORT;
    if (m_nEndFrame - m_nStartFrame >= m_nMax_Speech_Duration - 9) return SPEECH_TOO_LONG;
    return SPEECH_TO_SILENCE;
}

}  // namespace vx_dnnvad
