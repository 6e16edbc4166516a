#include "vad/dnn/feature_translator.h"

#include <cstring>
#include <new>

#include "vad/dnn/cmvn_file.h"
#include "vad/dnn/dnn_vad_print.h"
#include "vad/dnn/filter_bank.h"

namespace vx_dnnvad {

FeatureTranslator::FeatureTranslator(int src, int dst) : srcDim(src), dstDim(dst), state(UNINIT), successor(nullptr) {}

FeatureTranslator::~FeatureTranslator() = default;

State FeatureTranslator::getState() {
    if (!successor) return state;
    return (successor->getState() == UNINIT || state == UNINIT) ? UNINIT : IDLE;
}

int FeatureTranslator::translate(float* in, int /*inlen*/, int seq) { return passOn(in, seq); }

int FeatureTranslator::passOn(float* out, int seq) { return successor ? successor->translate(out, dstDim, seq) : 0; }

int FeatureTranslator::read(float* out, int len) { return successor ? successor->read(out, len) : -1; }

int FeatureTranslator::reset() { return successor ? successor->reset() : 0; }

// --- PCM -> log mel ---------------------------------------------------------

PCM2FeatureTranslator::PCM2FeatureTranslator(int src, int dst)
    : FeatureTranslator(src, dst), feOpt(InitFEVad()), feature(new (std::nothrow) float[dst > 0 ? dst : 1]()) {
    if (!feature) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]init pcm2featuretranslator malloc failure! dstDim:%d\n", dstDim);
        return;
    }
    if (feOpt && feOpt->frameSize == srcDim && feOpt->fBankChanNum == dstDim) state = IDLE;
}

PCM2FeatureTranslator::~PCM2FeatureTranslator() {
    KillFEVad(feOpt);
    delete[] feature;
}

State PCM2FeatureTranslator::getState() { return FeatureTranslator::getState(); }

int PCM2FeatureTranslator::translate(float* in, int inlen, int seq) {
    if (state == UNINIT || inlen != srcDim) return -1;
    int outDim = 0;
    if (Wav2CepOneFrame(in, inlen, feature, outDim, feOpt) != 0 || outDim != dstDim) return -1;
    return passOn(feature, seq);
}

int PCM2FeatureTranslator::reset() { return FeatureTranslator::reset(); }

// --- mean and variance normalisation ----------------------------------------

CMVNFeatureTranslator::CMVNFeatureTranslator(int src, int dst, const char* cmvnPath)
    : FeatureTranslator(src, dst), mean(nullptr), revVar(nullptr), feature(nullptr) {
    if (srcDim != dstDim) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]CMVNFeatureTranslator init srcDim:%d dstDim:%d not equal!\n\n", srcDim, dstDim);
        return;
    }
    if (srcDim <= 0) return;
    mean = new (std::nothrow) float[srcDim]();
    revVar = new (std::nothrow) float[srcDim]();
    feature = new (std::nothrow) float[srcDim]();
    if (!mean || !revVar || !feature) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]CMVNFeatureTranslator init srcDim:%d. memory new error!\n\n", srcDim);
        return;
    }
    if (loadCmvnFile(cmvnPath, srcDim, mean, revVar) == 0) state = IDLE;
}

CMVNFeatureTranslator::~CMVNFeatureTranslator() {
    delete[] mean;
    delete[] revVar;
    delete[] feature;
}

State CMVNFeatureTranslator::getState() { return FeatureTranslator::getState(); }

int CMVNFeatureTranslator::translate(float* in, int inlen, int seq) {
    if (state == UNINIT || inlen != srcDim) return -1;
    for (int i = 0; i < srcDim; ++i) feature[i] = (in[i] - mean[i]) * revVar[i];
    return passOn(feature, seq);
}

int CMVNFeatureTranslator::reset() { return FeatureTranslator::reset(); }

// --- splicing -----------------------------------------------------------------

ConcatFeatureTranslator::ConcatFeatureTranslator(int src, int dst)
    : FeatureTranslator(src, dst), feature(nullptr), context(0), winBegin(0), winEnd(0), curFrame(0) {
    if (srcDim <= 0 || dstDim <= 0 || dstDim % srcDim != 0) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]ConcatFeatureTranslator init dstDim:%d srcDim:%d not exact division\n\n", dstDim,
                        srcDim);
        return;
    }
    context = dstDim / srcDim;
    winBegin = context;
    feature = new (std::nothrow) float[dstDim]();
    if (!feature) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]ConcatFeatureTranslator init srcDim:%d feature memory new failure\n\n", dstDim);
        return;
    }
    state = IDLE;
}

ConcatFeatureTranslator::~ConcatFeatureTranslator() { delete[] feature; }

State ConcatFeatureTranslator::getState() { return FeatureTranslator::getState(); }

int ConcatFeatureTranslator::translate(float* in, int inlen, int seq) {
    if (state == UNINIT || inlen != srcDim) return -1;
    const size_t frameBytes = srcDim * sizeof(float);
    if (curFrame == 0) {
        for (int slot = 0; slot < context; ++slot) std::memcpy(feature + slot * srcDim, in, frameBytes);
    } else {
        std::memmove(feature, feature + srcDim, (dstDim - srcDim) * sizeof(float));
        std::memcpy(feature + dstDim - srcDim, in, frameBytes);
    }
    ++curFrame;
    return passOn(feature, seq);
}

int ConcatFeatureTranslator::read(float* out, int len) {
    if (state == UNINIT || len != dstDim || !out) return -1;
    std::memcpy(out, feature, dstDim * sizeof(float));
    return dstDim;
}

int ConcatFeatureTranslator::rewind(const float* spliced, long framesBack) {
    if (state == UNINIT || !spliced || framesBack < 0 || framesBack >= curFrame) return -1;
    std::memcpy(feature, spliced, dstDim * sizeof(float));
    curFrame -= framesBack;
    return 0;
}

int ConcatFeatureTranslator::reset() {
    if (feature) std::memset(feature, 0, dstDim * sizeof(float));
    winEnd = 0;
    curFrame = 0;
    return FeatureTranslator::reset();
}

}  // namespace vx_dnnvad
