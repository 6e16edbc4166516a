// vad-feature-dump RATE IN.raw OUT.f32
//
// Runs 16-bit little-endian mono PCM at 8000 or 16000 Hz through the
// detector's feature chain and writes, per 10 ms frame, the 26 log mel
// energies as float32 (frame after frame, no header). Training reads these
// so that the model sees exactly what the detector computes at run time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vad/dnn/feature_chain.h"

namespace {

class FileFrameSink : public vx_dnnvad::FrameSink {
public:
    explicit FileFrameSink(FILE* out) : m_out(out) {}
    void onFrame(const vx_dnnvad::FrameFeatures& features) override {
        if (fwrite(features.logMel, sizeof(float), vx_dnnvad::FeatureChain::kFeatures, m_out) !=
            static_cast<size_t>(vx_dnnvad::FeatureChain::kFeatures)) {
            m_failed = true;
        }
    }
    bool failed() const { return m_failed; }

private:
    FILE* m_out;
    bool m_failed = false;
};

int usage() {
    fprintf(stderr, "usage: vad-feature-dump 8000|16000 IN.raw OUT.f32\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return usage();
    const int rate = atoi(argv[1]);
    if (rate != 8000 && rate != 16000) return usage();
    FILE* in = fopen(argv[2], "rb");
    if (!in) {
        fprintf(stderr, "vad-feature-dump: cannot open %s\n", argv[2]);
        return 1;
    }
    FILE* out = fopen(argv[3], "wb");
    if (!out) {
        fprintf(stderr, "vad-feature-dump: cannot create %s\n", argv[3]);
        fclose(in);
        return 1;
    }
    vx_dnnvad::FeatureChain chain(rate, nullptr, 1);
    FileFrameSink sink(out);
    std::vector<int16_t> block(4096);
    int status = chain.ok() ? 0 : 1;
    size_t got = 0;
    while (status == 0 && (got = fread(block.data(), sizeof(int16_t), block.size(), in)) > 0) {
        if (chain.push(block.data(), static_cast<int>(got), &sink) != 0 || sink.failed()) status = 1;
    }
    fclose(in);
    if (fclose(out) != 0) status = 1;
    if (status != 0) fprintf(stderr, "vad-feature-dump: failed on %s\n", argv[2]);
    return status;
}
