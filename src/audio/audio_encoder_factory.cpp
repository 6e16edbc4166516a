#include "audio/audio_encoder_factory.h"

#include "audio/audio_encoder_amr.h"
#include "audio/audio_encoder_bv.h"
#include "audio/audio_encoder_pcm.h"

namespace vxs {

Memory::vxs_shared_ptr<AudioEncoderBase> createAudioEncoder(int compressionType, int sampleRate) {
    switch (compressionType) {
        case EVR_AUDIO_COMPRESSION_PCM:
            return AudioEncoderPCM::createEncoder(sampleRate);
        case EVR_AUDIO_COMPRESSION_BV32:
            return AudioEncoderBV::createEncoder(sampleRate);
        case EVR_AUDIO_COMPRESSION_AMR:
            return AudioEncoderAMR::createEncoder(sampleRate);
        default:
            return Memory::vxs_shared_ptr<AudioEncoderBase>();
    }
}

}  // namespace vxs
