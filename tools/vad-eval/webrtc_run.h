// WebRTC's voice detection (AudioProcessing::voice_detection) over a whole
// stream in 10 ms frames: one decision per frame.
//
// Threading: reentrant; every call builds its own AudioProcessing instance.
#ifndef VXS_TOOLS_VAD_EVAL_WEBRTC_RUN_H
#define VXS_TOOLS_VAD_EVAL_WEBRTC_RUN_H

#include <cstdint>
#include <vector>

namespace vad_eval {

enum class WebRtcSetting { Default, MostAggressive };

// False when the library rejects the configuration or a frame.
bool runWebRtcVad(const std::vector<int16_t>& pcm, int sampleRate, WebRtcSetting setting,
                  std::vector<uint8_t>* speechFrames);

}  // namespace vad_eval

#endif
