#include "audio/codec/bv32/bv32_state.h"

#include <cstring>

#include "audio/codec/bv32/bv32_basic_ops.h"

namespace vxs {
namespace bv32 {

namespace {

void resetLevelEstimator(LevelEstimator* e) {
    e->lmax = ops::kMin32;
    e->lmin = ops::kMax32;
    e->lmean = kInitialLmean;
    e->x1 = kInitialLevel;
    e->level = kInitialLevel;
}

}  // namespace

void resetEncoderState(EncoderState* s) {
    std::memset(s, 0, sizeof(*s));
    s->old_a[0] = 4096;
    std::memcpy(s->lsplast, kInitialLsp, sizeof(s->lsplast));
    s->xwd_exp = 31;
    s->cpplast = 12 * DECF;
    s->prevlg[0] = s->prevlg[1] = MinE;
    resetLevelEstimator(&s->est);
}

void resetDecoderState(DecoderState* s) {
    std::memset(s, 0, sizeof(*s));
    std::memcpy(s->lsplast, kInitialLsp, sizeof(s->lsplast));
    s->prevlg[0] = s->prevlg[1] = MinE;
    resetLevelEstimator(&s->est);
    s->lgq_last = MinE;
}

}  // namespace bv32
}  // namespace vxs
