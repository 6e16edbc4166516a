// Shared enumerations of the neural voice-activity detector: life states of
// its components, utterance statuses, the proxy-side detection results and the
// per-frame transition codes with their debug names.
//
// Threading: constants only; safe from any thread.
#ifndef VXS_VAD_DNN_DNN_VAD_TYPES_H
#define VXS_VAD_DNN_DNN_VAD_TYPES_H

namespace vx_dnnvad {

// Life state of the network and of every feature translator.
enum State { UNINIT = 1, IDLE = 2, BUSY = 3 };

// Utterance status of a detection pass.
enum VADState {
    SILENCE = 0,
    SILENCE_TO_SPEECH = 1,
    SPEECH_TO_SILENCE = 2,
    NO_SPEECH = 3,
    SPEECH_TOO_SHORT = 4,
    SPEECH_TOO_LONG = 5,
    SPEECH_PAUSE = 6,
    NO_DETECT = 7
};

// What the VAD proxy makes of a detection pass.
enum DetectResult {
    RET_SILENCE = 0,
    RET_SILENCE_TO_SPEECH = 1,
    RET_SPEECH_TO_SILENCE = 2,
    RET_NO_SPEECH = 3,
    RET_SPEECH_TOO_SHORT = 4,
    RET_SPEECH_TOO_LONG = 5,
    RET_PAUSE = 6,
    RET_RESERVE2 = 7,
    RET_RESERVE3 = 8,
    RET_RESERVE4 = 9
};

// Per-frame transition of the windowed decision.
enum FrameCode {
    SPEECH2SPEECH = 0,
    SPEECH2SIL = 1,
    SIL2SIL = 2,
    SIL2SPEECH = 3,
    NOTBEGIN = 4,
    INVALID = 5
};

// Names of the frame codes, one 16-byte row each, indexed by FrameCode.
extern const char g_AudioState[6][16];

}  // namespace vx_dnnvad

#endif
