#include "webrtc_run.h"

#include "webrtc/modules/audio_processing/include/audio_processing.h"
#include "webrtc/modules/interface/module_common_types.h"

namespace vad_eval {

namespace {

bool configure(webrtc::VoiceDetection* vad, WebRtcSetting setting) {
    if (vad->Enable(true) != webrtc::AudioProcessing::kNoError) return false;
    // The library's default likelihood is kLowLikelihood; kVeryLowLikelihood
    // is its most aggressive mode (the fewest frames called voice).
    if (setting == WebRtcSetting::MostAggressive) {
        return vad->set_likelihood(webrtc::VoiceDetection::kVeryLowLikelihood) == webrtc::AudioProcessing::kNoError;
    }
    return true;
}

bool processStream(webrtc::AudioProcessing* apm, const std::vector<int16_t>& pcm, int sampleRate,
                   WebRtcSetting setting, std::vector<uint8_t>* speechFrames) {
    webrtc::VoiceDetection* vad = apm->voice_detection();
    if (!configure(vad, setting)) return false;
    const size_t frameSamples = static_cast<size_t>(sampleRate / 100);
    // AudioFrame holds its samples inline (several kB).
    webrtc::AudioFrame* frame = new webrtc::AudioFrame();
    bool ok = true;
    for (size_t at = 0; ok && at + frameSamples <= pcm.size(); at += frameSamples) {
        frame->UpdateFrame(0, static_cast<uint32_t>(at), pcm.data() + at, frameSamples, sampleRate,
                           webrtc::AudioFrame::kNormalSpeech, webrtc::AudioFrame::kVadUnknown, 1);
        ok = apm->ProcessStream(frame) == webrtc::AudioProcessing::kNoError;
        if (ok) speechFrames->push_back(vad->stream_has_voice() ? 1 : 0);
    }
    delete frame;
    return ok;
}

}  // namespace

bool runWebRtcVad(const std::vector<int16_t>& pcm, int sampleRate, WebRtcSetting setting,
                  std::vector<uint8_t>* speechFrames) {
    speechFrames->clear();
    webrtc::AudioProcessing* apm = webrtc::AudioProcessing::Create();
    if (!apm) return false;
    const bool ok = processStream(apm, pcm, sampleRate, setting, speechFrames);
    delete apm;
    return ok;
}

}  // namespace vad_eval
