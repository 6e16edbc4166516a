// How the speech audio is compressed before it is sent to the recognition
// service ("asr_param_key_compression_type.int", "audio_encoding.int").
//
// Threading: plain constants.
#ifndef VXS_AUDIO_AUDIO_COMPRESSION_TYPE_H
#define VXS_AUDIO_AUDIO_COMPRESSION_TYPE_H

namespace vxs {

enum TVXVoiceRecognitionAudioCompressionType {
    EVR_AUDIO_COMPRESSION_MIN = 0,
    EVR_AUDIO_COMPRESSION_PCM = 1,
    EVR_AUDIO_COMPRESSION_BV32 = 2,
    EVR_AUDIO_COMPRESSION_AMR = 3,
    EVR_AUDIO_COMPRESSION_MAX = 4,
};

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_COMPRESSION_TYPE_H
