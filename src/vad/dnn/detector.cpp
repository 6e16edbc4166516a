#include "vad/dnn/detector.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "vad/dnn/dnn_vad_print.h"
#include "vad/dnn/feature_translator.h"
#include "vad/dnn/network.h"
#include "vad/dnn/windows_detector.h"

namespace vx_dnnvad {

namespace {

const int kMaxInputRate = 16000;
const int kMaxFrameLength = kMaxInputRate / 100;
const int kFeaturesPerFrame = 26;
const int kMinRingFrames = 100;
const int kMaxRingFrames = 1 << 20;  // about 2.9 hours; keeps every ring size inside an int

// Truncates toward zero, saturating at the int range (NaN gives 0).
int toInt(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483520.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int>(v);
}

template <class T>
void deleteAndNull(T*& p) {
    delete p;
    p = nullptr;
}

template <class T>
void deleteArrayAndNull(T*& p) {
    delete[] p;
    p = nullptr;
}

}  // namespace

CMFE::CMFE()
    : m_pPcm2Featureft(nullptr),
      m_pCMVNft(nullptr),
      m_pConcatft(nullptr),
      m_pFeatTranslator(nullptr),
      m_pDnn(nullptr),
      m_pWindowsDetector(nullptr),
      m_pVadConfiger(nullptr),
      m_nDstFtDim(0),
      m_pFrameSamples(nullptr),
      m_pDstFeature(nullptr),
      m_nDstNNDim(0),
      m_pDstNN(nullptr),
      m_pAheadSamples(nullptr),
      m_pAheadFeatures(nullptr),
      m_pAheadPosteriors(nullptr),
      m_pCurFeature(nullptr),
      m_lAheadFirst(0),
      m_lAheadNext(0),
      m_lAheadEnd(0),
      m_n8kFrameLength(200),
      m_n8kFrameShift(80),
      m_nFeatDim(kFeaturesPerFrame),
      m_nMax_Speech_Pause(90),
      m_nMax_Speech_Pause_fix(90),
      m_nMax_Wait_Duration(110),
      m_nMax_Wait_Duration_fix(110),
      m_nMax_Wait_Duration_ShortSpeech(200),
      m_nMax_Wait_Duration_Begin(400),
      m_nMax_Speech_Duration(5000),
      m_nMin_Speech_Duration(25),
      m_nStartBackFrame(40),
      m_nEndBackFrame(40),
      m_nLastSpeechFrame(0),
      m_nLastVoicedFrame(-1),
      m_nLookForStart(0),
      m_fspeech_st_threshold(0.2f),
      m_fspeech_et_threshold(0.2f),
      m_nFirstFrame(0),
      m_pData(nullptr),
      m_nMaxFrameNum(500),
      m_pData8k(nullptr),
      m_pData8kbuff(nullptr),
      m_pDatabuff(nullptr),
      m_pFrameState(nullptr),
      m_nVADCurState(SILENCE),
      m_nVADLastState(SILENCE),
      m_lSample(0),
      m_lSample8k(0),
      m_lSample_process(0),
      m_lSample_left(0),
      m_lSampleStart(0),
      m_lSampleEnd(0),
      m_lVADResultStartLoc(0),
      m_lVADResultCurLoc(0),
      m_lVADStartFrame(0),
      m_lFrameCnt(0),
      m_nStartFrame(0),
      m_nEndFrame(0),
      m_nIsFinishFlag(0),
      m_bUseVAD(true),
      m_bDetectStart(true),
      m_bIsNull(false),
      m_nSampleRate(8000),
      m_nFrameLength(80),
      m_iLogLevel(0),
      m_nMaxDataLenOneTime(80 * 500),
      m_nRingFrames(500),
      m_bInitialised(false),
      m_lPendingStart(0),
      m_lPendingEnd(0),
      m_bFetchedSincePass(false),
      m_nLastFrameCode(SIL2SIL) {
    mfeReset();
}

CMFE::~CMFE() { mfeExit(); }

// --- life cycle ---------------------------------------------------------------

int CMFE::mfeInit(const char* dnnfile, const char* cmvn) {
    mfeExit();  // a second initialisation must not leak the first one
    m_bIsNull = false;
    if (!dnnfile || !cmvn || !*dnnfile || !*cmvn) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]NULL POINTER: dnnfile=%s,cmvn=%s\n", dnnfile ? dnnfile : "(null)",
                        cmvn ? cmvn : "(null)");
        return MFE_ERR_NULL_POINTER;
    }
    int result = allocateRings();
    if (result == MFE_OK) result = buildModels(dnnfile, cmvn);
    if (result != MFE_OK) return result;
    m_bInitialised = true;
    m_nLastSpeechFrame = 0;
    mfeReset();
    return MFE_OK;
}

