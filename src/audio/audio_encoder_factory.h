// Picks the encoder for a compression type; the online decoders create one per
// utterance through it.
//
// Threading: may be called from any thread; the encoder it returns is then used
// by one thread at a time.
#ifndef VXS_AUDIO_AUDIO_ENCODER_FACTORY_H
#define VXS_AUDIO_AUDIO_ENCODER_FACTORY_H

#include "audio/audio_compression_type.h"
#include "audio/audio_encoder_base.h"
#include "core/shared_ptr.h"

namespace vxs {

// A new, uninitialised encoder, or an empty pointer for an unknown type or a
// rate other than 8000 or 16000 Hz.
Memory::vxs_shared_ptr<AudioEncoderBase> createAudioEncoder(int compressionType, int sampleRate);

}  // namespace vxs

#endif  // VXS_AUDIO_AUDIO_ENCODER_FACTORY_H
