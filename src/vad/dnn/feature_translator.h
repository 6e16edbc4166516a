// The detector's feature chain: PCM frame -> 26 log mel energies -> mean and
// variance normalisation -> splice of the latest frames (oldest first) into
// the network's input vector. Each translator hands its output to its
// successor; asking, reading or resetting the head covers the whole chain.
//
// Threading: a chain belongs to one thread at a time. Successors are not owned.
#ifndef VXS_VAD_DNN_FEATURE_TRANSLATOR_H
#define VXS_VAD_DNN_FEATURE_TRANSLATOR_H

#include "vad/dnn/dnn_vad_types.h"

namespace vx_dnnvad {

struct FeOption;

class FeatureTranslator {
public:
    FeatureTranslator(int srcDim, int dstDim);
    virtual ~FeatureTranslator();
    FeatureTranslator(const FeatureTranslator&) = delete;
    FeatureTranslator& operator=(const FeatureTranslator&) = delete;

    // Own state without a successor; with one, UNINIT when either is UNINIT, else IDLE.
    virtual State getState();
    // Transforms one frame of inlen values and passes it on; returns the
    // successor's result, 0 at the end of the chain, -1 on a width mismatch or
    // an uninitialised translator. `seq` is the frame index (informational).
    virtual int translate(float* in, int inlen, int seq);
    // Forwards to the successor; -1 at the end of the chain.
    virtual int read(float* out, int len);
    // Forwards to the successor.
    virtual int reset();

    void setSuccessor(FeatureTranslator* next) { successor = next; }
    int getSrcDim() const { return srcDim; }
    int getDstDim() const { return dstDim; }

protected:
    int passOn(float* out, int seq);

    int srcDim;
    int dstDim;
    State state;
    FeatureTranslator* successor;
};

// 200 raw samples (8000 Hz, as floats) -> 26 log mel energies.
class PCM2FeatureTranslator : public FeatureTranslator {
public:
    PCM2FeatureTranslator(int srcDim, int dstDim);
    ~PCM2FeatureTranslator() override;
    State getState() override;
    int translate(float* in, int inlen, int seq) override;
    int reset() override;
    // The latest frame's log mel energies (dstDim values).
    const float* output() const { return feature; }

private:
    FeOption* feOpt;
    float* feature;
};

// out[i] = (in[i] - mean[i]) * revVar[i], statistics from a normalisation file.
class CMVNFeatureTranslator : public FeatureTranslator {
public:
    CMVNFeatureTranslator(int srcDim, int dstDim, const char* cmvnPath);
    ~CMVNFeatureTranslator() override;
    State getState() override;
    int translate(float* in, int inlen, int seq) override;
    int reset() override;
    const float* output() const { return feature; }

private:
    float* mean;
    float* revVar;
    float* feature;
};

// Splices the latest dstDim / srcDim frames, oldest first, current last. The
// first frame after construction or reset fills every slot.
class ConcatFeatureTranslator : public FeatureTranslator {
public:
    ConcatFeatureTranslator(int srcDim, int dstDim);
    ~ConcatFeatureTranslator() override;
    State getState() override;
    int translate(float* in, int inlen, int seq) override;
    // Copies the spliced vector when len = dstDim and returns dstDim; else -1.
    int read(float* out, int len) override;
    int reset() override;
    const float* output() const { return feature; }
    // Returns to the state right after an earlier frame: `spliced` is the
    // vector that frame produced (dstDim values), `framesBack` (>= 0) the
    // number of frames spliced since. 0, or -1 when that would go back past
    // the first frame.
    int rewind(const float* spliced, long framesBack);

  private:
    float* feature;
    int context;
    int winBegin;
    int winEnd;
    long curFrame;
};

}  // namespace vx_dnnvad

#endif