int CMFE::allocateRings() {
    m_nRingFrames = m_nMaxFrameNum;
    m_nMaxDataLenOneTime = m_nFrameLength * m_nRingFrames;
    const unsigned long stateBytes = static_cast<unsigned long>(m_nRingFrames);
    m_pFrameState = new (std::nothrow) unsigned char[stateBytes]();
    if (!m_pFrameState) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pFrameState malloc[%lu] Failed\n", stateBytes);
        return MFE_ERR_MEMORY;
    }
    const unsigned long inputSamples = static_cast<unsigned long>(kMaxFrameLength) * m_nRingFrames;
    m_pDatabuff = new (std::nothrow) short[inputSamples]();
    if (!m_pDatabuff) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pData malloc[%lu] Failed\n", inputSamples * sizeof(short));
        return MFE_ERR_MEMORY;
    }
    const unsigned long samples8k = static_cast<unsigned long>(m_n8kFrameShift) * m_nRingFrames;
    m_pData8kbuff = new (std::nothrow) short[samples8k]();
    if (!m_pData8kbuff) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pData8k malloc[%lu] Failed\n", samples8k * sizeof(short));
        return MFE_ERR_MEMORY;
    }
    chooseRingPointers();
    return MFE_OK;
}

void CMFE::chooseRingPointers() {
    m_pData = m_pDatabuff;
    m_pData8k = (m_nSampleRate == 8000) ? m_pDatabuff : m_pData8kbuff;
}

int CMFE::buildModels(const char* dnnfile, const char* cmvn) {
    m_pVadConfiger = new (std::nothrow) VadConfiger();
    if (!m_pVadConfiger || !m_pVadConfiger->load()) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pVadConfiger Init Failed\n");
        return MFE_ERR_INIT;
    }
    m_pVadConfiger->_winSize = 20;
    m_pVadConfiger->speech_st_threshold = m_fspeech_st_threshold;
    m_pVadConfiger->speech_et_threshold = m_fspeech_et_threshold;
    m_pWindowsDetector = new (std::nothrow) WindowsDetector(*m_pVadConfiger);
    if (!m_pWindowsDetector) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pWindowsDetector Init Failed\n");
        return MFE_ERR_INIT;
    }
    m_pDnn = new (std::nothrow) DNN(m_pVadConfiger, dnnfile);
    if (!m_pDnn || m_pDnn->getState() == UNINIT) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]DNN Init Failed\n");
        return MFE_ERR_INIT;
    }
    m_nDstNNDim = m_pDnn->outputSize();
    m_pDstNN = new (std::nothrow) float[m_nDstNNDim]();
    if (!m_pDstNN) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pDstNN malloc[%d] Failed\n", m_nDstNNDim);
        return MFE_ERR_MEMORY;
    }
    m_pFrameSamples = new (std::nothrow) float[m_n8kFrameLength]();
    if (!m_pFrameSamples) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pFrameSamples malloc[%d] Failed\n", m_n8kFrameLength);
        return MFE_ERR_MEMORY;
    }
    m_nDstFtDim = m_pDnn->inputSize();
    m_pDstFeature = new (std::nothrow) float[m_nDstFtDim]();
    if (!m_pDstFeature) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pDstFeature malloc[%d] Failed\n", m_nDstFtDim);
        return MFE_ERR_MEMORY;
    }
    m_pCurFeature = m_pDstFeature;
    m_pAheadSamples = new (std::nothrow) float[m_n8kFrameLength]();
    m_pAheadFeatures = new (std::nothrow) float[static_cast<long>(DNN::kMaxBatch) * m_nDstFtDim]();
    m_pAheadPosteriors =
        new (std::nothrow) float[static_cast<long>(DNN::kMaxBatch) * m_nDstNNDim]();
    if (!m_pAheadSamples || !m_pAheadFeatures || !m_pAheadPosteriors) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]look-ahead rows malloc[%d] Failed\n",
                        DNN::kMaxBatch * m_nDstFtDim);
        return MFE_ERR_MEMORY;
    }
    m_pPcm2Featureft = new (std::nothrow) PCM2FeatureTranslator(m_n8kFrameLength, m_nFeatDim);
    m_pCMVNft = new (std::nothrow) CMVNFeatureTranslator(m_nFeatDim, m_nFeatDim, cmvn);
    m_pConcatft = new (std::nothrow) ConcatFeatureTranslator(m_nFeatDim, m_nDstFtDim);
    if (!m_pPcm2Featureft || !m_pCMVNft || !m_pConcatft) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pPcm2Featureft[%p] m_pCMVNft[%p] m_pConcatft[%p] Init Failed\n",
                        static_cast<void*>(m_pPcm2Featureft), static_cast<void*>(m_pCMVNft),
                        static_cast<void*>(m_pConcatft));
        return MFE_ERR_INIT;
    }
    m_pPcm2Featureft->setSuccessor(m_pCMVNft);
    m_pCMVNft->setSuccessor(m_pConcatft);
    m_pConcatft->setSuccessor(nullptr);
    m_pFeatTranslator = m_pPcm2Featureft;
    if (m_pFeatTranslator->getState() == UNINIT) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]m_pFeatTranslator Init Failed\n");
        return MFE_ERR_INIT;
    }
    return MFE_OK;
}

