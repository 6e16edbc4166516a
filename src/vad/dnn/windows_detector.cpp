#include "vad/dnn/windows_detector.h"

#include <cmath>
#include <cstring>

#include "vad/dnn/dnn_vad_types.h"

namespace vx_dnnvad {

namespace {
const int kFirstSpeechUnit = 3;  // units 0..2 do not count towards speech

// Geometric mean of the speech units, scaled by e^(1/6).
template <typename T>
float speechConfidence(const T* units) {
    float logSum = 1.0f;
    for (int j = kFirstSpeechUnit; j < WindowsDetector::kUnits; ++j) logSum += static_cast<float>(std::log(units[j]));
    return static_cast<float>(std::exp(logSum / 6.0));
}
}  // namespace

WindowsDetector::WindowsDetector(const VadConfiger& config)
    : win_smooth_size(kSmooth),
      speech_confidence_threshold(config.speech_st_threshold),
      sil_confidence_threshold(config.speech_et_threshold),
      winSize(config._winSize < 1 ? 1 : (config._winSize > kMaxWindow ? kMaxWindow : config._winSize)) {
    reset();
}

void WindowsDetector::reset() {
    curWinPos = 0;
    cur_win_smooth_pos = 0;
    preFrameState = 0;
    curwinSize = 0;
    confidence = 0.0f;
    frameConfidence = 0.0f;
    std::memset(winProbs_sum, 0, sizeof winProbs_sum);
    std::memset(winProbs, 0, sizeof winProbs);
    std::memset(winSmoothedProbs, 0, sizeof winSmoothedProbs);
    std::memset(win_max_smoothed_probs, 0, sizeof win_max_smoothed_probs);
}

int WindowsDetector::SmoothDetectorOneFrame(const float* p, int count, long /*frameIdx*/) {
    if (count != kUnits || !p) return INVALID;
    if (curwinSize != win_smooth_size) curwinSize = cur_win_smooth_pos + 1;
    for (int j = 0; j < kUnits; ++j) {
        winProbs_sum[j] -= winProbs[j][cur_win_smooth_pos];
        winProbs_sum[j] += p[j];
        winProbs[j][cur_win_smooth_pos] = p[j];
        winSmoothedProbs[j][curWinPos] = winProbs_sum[j] / static_cast<float>(curwinSize);
        double maxValue = winSmoothedProbs[j][0];
        for (int w = 1; w < winSize; ++w) {
            if (winSmoothedProbs[j][w] > maxValue) maxValue = winSmoothedProbs[j][w];
        }
        win_max_smoothed_probs[j] = maxValue;
    }
    cur_win_smooth_pos = (cur_win_smooth_pos + 1) % win_smooth_size;
    confidence = speechConfidence(win_max_smoothed_probs);
    frameConfidence = speechConfidence(p);
    curWinPos = (curWinPos + 1) % winSize;
    if (preFrameState == 0) {
        if (confidence >= speech_confidence_threshold) {
            preFrameState = 1;
            return SIL2SPEECH;
        }
        return SIL2SIL;
    }
    if (confidence <= sil_confidence_threshold) {
        preFrameState = 0;
        return SPEECH2SIL;
    }
    return SPEECH2SPEECH;
}

}  // namespace vx_dnnvad
