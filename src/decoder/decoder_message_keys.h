// Parameter keys of the messages between the ASR session and the online
// decoders ("engine.*" commands in, "dec.callback.*" reports out), shared by
// both decoders.
//
// Threading: constants only.
#ifndef VXS_DECODER_DECODER_MESSAGE_KEYS_H
#define VXS_DECODER_DECODER_MESSAGE_KEYS_H

namespace vxs {
namespace DecoderMessageKeys {

// "engine.data": the package is the utterance's last.
inline constexpr const char* kLast = "last.bool";
// "engine.cancel": the user asked for the cancel.
inline constexpr const char* kUserCancel = "user_cancel_bool";
// "dec.callback.begin": raw PCM bytes per package and the encoder's frame size.
inline constexpr const char* kPackageSize = "audio_package_size.int";
inline constexpr const char* kFrameSize = "encoder_frame_size.int";
// "dec.callback.data": one ASRResult.
inline constexpr const char* kResult = "result.vxs_shared_ptr<ASRResult>";
// "dec.callback.finish": the encoded error and its text.
inline constexpr const char* kError = "error.int32_t";
inline constexpr const char* kDescription = "desc.string";
// "dec.callback.log": one statistics line.
inline constexpr const char* kLog = "log.string";

}  // namespace DecoderMessageKeys
}  // namespace vxs

#endif  // VXS_DECODER_DECODER_MESSAGE_KEYS_H