int CMFE::mfeExit() {
    m_bInitialised = false;
    m_pFeatTranslator = nullptr;
    deleteAndNull(m_pPcm2Featureft);
    deleteAndNull(m_pCMVNft);
    deleteAndNull(m_pConcatft);
    deleteAndNull(m_pDnn);
    deleteAndNull(m_pWindowsDetector);
    deleteAndNull(m_pVadConfiger);
    deleteArrayAndNull(m_pFrameSamples);
    deleteArrayAndNull(m_pDstFeature);
    deleteArrayAndNull(m_pDstNN);
    deleteArrayAndNull(m_pAheadSamples);
    deleteArrayAndNull(m_pAheadFeatures);
    deleteArrayAndNull(m_pAheadPosteriors);
    m_pCurFeature = nullptr;
    deleteArrayAndNull(m_pFrameState);
    deleteArrayAndNull(m_pDatabuff);
    deleteArrayAndNull(m_pData8kbuff);
    m_pData = nullptr;
    m_pData8k = nullptr;
    return MFE_OK;
}

int CMFE::mfeReset() {
    m_bIsNull = false;
    m_nLastSpeechFrame = 0;
    m_nLastVoicedFrame = -1;
    m_nFirstFrame = 0;
    m_nVADCurState = SILENCE;
    m_nVADLastState = SILENCE;
    m_lSample = m_lSample8k = m_lSample_process = m_lSample_left = 0;
    m_lSampleStart = m_lSampleEnd = 0;
    m_lVADResultStartLoc = m_lVADResultCurLoc = 0;
    m_lFrameCnt = 0;
    m_nStartFrame = m_nEndFrame = 0;
    m_nLookForStart = 0;
    m_nIsFinishFlag = 0;
    m_lPendingStart = m_lPendingEnd = 0;
    m_bFetchedSincePass = false;
    m_vecVadInfo.clear();
    m_nMax_Speech_Pause = m_nMax_Speech_Pause_fix;
    m_nMax_Wait_Duration = m_nMax_Wait_Duration_fix;
    m_lAheadFirst = m_lAheadNext = m_lAheadEnd = 0;
    if (m_pDstFeature) m_pCurFeature = m_pDstFeature;
    if (m_pFeatTranslator) m_pFeatTranslator->reset();
    if (m_pWindowsDetector) m_pWindowsDetector->reset();
    if (m_pDnn) m_pDnn->reset();
    m_downSampler.reset();
    return MFE_OK;
}

// --- audio intake ---------------------------------------------------------------

int CMFE::maxPushSamples() const {
    const int frames = m_bInitialised ? m_nRingFrames : m_nMaxFrameNum;
    return m_nFrameLength * frames / 2;
}

