// What both the library's decoders and the benchmark's plain clients are
// given for one utterance: the "engine.start" parameter map, and the package
// encoder the plain clients use to produce the same bytes the decoders send.
//
// Threading: a map or an encoder belongs to one utterance on one thread.
#ifndef VXS_BENCH_DECODER_REQUEST_MATERIAL_H
#define VXS_BENCH_DECODER_REQUEST_MATERIAL_H

#include <string>
#include <vector>

#include "audio/audio_encoder_base.h"
#include "bench_audio.h"
#include "core/param.h"
#include "core/shared_ptr.h"

namespace decbench {

// The single-request protocol number the benchmark uses (search-mode answers).
constexpr const char* kSingleProtocol = "1";

// A complete start map for one utterance: Wi-Fi, the search product, the
// setting's codec and rate, 160 ms packages, `sn`, `server_url`, a chunk key
// for the chunked protocol and `protocol` for the single-request one.
vxs::ParamMapPtr start_params(const CodecSetting& setting, int package_ms, const std::string& sn,
                              const std::string& server_url);

// Encodes packages the way a decoder does: one encoder per utterance, the
// format header in front of the first output.
class PackageEncoder {
public:
    PackageEncoder(const CodecSetting& setting, size_t largest_package);
    bool valid() const { return static_cast<bool>(m_encoder); }
    // The encoded bytes of one package; false on an encoder failure.
    bool encode(const std::string& pcm, std::string* out);

private:
    vxs::Memory::vxs_shared_ptr<vxs::AudioEncoderBase> m_encoder;
    std::vector<uint8_t> m_output;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_REQUEST_MATERIAL_H
