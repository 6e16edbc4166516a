// vx_dnnvad::CMFE, the local voice-activity detector: takes 16-bit mono PCM at
// 8000 or 16000 Hz, down-samples 16 kHz input to 8 kHz, classifies every 10 ms
// frame (25 ms window) with the feature chain, the network and the windowed
// decision, segments the stream into utterances (detection pass) and hands
// back the audio of the current utterance at the input rate, as pushed.
//
// Typical use: construct; mfeSetParam for every setting; mfeInit(network file,
// normalisation file); then per push mfeSendData, mfeDNNDetect and, when the
// status calls for it, mfeGetCallbackData; mfeReset between utterances or
// sessions; mfeExit (also done by the destructor).
//
// Sample positions and frame indices are 64-bit counts since the last reset,
// so they do not overflow in a long-running instance; ring indexes are those
// positions modulo the ring capacity. Diagnostics are printed to standard
// output as "ERROR:[file:line]...".
//
// Threading: none inside; one thread at a time per instance. The only
// process-wide state touched is the read-only `qn_math` word.
#ifndef VXS_VAD_DNN_DETECTOR_H
#define VXS_VAD_DNN_DETECTOR_H

#include <cstdint>
#include <vector>

#include "vad/dnn/dnn_vad_types.h"
#include "vad/dnn/downsampler.h"

namespace vx_dnnvad {

class FeatureTranslator;
class PCM2FeatureTranslator;
class CMVNFeatureTranslator;
class ConcatFeatureTranslator;
class DNN;
class WindowsDetector;
class VadConfiger;

// One speech segment, in frames; -1 in utt_e / speech_e / held_e while still
// open.
struct _VADINFO_ {
    int64_t utt_s;     // utterance start, including the lead-in
    int64_t utt_e;     // utterance end, including the tail
    int64_t speech_s;  // first speech frame
    int64_t speech_e;  // last speech frame: the last one the network itself calls speech
    // Last frame the windowed decision still held as speech (up to a window
    // after speech_e); the tail of the handed-back audio and the pause rules
    // count from here.
    int64_t held_e;
};

// Parameter ids of mfeSetParam / mfeGetParam (frame values in 10 ms frames).
enum MfeParam {
    MFE_PARAM_MAX_WAIT_DURATION = 1,
    MFE_PARAM_MAX_SPEECH_DURATION = 2,
    MFE_PARAM_MAX_SPEECH_PAUSE = 3,
    MFE_PARAM_MIN_SPEECH_DURATION = 4,
    MFE_PARAM_MAX_WAIT_DURATION_BEGIN = 5,
    MFE_PARAM_START_BACK_FRAME = 6,
    MFE_PARAM_END_BACK_FRAME = 7,
    MFE_PARAM_LOG_LEVEL = 8,
    MFE_PARAM_MAX_DATA_BYTES = 9,
    MFE_PARAM_VAD_START_FRAME = 10,
    MFE_PARAM_USE_VAD = 11,
    MFE_PARAM_DETECT_START = 12,
    MFE_PARAM_SAMPLE_RATE = 13,
    MFE_PARAM_MAX_WAIT_SHORT_SPEECH = 14,
    MFE_PARAM_SPEECH_START_THRESHOLD = 23,
    MFE_PARAM_SPEECH_END_THRESHOLD = 24
};

// Copies `count` ring entries from `index` on (wrapping at `capacity`), as
// two straight runs at most.
template <class From, class To>
inline void copyFromRing(const From* ring, int capacity, int index, int count, To* out) {
    const int first = count < capacity - index ? count : capacity - index;
    for (int i = 0; i < first; ++i) out[i] = ring[index + i];
    for (int i = first; i < count; ++i) out[i] = ring[i - first];
}

// Result codes.
const int MFE_OK = 0;
const int MFE_ERR_NULL_POINTER = -103;
const int MFE_ERR_MEMORY = -107;
const int MFE_ERR_PARAM = -109;
const int MFE_ERR_TOO_MUCH_DATA = -118;
const int MFE_ERR_INIT = -120;

class CMFE {
public:
    CMFE();
    virtual ~CMFE();
    CMFE(const CMFE&) = delete;
    CMFE& operator=(const CMFE&) = delete;