int CMFE::mfeSendData(const short* pDataIn, int iLen) {
    if (!pDataIn && iLen == 0) {
        m_nIsFinishFlag = 1;
        if (m_bUseVAD) {
            m_nVADLastState = m_nVADCurState;
            m_nVADCurState = SPEECH_TO_SILENCE;
        } else {
            m_bIsNull = true;
        }
        return MFE_OK;
    }
    if (!pDataIn || iLen < 0) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]NULL POINTER: pDataIn=%p,iLen=%d\n", static_cast<const void*>(pDataIn), iLen);
        return MFE_ERR_NULL_POINTER;
    }
    if (!m_bInitialised) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]audio pushed before a successful mfeInit\n");
        return MFE_ERR_INIT;
    }
    if (iLen > maxPushSamples()) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]iLen*2[%d] > MaxDataLenOneTime[%d]\n", iLen * 2, m_nFrameLength * m_nRingFrames);
        return MFE_ERR_TOO_MUCH_DATA;
    }
    if (!m_bUseVAD) {
        storeInput(pDataIn, iLen);
        m_lSample += iLen;
        m_lSampleEnd = m_lSample;
        m_nVADLastState = m_nVADCurState;
        m_nVADCurState = SILENCE_TO_SPEECH;
        return MFE_OK;
    }
    storeInput(pDataIn, iLen);
    if (m_nSampleRate == kMaxInputRate) {
        const int64_t oldSample = m_lSample;
        const int64_t end = m_lSample + m_lSample_left + iLen;
        m_lSample_left = end % DownSampler::kBlock;
        m_lSample = end - m_lSample_left;
        downSampleNewBlocks(oldSample);
        m_lSample8k = m_lSample / 2;
    } else {
        m_lSample += iLen;
        m_lSample8k = m_lSample;
    }
    m_nVADLastState = m_nVADCurState;
    return MFE_OK;
}

// Writes after everything received so far (including samples still waiting
// to be down-sampled).
void CMFE::storeInput(const short* samples, int count) {
    const int capacity = inputRingCapacity();
    int64_t position = m_lSample + (m_bUseVAD ? m_lSample_left : 0);
    int done = 0;
    while (done < count) {
        const int index = static_cast<int>(position % capacity);
        int run = capacity - index;
        if (run > count - done) run = count - done;
        std::memcpy(m_pData + index, samples + done, run * sizeof(short));
        done += run;
        position += run;
    }
}

void CMFE::downSampleNewBlocks(int64_t oldSample) {
    int outLen = 0;
    down_sample(m_pData, oldSample, static_cast<int>(m_lSample - oldSample), m_pData8k, oldSample / 2, &outLen,
                inputRingCapacity());
}

int CMFE::down_sample(const short* inRing, int64_t inStart, int inLen, short* outRing, int64_t outStart, int* outLen,
                      int inRingSize) {
    const int outRingSize = inRingSize / 2;
    int16_t block[DownSampler::kBlock];
    int16_t decimated[DownSampler::kBlockOut];
    int in = static_cast<int>(inStart % inRingSize);
    int out = static_cast<int>(outStart % outRingSize);
    for (int done = 0; done + DownSampler::kBlock <= inLen; done += DownSampler::kBlock) {
        copyFromRing(inRing, inRingSize, in, DownSampler::kBlock, block);
        in = (in + DownSampler::kBlock) % inRingSize;
        m_downSampler.processBlock(block, decimated);
        const int first = std::min(DownSampler::kBlockOut, outRingSize - out);
        std::memcpy(outRing + out, decimated, first * sizeof(short));
        std::memcpy(outRing, decimated + first, (DownSampler::kBlockOut - first) * sizeof(short));
        out = (out + DownSampler::kBlockOut) % outRingSize;
    }
    if (outLen) *outLen = inLen / 2;
    return 0;
}

// --- frame decision -------------------------------------------------------------

