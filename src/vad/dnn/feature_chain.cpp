#include "vad/dnn/feature_chain.h"

#include <new>

#include "vad/dnn/dnn_vad_print.h"
#include "vad/dnn/feature_translator.h"

namespace vx_dnnvad {

namespace {
const int kFrameLength = 200;
const int kFrameShift = 80;
}  // namespace

FeatureChain::FeatureChain(int sampleRate, const char* cmvnPath, int spliceFrames)
    : m_sampleRate(sampleRate),
      m_ok(false),
      m_pcm(nullptr),
      m_cmvn(nullptr),
      m_concat(nullptr),
      m_frame(kFrameLength),
      m_frameIndex(0) {
    if (sampleRate != 8000 && sampleRate != 16000) {
        VX_DNNVAD_PRINT("ERROR:[%s:%d]SampleRate = %d, should be 8000 or 16000\n", sampleRate);
        return;
    }
    m_pcm = new (std::nothrow) PCM2FeatureTranslator(kFrameLength, kFeatures);
    if (!m_pcm) return;
    if (cmvnPath) {
        if (spliceFrames < 1) return;
        m_cmvn = new (std::nothrow) CMVNFeatureTranslator(kFeatures, kFeatures, cmvnPath);
        m_concat = new (std::nothrow) ConcatFeatureTranslator(kFeatures, kFeatures * spliceFrames);
        if (!m_cmvn || !m_concat) return;
        m_pcm->setSuccessor(m_cmvn);
        m_cmvn->setSuccessor(m_concat);
    }
    m_ok = m_pcm->getState() != UNINIT;
    m_window.reserve(kFrameLength + 2 * DownSampler::kBlock);
}

FeatureChain::~FeatureChain() {
    delete m_pcm;
    delete m_cmvn;
    delete m_concat;
}

void FeatureChain::reset() {
    m_downSampler.reset();
    m_pending16k.clear();
    m_window.clear();
    m_frameIndex = 0;
    if (m_pcm) m_pcm->reset();
}

int FeatureChain::push(const int16_t* pcm, int count, FrameSink* sink) {
    if (!m_ok || count < 0 || (!pcm && count > 0) || !sink) return -1;
    if (m_sampleRate == 8000) {
        feed8k(pcm, count, sink);
        return 0;
    }
    int16_t decimated[DownSampler::kBlockOut];
    for (int i = 0; i < count; ++i) {
        m_pending16k.push_back(pcm[i]);
        if (static_cast<int>(m_pending16k.size()) == DownSampler::kBlock) {
            m_downSampler.processBlock(m_pending16k.data(), decimated);
            m_pending16k.clear();
            feed8k(decimated, DownSampler::kBlockOut, sink);
        }
    }
    return 0;
}

void FeatureChain::feed8k(const int16_t* samples, int count, FrameSink* sink) {
    for (int i = 0; i < count; ++i) {
        m_window.push_back(samples[i]);
        if (static_cast<int>(m_window.size()) == kFrameLength) {
            emitFrame(sink);
            m_window.erase(m_window.begin(), m_window.begin() + kFrameShift);
        }
    }
}

void FeatureChain::emitFrame(FrameSink* sink) {
    for (int i = 0; i < kFrameLength; ++i) m_frame[i] = m_window[i];
    m_pcm->translate(m_frame.data(), kFrameLength, static_cast<int>(m_frameIndex));
    FrameFeatures features;
    features.frame = m_frameIndex++;
    features.logMel = m_pcm->output();
    features.normalised = m_cmvn ? m_cmvn->output() : nullptr;
    features.spliced = m_concat ? m_concat->output() : nullptr;
    features.splicedDim = m_concat ? m_concat->getDstDim() : 0;
    sink->onFrame(features);
}

}  // namespace vx_dnnvad