    // Builds the rings, the network and the feature chain. 0; -103 null or
    // empty path; -107 out of memory; -120 a component failed (its reason is
    // printed first). Anything an earlier mfeInit built is released first.
    int mfeInit(const char* dnnfile, const char* cmvn);
    // Frees everything; mfeInit may follow. 0.
    int mfeExit();
    // Forgets audio, counters and segments; keeps the parameters. 0.
    int mfeReset();
    // Pushes iLen samples at the input rate; no buffer with iLen 0 marks the
    // end of input. 0; -118 when the push exceeds the limit (nothing stored);
    // -120 before a successful mfeInit.
    int mfeSendData(const short* pDataIn, int iLen);
    // Detection pass over the frames completed since the previous one: a
    // VADState value 0..6.
    int mfeDNNDetect();
    // Hands back the pending audio of the current utterance: at most iMaxLen
    // bytes, oldest first; what does not fit stays pending for the next call
    // (further calls before the next pass hand out only that remainder).
    // *iLen receives the byte count. 0; -103 for a null buffer or length.
    int mfeGetCallbackData(char* pDataOut, int* iLen, int iMaxLen);
    // 0; -109 for an unknown id or a sample rate other than 8000/16000.
    int mfeSetParam(int type, float val);
    // The value, or -109.0 for an id that is not reported.
    float mfeGetParam(int type);
    // Non-zero turns debug printing on (level 7), 0 off.
    void mfeSetLogLevel(int level);
    // Final status at the end of input (called by mfeDNNDetect).
    int UserStop();
    // Last speech frame of the current (or latest) utterance: the last frame
    // whose own confidence was above the end threshold, which the windowed
    // decision keeps calling speech for up to a window longer. Falls back to
    // the windowed decision's last speech frame when no frame of the
    // utterance passed on its own (e.g. a scripted decision).
    int64_t mfeGetLastSpeechFrame() const { return reportedSpeechEnd(latestSpeechStart()); }
    // m_nVADCurState when it is 0..6, else 0.
    int mfeReturnStatus(int ignored);
    // Frame count at input sample position s, and the input sample position
    // of the end of frame f's window; 0 for an unsupported rate.
    int64_t mfeGetFrame(int64_t s) const;
    int64_t mfeGetSamplespot(int64_t f) const;
    // Segment bookkeeping and pause adaptation of the detection pass.
    int MakeSegment();
    void mfeAdjustPauseThreshold(int64_t n);
    // The frame code of the frame held in m_pFrameSamples: features, network
    // and windowed decision. Features and network outputs come from the
    // look-ahead (see analyseAhead), computed for up to DNN::kMaxBatch frames
    // at once. Virtual so that a scripted decision can stand in.
    virtual int mfeVADOneFrame(int64_t frameIdx, bool unused);
    // Filters and decimates inLen samples (whole 80-sample blocks) from the
    // input ring at position inStart into the 8 kHz ring at outStart.
    int down_sample(const short* inRing, int64_t inStart, int inLen, short* outRing, int64_t outStart, int* outLen,
                    int inRingSize);

    // Read-only views for tools and tests.
    const std::vector<_VADINFO_>& segments() const { return m_vecVadInfo; }
    int currentState() const { return m_nVADCurState; }
    int lastState() const { return m_nVADLastState; }
    int64_t samplesAccepted() const { return m_lSample; }
    int64_t samplesPending16k() const { return m_lSample_left; }
    int64_t samples8k() const { return m_lSample8k; }
    const short* ring8k() const { return m_pData8k; }
    int ring8kCapacity() const { return m_nRingFrames * m_n8kFrameShift; }
    int currentPauseLimit() const { return m_nMax_Speech_Pause; }
    int currentWaitLimit() const { return m_nMax_Wait_Duration; }
    // The latest frame's network input (m_nDstFtDim values), posteriors
    // (m_nDstNNDim values) and frame code.
    const float* lastFeatures() const { return m_pCurFeature; }
    const float* lastPosteriors() const { return m_pDstNN; }
    int lastFrameCode() const { return m_nLastFrameCode; }

private:

    int allocateRings();
    int buildModels(const char* dnnfile, const char* cmvn);
    void chooseRingPointers();
    int maxPushSamples() const;
    void storeInput(const short* samples, int count);
    void downSampleNewBlocks(int64_t oldSample);
    // Detection pass pieces (segmentation).
    int detectionPassDisabled();
    void copyFrameSamples(int64_t f);
    // Look-ahead of the frame decision: features and network outputs of up to
    // DNN::kMaxBatch frames at once, from the frame being decided on to the
    // last complete frame, so that the network's weights are read once per
    // few frames. Frames the pass never reaches (it stopped early, or the next
    // pass starts elsewhere) are taken back out of the feature chain, so that
    // every frame sees the same chain state as frame-by-frame analysis.
    int analyseAhead(int64_t f);
    void forgetLookahead();
    int64_t completeFrames8k() const;
    int onFrameCode(int64_t f, int code);
    int onSilentFrame(int64_t f);
    // The last speech frame to report for an utterance whose first speech
    // frame is speechStart (see mfeGetLastSpeechFrame).
    int64_t reportedSpeechEnd(int64_t speechStart) const;
    // The first speech frame of the latest utterance.
    int64_t latestSpeechStart() const;
    void closeUtterance(int64_t f);
    void appendSegment(int64_t uttStart);
    // Hand-back pieces.
    void selectHandBackRange(int64_t* start, int64_t* end);
    int inputRingCapacity() const { return m_nRingFrames * m_nFrameLength; }

    PCM2FeatureTranslator* m_pPcm2Featureft;
    CMVNFeatureTranslator* m_pCMVNft;
    ConcatFeatureTranslator* m_pConcatft;
    FeatureTranslator* m_pFeatTranslator;
    DNN* m_pDnn;
    WindowsDetector* m_pWindowsDetector;
    VadConfiger* m_pVadConfiger;
    int m_nDstFtDim;
    float* m_pFrameSamples;
    float* m_pDstFeature;
    int m_nDstNNDim;
    float* m_pDstNN;
    // Look-ahead rows: network inputs and outputs of frames
    // [m_lAheadFirst, m_lAheadEnd); m_lAheadNext is the next frame to decide.
    float* m_pAheadSamples;
    float* m_pAheadFeatures;
    float* m_pAheadPosteriors;
    const float* m_pCurFeature;
    int64_t m_lAheadFirst;
    int64_t m_lAheadNext;
    int64_t m_lAheadEnd;
    int m_n8kFrameLength;
    int m_n8kFrameShift;
    int m_nFeatDim;
    int m_nMax_Speech_Pause;
    int m_nMax_Speech_Pause_fix;
    int m_nMax_Wait_Duration;
    int m_nMax_Wait_Duration_fix;
    int m_nMax_Wait_Duration_ShortSpeech;
    int m_nMax_Wait_Duration_Begin;
    int m_nMax_Speech_Duration;
    int m_nMin_Speech_Duration;
    int m_nStartBackFrame;
    int m_nEndBackFrame;
    int64_t m_nLastSpeechFrame;
    // Last frame the windowed decision called speech whose own confidence was
    // above the end threshold; -1 for none.
    int64_t m_nLastVoicedFrame;
    int m_nLookForStart;
    float m_fspeech_st_threshold;
    float m_fspeech_et_threshold;
    int64_t m_nFirstFrame;
    short* m_pData;
    int m_nMaxFrameNum;
    std::vector<_VADINFO_> m_vecVadInfo;
    short* m_pData8k;
    short* m_pData8kbuff;
    short* m_pDatabuff;
    unsigned char* m_pFrameState;
    int m_nVADCurState;
    int m_nVADLastState;
    int64_t m_lSample;
    int64_t m_lSample8k;
    int64_t m_lSample_process;
    int64_t m_lSample_left;
    int64_t m_lSampleStart;
    int64_t m_lSampleEnd;
    int64_t m_lVADResultStartLoc;
    int64_t m_lVADResultCurLoc;
    int64_t m_lVADStartFrame;
    int64_t m_lFrameCnt;
    int64_t m_nStartFrame;
    int64_t m_nEndFrame;
    int m_nIsFinishFlag;
    bool m_bUseVAD;
    bool m_bDetectStart;
    bool m_bIsNull;
    DownSampler m_downSampler;  // holds the filter coefficients a, b and histories x, y
    int m_nSampleRate;
    int m_nFrameLength;
    int m_iLogLevel;
    int m_nMaxDataLenOneTime;

    // Rings are sized at mfeInit: m_nRingFrames frames, the input ring for the
    // highest rate, so that later rate or size settings cannot overrun them.
    int m_nRingFrames;
    bool m_bInitialised;
    // Audio that did not fit into the caller's buffer, handed out next time.
    int64_t m_lPendingStart;
    int64_t m_lPendingEnd;
    // A fetch already took this pass's range: later fetches only drain the pending audio.
    bool m_bFetchedSincePass;
    int m_nLastFrameCode;
};

}  // namespace vx_dnnvad

#endif
