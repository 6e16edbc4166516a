// Windowed per-frame decision of the detector: smooths the network's 9
// posteriors over the last 3 frames, keeps the maximum of the last 20 smoothed
// values per unit, turns units 3..8 into one confidence and applies a
// two-threshold hysteresis. It also reports the latest frame's own confidence,
// which tells where speech ends without the window's hold. Also the small
// configuration record it is built from.
//
// Threading: one thread at a time per instance.
#ifndef VXS_VAD_DNN_WINDOWS_DETECTOR_H
#define VXS_VAD_DNN_WINDOWS_DETECTOR_H

namespace vx_dnnvad {

enum VADTYPE { HEADER = 1 };

class VadConfiger {
public:
    VadConfiger() : _vadType(HEADER), _winSize(20), speech_st_threshold(0.2f), speech_et_threshold(0.2f) {}
    // Sets the window to 20 frames; always succeeds (true).
    bool load() {
        _winSize = 20;
        return true;
    }

    VADTYPE _vadType;
    int _winSize;
    float speech_st_threshold;
    float speech_et_threshold;
};

class WindowsDetector {
public:
    static constexpr int kUnits = 9;       // posteriors the decision expects
    static constexpr int kSmooth = 3;      // frames averaged
    static constexpr int kMaxWindow = 64;  // largest supported maximum window

    // Thresholds and window size from `config`; window sizes outside
    // 1..kMaxWindow are clamped.
    explicit WindowsDetector(const VadConfiger& config);
    // One frame: the FrameCode for `p` (count values); INVALID and no change
    // when count is not 9.
    int SmoothDetectorOneFrame(const float* p, int count, long frameIdx);
    void reset();
    // Confidence of the latest frame (for diagnostics and tests).
    float lastConfidence() const { return confidence; }
    // The same confidence from the latest frame's own posteriors, with neither
    // smoothing nor the maximum window: it falls as soon as the network lets
    // go, so it tells where speech really ends.
    float lastFrameConfidence() const { return frameConfidence; }
    // True when the latest frame's own confidence is above the end threshold.
    bool lastFrameVoiced() const { return frameConfidence > sil_confidence_threshold; }

private:
    int win_smooth_size;
    int cur_win_smooth_pos;
    float winProbs[kUnits][kSmooth];
    double winSmoothedProbs[kUnits][kMaxWindow];
    float winProbs_sum[kUnits];
    double win_max_smoothed_probs[kUnits];
    int curwinSize;
    float speech_confidence_threshold;
    float sil_confidence_threshold;
    int curWinPos;
    int winSize;
    int preFrameState;
    float confidence;
    float frameConfidence;
};

}  // namespace vx_dnnvad

#endif