int CMFE::mfeVADOneFrame(int64_t frameIdx, bool /*unused*/) {
    if (frameIdx != m_lAheadNext || frameIdx >= m_lAheadEnd) {
        forgetLookahead();
        const int code = analyseAhead(frameIdx);
        if (code != MFE_OK) return code;
    }
    const long row = static_cast<long>(frameIdx - m_lAheadFirst);
    m_pCurFeature = m_pAheadFeatures + row * m_nDstFtDim;
    std::memcpy(m_pDstNN, m_pAheadPosteriors + row * m_nDstNNDim, m_nDstNNDim * sizeof(float));
    m_lAheadNext = frameIdx + 1;
    const int code = m_pWindowsDetector->SmoothDetectorOneFrame(m_pDstNN, m_nDstNNDim, static_cast<long>(frameIdx));
    const bool windowSaysSpeech = code == SPEECH2SPEECH || code == SPEECH2SIL || code == SIL2SPEECH;
    if (windowSaysSpeech && m_pWindowsDetector->lastFrameVoiced()) m_nLastVoicedFrame = frameIdx;
    return code;
}

int64_t CMFE::completeFrames8k() const {
    return m_lSample8k < m_n8kFrameLength ? 0
                                          : (m_lSample8k - m_n8kFrameLength) / m_n8kFrameShift + 1;
}

// Frame f's samples are in m_pFrameSamples; later frames come from the 8 kHz ring.
int CMFE::analyseAhead(int64_t f) {
    const int64_t end = std::max(f + 1, std::min<int64_t>(f + DNN::kMaxBatch, completeFrames8k()));
    const int capacity = ring8kCapacity();
    int rows = 0;
    for (int64_t k = f; k < end; ++k) {
        float* samples = m_pFrameSamples;
        if (k != f) {
            const int index =
                static_cast<int>(static_cast<int64_t>(m_n8kFrameShift) * k % capacity);
            copyFromRing(m_pData8k, capacity, index, m_n8kFrameLength, m_pAheadSamples);
            samples = m_pAheadSamples;
        }
        m_pFeatTranslator->translate(samples, m_n8kFrameLength, static_cast<int>(k));
        const int got = m_pFeatTranslator->read(
            m_pAheadFeatures + static_cast<long>(rows) * m_nDstFtDim, m_nDstFtDim);
        if (got != m_nDstFtDim) {
            if (rows == 0) return got == -2 ? NOTBEGIN : INVALID;
            break;  // frame k is analysed again when it comes up
        }
        ++rows;
    }
    m_lAheadFirst = m_lAheadNext = f;
    m_lAheadEnd = f + rows;
    if (m_pDnn->forwardBatch(m_pAheadFeatures, rows, m_nDstFtDim, m_pAheadPosteriors) != 0) {
        m_lAheadNext = f + 1;  // frame f was spliced; the rest is taken back
        forgetLookahead();
        return INVALID;
    }
    return MFE_OK;
}

void CMFE::forgetLookahead() {
    if (m_lAheadNext < m_lAheadEnd && m_lAheadNext > m_lAheadFirst) {
        const long lastDecided = static_cast<long>(m_lAheadNext - 1 - m_lAheadFirst);
        m_pConcatft->rewind(m_pAheadFeatures + lastDecided * m_nDstFtDim,
                            static_cast<long>(m_lAheadEnd - m_lAheadNext));
    }
    m_lAheadFirst = m_lAheadNext = m_lAheadEnd = 0;
}

// --- hand-back --------------------------------------------------------------------

void CMFE::selectHandBackRange(int64_t* start, int64_t* end) {
    const int cur = m_nVADCurState;
    const int last = m_nVADLastState;
    if (m_bUseVAD && m_bDetectStart) {
        const bool quiet = cur == NO_SPEECH || cur == SILENCE || (cur == SPEECH_PAUSE && last == SPEECH_PAUSE) ||
                           (cur == SPEECH_TO_SILENCE && (last == SILENCE || last == SPEECH_PAUSE));
        if (quiet) {
            m_lSampleStart = m_lSampleEnd;
            *start = *end = m_lSampleEnd;
            return;
        }
        if (cur == SILENCE_TO_SPEECH && (last == SILENCE || last == SPEECH_PAUSE) && !m_vecVadInfo.empty()) {
            *start = m_vecVadInfo.back().utt_s * m_nFrameLength;
            *end = m_lSample_process;
            m_lSampleEnd = *end;
        } else {
            *start = m_lSampleStart;
            *end = m_lSampleEnd;
        }
        if (cur == SPEECH_PAUSE) m_lSampleEnd = m_lSample_process;  // skips the closed utterance's silence
    } else {
        m_lSampleEnd = m_lSample;
        *start = m_lSampleStart;
        *end = m_lSample;
    }
    m_lSampleStart = m_lSampleEnd;
}

