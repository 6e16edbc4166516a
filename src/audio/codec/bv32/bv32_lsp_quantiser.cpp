#include "audio/codec/bv32/bv32_lsp_quantiser.h"

#include "audio/codec/bv32/bv32_basic_ops.h"
#include "audio/codec/bv32/bv32_constants.h"
#include "audio/codec/bv32/bv32_lpc.h"
#include "audio/codec/bv32/bv32_tables.h"

namespace vxs {
namespace bv32 {

using namespace ops;

namespace {

constexpr int kStage1Size = 128;
constexpr int kStage2Size = 32;
constexpr int kSplit1Dim = 3;
constexpr int kSplit2Dim = 5;
// Used when no split-1 candidate keeps the first three LSPs ordered.
constexpr int kSplit1Fallback = 1;

void lspWeights(const int16_t* lsp, int16_t* w) {
    int16_t d[LPCO - 1];
    int16_t dmin = 32767;
    for (int i = 0; i < LPCO - 1; ++i) {
        d[i] = sub(lsp[i + 1], lsp[i]);
        if (d[i] < dmin) dmin = d[i];
    }
    w[0] = div_s(dmin, d[0]);
    for (int i = 1; i < LPCO - 1; ++i) w[i] = div_s(dmin, d[i] < d[i - 1] ? d[i] : d[i - 1]);
    w[LPCO - 1] = div_s(dmin, d[LPCO - 2]);
}

int32_t stage1Peak() {
    int32_t peak = 0;
    for (const auto& row : tab::lspecb1) {
        for (int16_t v : row) peak = v < 0 ? (-v > peak ? -v : peak) : (v > peak ? v : peak);
    }
    return peak;
}

// The distortions are sums of squares, so a saturating accumulator only ever
// clips them to MAX_32, which never beats the running best; when no difference
// e - cb can leave the 16-bit range the exact sums give the same choice.
int searchStage1(const int16_t* e) {
    static const int32_t kCodebookPeak = stage1Peak();
    int32_t peak = 0;
    for (int k = 0; k < LPCO; ++k) {
        const int32_t m = e[k] < 0 ? -int32_t(e[k]) : e[k];
        if (m > peak) peak = m;
    }
    const bool exact = peak + kCodebookPeak <= kMax16;

    int64_t best = kMax32;
    int idx = 0;
    for (int j = 0; j < kStage1Size; ++j) {
        const int16_t* cb = tab::lspecb1[j];
        int64_t dist = 0;
        if (exact) {
            for (int k = 0; k < LPCO; ++k) {
                const int32_t t = int32_t(e[k]) - cb[k];
                dist += t * t;
            }
        } else {
            int32_t sat = 0;
            for (int k = 0; k < LPCO; ++k) {
                const int16_t t = sub(e[k], cb[k]);
                sat = L_mac0(sat, t, t);
            }
            dist = sat;
        }
        if (dist < best) {
            best = dist;
            idx = j;
        }
    }
    return idx;
}

int32_t weightedDistortion(const int16_t* target, const int16_t* w, const int16_t* cb, int dim) {
    int32_t dist = 0;
    for (int k = 0; k < dim; ++k) {
        const int16_t t = sub(target[k], shr(cb[k], 1));
        const int16_t u = extract_h(L_mult0(w[k], t));
        dist = L_mac0(dist, u, t);
    }
    return dist;
}

int searchSplit1(const int16_t* e2, const int16_t* w, const int16_t* base) {
    int32_t best = kMax32;
    int idx = kSplit1Fallback;
    for (int j = 0; j < kStage2Size; ++j) {
        const int16_t* cb = tab::lspecb21[j];
        const int16_t c0 = add(base[0], shr(cb[0], 4));
        const int16_t c1 = add(base[1], shr(cb[1], 4));
        const int16_t c2 = add(base[2], shr(cb[2], 4));
        const bool admissible = c0 >= 0 && c1 >= c0 && c2 >= c1;
        const int32_t dist = weightedDistortion(e2, w, cb, kSplit1Dim);
        if (admissible && dist < best) {
            best = dist;
            idx = j;
        }
    }
    return idx;
}

int searchSplit2(const int16_t* e2, const int16_t* w) {
    int32_t best = kMax32;
    int idx = 0;
    for (int j = 0; j < kStage2Size; ++j) {
        const int32_t dist = weightedDistortion(e2, w, tab::lspecb22[j], kSplit2Dim);
        if (dist < best) {
            best = dist;
            idx = j;
        }
    }
    return idx;
}

// Quantised residual (q1*8 + q2*2) >> 4 kept as its low 16 bits.
inline int16_t combineStages(int16_t q1, int16_t q2) {
    return extract_l(L_shr(L_add(L_shl(q1, 3), L_shl(q2, 1)), 4));
}

void stage2Vector(int idx1, int idx2, int16_t* q2) {
    for (int k = 0; k < kSplit1Dim; ++k) q2[k] = shr(tab::lspecb21[idx1][k], 1);
    for (int k = 0; k < kSplit2Dim; ++k) q2[kSplit1Dim + k] = shr(tab::lspecb22[idx2][k], 1);
}

}  // namespace

void predictLsp(const int16_t* lsppm, int16_t* elsp) {
    for (int i = 0; i < LPCO; ++i) {
        int32_t acc = 0;
        for (int k = 0; k < LSPPORDER; ++k) acc = L_mac(acc, tab::lspp[i][k], lsppm[i * LSPPORDER + k]);
        elsp[i] = ops::round(L_shl(acc, 1));
    }
}

void updateLspPredictor(int16_t* lsppm, const int16_t* qe) {
    for (int i = 0; i < LPCO; ++i) {
        int16_t* m = lsppm + i * LSPPORDER;
        for (int k = LSPPORDER - 1; k > 0; --k) m[k] = m[k - 1];
        m[0] = qe[i];
    }
}

void quantiseLsp(const int16_t* lsp, int16_t* lsppm, int16_t* lspq, int16_t* lspidx) {
    int16_t w[LPCO], elsp[LPCO], e[LPCO], e2[LPCO], base[kSplit1Dim], q2[LPCO], qe[LPCO];
    lspWeights(lsp, w);
    predictLsp(lsppm, elsp);
    for (int i = 0; i < LPCO; ++i) e[i] = shl(sub(sub(lsp[i], tab::lspmean[i]), elsp[i]), 1);

    lspidx[0] = static_cast<int16_t>(searchStage1(e));
    const int16_t* q1 = tab::lspecb1[lspidx[0]];
    for (int i = 0; i < LPCO; ++i) e2[i] = shl(sub(e[i], q1[i]), 2);
    for (int i = 0; i < kSplit1Dim; ++i) base[i] = add(add(shr(q1[i], 1), elsp[i]), tab::lspmean[i]);

    lspidx[1] = static_cast<int16_t>(searchSplit1(e2, w, base));
    lspidx[2] = static_cast<int16_t>(searchSplit2(e2 + kSplit1Dim, w + kSplit1Dim));
    stage2Vector(lspidx[1], lspidx[2], q2);

    for (int i = 0; i < LPCO; ++i) qe[i] = combineStages(q1[i], q2[i]);
    updateLspPredictor(lsppm, qe);
    for (int i = 0; i < LPCO; ++i) lspq[i] = add(add(qe[i], elsp[i]), tab::lspmean[i]);
    stabiliseLsp(lspq);
}

void decodeLsp(const int16_t* lspidx, int16_t* lsplast, int16_t* lsppm, int16_t* lspq) {
    int16_t elsp[LPCO], q2[LPCO], qe[LPCO];
    predictLsp(lsppm, elsp);
    const int16_t* q1 = tab::lspecb1[lspidx[0]];
    stage2Vector(lspidx[1], lspidx[2], q2);
    for (int i = 0; i < LPCO; ++i) {
        qe[i] = combineStages(q1[i], q2[i]);
        lspq[i] = add(add(qe[i], elsp[i]), tab::lspmean[i]);
    }
    if (lspq[0] < 0 || lspq[1] < lspq[0] || lspq[2] < lspq[1]) {
        for (int i = 0; i < LPCO; ++i) {
            lspq[i] = lsplast[i];
            qe[i] = sub(sub(lspq[i], elsp[i]), tab::lspmean[i]);
        }
    }
    updateLspPredictor(lsppm, qe);
    stabiliseLsp(lspq);
    for (int i = 0; i < LPCO; ++i) lsplast[i] = lspq[i];
}

}  // namespace bv32
}  // namespace vxs
