#include "audio/codec/bv32/bv32_packing.h"

#include <cstring>

#include "audio/codec/bv32/bv32.h"

namespace vxs {
namespace bv32 {

namespace {

constexpr int kLspBits[3] = {7, 5, 5};
constexpr int kPitchBits = 8;
constexpr int kTapBits = 5;
constexpr int kGainBits = 5;
constexpr int kShapeBits = 6;

class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) { std::memset(out_, 0, kFrameBytes); }
    void put(int value, int bits) {
        for (int b = bits - 1; b >= 0; --b, ++pos_) {
            if ((value >> b) & 1) out_[pos_ >> 3] |= static_cast<uint8_t>(0x80 >> (pos_ & 7));
        }
    }

private:
    uint8_t* out_;
    int pos_ = 0;
};

class BitReader {
public:
    explicit BitReader(const uint8_t* in) : in_(in) {}
    int16_t get(int bits) {
        int v = 0;
        for (int b = 0; b < bits; ++b, ++pos_) v = (v << 1) | ((in_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1);
        return static_cast<int16_t>(v);
    }

private:
    const uint8_t* in_;
    int pos_ = 0;
};

}  // namespace

void packFrame(const FrameParams& p, uint8_t* bytes) {
    BitWriter w(bytes);
    for (int i = 0; i < 3; ++i) w.put(p.lspidx[i], kLspBits[i]);
    w.put(p.ppidx, kPitchBits);
    w.put(p.bqidx, kTapBits);
    for (int i = 0; i < NSF; ++i) w.put(p.gidx[i], kGainBits);
    for (int i = 0; i < NSF * NVPSF; ++i) w.put(p.qvidx[i], kShapeBits);
}

void unpackFrame(const uint8_t* bytes, FrameParams* p) {
    BitReader r(bytes);
    for (int i = 0; i < 3; ++i) p->lspidx[i] = r.get(kLspBits[i]);
    p->ppidx = r.get(kPitchBits);
    p->bqidx = r.get(kTapBits);
    for (int i = 0; i < NSF; ++i) p->gidx[i] = r.get(kGainBits);
    for (int i = 0; i < NSF * NVPSF; ++i) p->qvidx[i] = r.get(kShapeBits);
}

}  // namespace bv32
}  // namespace vxs