int CMFE::mfeGetCallbackData(char* pDataOut, int* iLen, int iMaxLen) {
    if (!pDataOut || !iLen) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]NULL POINTER: pDataOut=%p,iLen=%p\n", static_cast<void*>(pDataOut),
                        static_cast<void*>(iLen));
        return MFE_ERR_NULL_POINTER;
    }
    *iLen = 0;
    if (!m_bInitialised) return MFE_OK;
    int64_t start = 0;
    int64_t end = 0;
    if (!m_bFetchedSincePass) selectHandBackRange(&start, &end);
    m_bFetchedSincePass = true;
    if (end > start) {
        if (m_lPendingEnd <= m_lPendingStart) {
            m_lPendingStart = start;
            m_lPendingEnd = end;
        } else if (end > m_lPendingEnd) {
            m_lPendingEnd = end;
        }
    }
    // Only what the ring still holds can be handed out.
    const int64_t received = m_lSample + (m_bUseVAD ? m_lSample_left : 0);
    if (m_lPendingStart < received - inputRingCapacity()) m_lPendingStart = received - inputRingCapacity();
    if (m_lPendingStart < 0) m_lPendingStart = 0;
    if (m_lPendingEnd > received) m_lPendingEnd = received;
    if (m_lPendingEnd <= m_lPendingStart) return MFE_OK;
    int64_t samples = m_lPendingEnd - m_lPendingStart;
    const int64_t room = iMaxLen > 0 ? iMaxLen / 2 : 0;
    if (samples > room) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]iLen[%d] > iMaxLen[%d]\n", static_cast<int>(samples * 2), iMaxLen);
        samples = room;  // the oldest part now, the rest stays pending
    }
    const int capacity = inputRingCapacity();
    int index = static_cast<int>(m_lPendingStart % capacity);
    for (int64_t done = 0; done < samples;) {
        const int64_t run = std::min<int64_t>(samples - done, capacity - index);
        std::memcpy(pDataOut + 2 * done, m_pData + index, static_cast<size_t>(run) * sizeof(short));
        done += run;
        index = 0;
    }
    m_lPendingStart += samples;
    *iLen = static_cast<int>(samples * 2);
    return MFE_OK;
}

// --- parameters -------------------------------------------------------------------

int CMFE::mfeSetParam(int type, float val) {
    const int v = toInt(val);
    switch (type) {
    case MFE_PARAM_MAX_WAIT_DURATION:
        m_nMax_Wait_Duration = m_nMax_Wait_Duration_fix = v;
        if (m_nMax_Speech_Pause_fix >= v) m_nMax_Speech_Pause_fix = v - 1;
        return MFE_OK;
    case MFE_PARAM_MAX_SPEECH_DURATION: m_nMax_Speech_Duration = v; return MFE_OK;
    case MFE_PARAM_MAX_SPEECH_PAUSE:
        m_nMax_Speech_Pause = m_nMax_Speech_Pause_fix = v;
        if (v >= m_nMax_Wait_Duration) m_nMax_Wait_Duration = v + 1;
        return MFE_OK;
    case MFE_PARAM_MIN_SPEECH_DURATION: m_nMin_Speech_Duration = v; return MFE_OK;
    case MFE_PARAM_MAX_WAIT_DURATION_BEGIN: m_nMax_Wait_Duration_Begin = v; return MFE_OK;
    case MFE_PARAM_START_BACK_FRAME: m_nStartBackFrame = v; return MFE_OK;
    case MFE_PARAM_END_BACK_FRAME: m_nEndBackFrame = v; return MFE_OK;
    case MFE_PARAM_LOG_LEVEL: m_iLogLevel = v > 0 ? v : 0; return MFE_OK;
    case MFE_PARAM_MAX_DATA_BYTES: {
        // Takes effect at the next mfeInit; the rings in use keep their size.
        const int frames = v / m_nFrameLength + 1;
        m_nMaxFrameNum = std::min(std::max(frames, kMinRingFrames), kMaxRingFrames);
        return MFE_OK;
    }
    case MFE_PARAM_VAD_START_FRAME: m_lVADStartFrame = v; return MFE_OK;
    case MFE_PARAM_USE_VAD: m_bUseVAD = (val != 0.0f); return MFE_OK;
    case MFE_PARAM_DETECT_START: m_bDetectStart = (val != 0.0f); return MFE_OK;
    case MFE_PARAM_SAMPLE_RATE:
        if (v != 8000 && v != 16000) {
            VX_DNNVAD_PRINT("ERROR:[%s:%d]SampleRate = %d, should be 8000 or 16000\n", v);
            return MFE_ERR_PARAM;
        }
        m_nSampleRate = v;
        m_nFrameLength = v / 100;
        m_nMaxDataLenOneTime = m_nFrameLength * (m_bInitialised ? m_nRingFrames : m_nMaxFrameNum);
        if (m_pDatabuff) chooseRingPointers();
        return MFE_OK;
    case MFE_PARAM_MAX_WAIT_SHORT_SPEECH:
        m_nMax_Wait_Duration_ShortSpeech = v > m_nMax_Wait_Duration_fix ? v : m_nMax_Wait_Duration_fix;
        return MFE_OK;
    case MFE_PARAM_SPEECH_START_THRESHOLD: m_fspeech_st_threshold = val; return MFE_OK;
    case MFE_PARAM_SPEECH_END_THRESHOLD: m_fspeech_et_threshold = val; return MFE_OK;
    default: return MFE_ERR_PARAM;
    }
}

