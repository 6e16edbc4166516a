// The detector's feature chain as a stand-alone stream processor, for feature
// dumps and model training: 16-bit PCM at 8000 or 16000 Hz in, per 10 ms frame
// the 26 log mel energies and, with a normalisation file, the normalised
// values and the spliced network input. 16 kHz input goes through the same
// down-sampler as the detector, so the features match what it computes.
//
// Threading: one thread at a time per instance.
#ifndef VXS_VAD_DNN_FEATURE_CHAIN_H
#define VXS_VAD_DNN_FEATURE_CHAIN_H

#include <cstdint>
#include <vector>

#include "vad/dnn/downsampler.h"

namespace vx_dnnvad {

class PCM2FeatureTranslator;
class CMVNFeatureTranslator;
class ConcatFeatureTranslator;

struct FrameFeatures {
    int64_t frame;            // index since construction or reset
    const float* logMel;      // 26 values
    const float* normalised;  // 26 values, null without a normalisation file
    const float* spliced;     // splicedDim values, null without a normalisation file
    int splicedDim;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void onFrame(const FrameFeatures& features) = 0;
};

class FeatureChain {
public:
    static constexpr int kFeatures = 26;

    // `cmvnPath` may be null: then only log mel energies are produced.
    // `spliceFrames` frames (>= 1) make up the spliced vector.
    FeatureChain(int sampleRate, const char* cmvnPath, int spliceFrames);
    ~FeatureChain();
    FeatureChain(const FeatureChain&) = delete;
    FeatureChain& operator=(const FeatureChain&) = delete;

    // False when the rate is not 8000/16000 or a part failed to build (the
    // reason is printed to standard output).
    bool ok() const { return m_ok; }
    // Feeds samples; calls sink->onFrame for every frame they complete.
    // 0, or -1 when !ok() or the arguments are invalid.
    int push(const int16_t* pcm, int count, FrameSink* sink);
    // Starts a new stream (frames count from 0 again).
    void reset();

private:
    void feed8k(const int16_t* samples, int count, FrameSink* sink);
    void emitFrame(FrameSink* sink);

    int m_sampleRate;
    bool m_ok;
    PCM2FeatureTranslator* m_pcm;
    CMVNFeatureTranslator* m_cmvn;
    ConcatFeatureTranslator* m_concat;
    DownSampler m_downSampler;
    std::vector<int16_t> m_pending16k;  // fewer than one down-sampler block
    std::vector<float> m_window;        // the 8 kHz samples not yet consumed by a frame
    std::vector<float> m_frame;
    int64_t m_frameIndex;
};

}  // namespace vx_dnnvad

#endif