float CMFE::mfeGetParam(int type) {
    switch (type) {
    case MFE_PARAM_MAX_WAIT_DURATION: return static_cast<float>(m_nMax_Wait_Duration_fix);
    case MFE_PARAM_MAX_SPEECH_DURATION: return static_cast<float>(m_nMax_Speech_Duration);
    case MFE_PARAM_MAX_SPEECH_PAUSE: return static_cast<float>(m_nMax_Speech_Pause_fix);
    case MFE_PARAM_MIN_SPEECH_DURATION: return static_cast<float>(m_nMin_Speech_Duration);
    case MFE_PARAM_MAX_WAIT_DURATION_BEGIN: return static_cast<float>(m_nMax_Wait_Duration_Begin);
    case MFE_PARAM_START_BACK_FRAME: return static_cast<float>(m_nStartBackFrame);
    case MFE_PARAM_END_BACK_FRAME: return static_cast<float>(m_nEndBackFrame);
    case MFE_PARAM_LOG_LEVEL: return static_cast<float>(m_iLogLevel);
    case MFE_PARAM_MAX_DATA_BYTES: return static_cast<float>(m_nMaxFrameNum) * m_nFrameLength * 2;
    case MFE_PARAM_VAD_START_FRAME: return static_cast<float>(m_lVADStartFrame);
    case MFE_PARAM_DETECT_START: return m_bDetectStart ? 1.0f : 0.0f;
    case MFE_PARAM_SAMPLE_RATE: return static_cast<float>(m_nSampleRate);
    case MFE_PARAM_SPEECH_START_THRESHOLD: return m_fspeech_st_threshold;
    case MFE_PARAM_SPEECH_END_THRESHOLD: return m_fspeech_et_threshold;
    default: return static_cast<float>(MFE_ERR_PARAM);
    }
}

void CMFE::mfeSetLogLevel(int level) { m_iLogLevel = level != 0 ? 7 : 0; }

// --- frame and sample conversions -----------------------------------------------------

int64_t CMFE::mfeGetFrame(int64_t s) const {
    if (m_nSampleRate == 8000) return (s - m_n8kFrameLength) / m_n8kFrameShift + 1;
    if (m_nSampleRate == 16000) return (s / 2 - m_n8kFrameLength) / m_n8kFrameShift + 1;
    return 0;
}

int64_t CMFE::mfeGetSamplespot(int64_t f) const {
    if (m_nSampleRate == 8000) return m_n8kFrameShift * f + m_n8kFrameLength;
    if (m_nSampleRate == 16000) return 2 * (m_n8kFrameShift * f + m_n8kFrameLength);
    return 0;
}

}  // namespace vx_dnnvad
