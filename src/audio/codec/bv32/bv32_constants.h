// Scalar constants of the BroadVoice32 codec (frame geometry, limits, thresholds).
//
// Threading: compile-time constants only.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_CONSTANTS_H
#define VXS_AUDIO_CODEC_BV32_BV32_CONSTANTS_H

#include <cstdint>

namespace vxs {
namespace bv32 {

constexpr int FRSZ = 80;      // frame size
constexpr int SFSZ = 40;      // subframe size
constexpr int NSF = 2;        // subframes per frame
constexpr int VDIM = 4;       // excitation vector dimension
constexpr int NVPSF = SFSZ / VDIM;  // excitation vectors per subframe
constexpr int CBSZ = 32;      // excitation shape codebook size
constexpr int LPCO = 8;       // LPC order
constexpr int MINPP = 10;
constexpr int MAXPP = 265;
constexpr int MAXPP1 = 266;   // length of the past-signal buffers
constexpr int XOFF = MAXPP1;
constexpr int LX = XOFF + FRSZ;
constexpr int WINSZ = 160;

constexpr int DECF = 8;
constexpr int FRSZD = FRSZ / DECF;
constexpr int MAXPPD = MAXPP / DECF;
constexpr int MINPPD = MINPP / DECF;
constexpr int MAXPPD1 = MAXPPD + 1;
constexpr int PWSZD = 240 / DECF;
constexpr int LXD = MAXPPD1 + PWSZD;
constexpr int XDOFF = LXD - FRSZD;
constexpr int HMAXPPD = MAXPPD / 2;
constexpr int DFO = 4;
constexpr int MAX_NPEAKS = 7;

constexpr int16_t TH1 = 23921;
constexpr int16_t TH2 = 13107;
constexpr int16_t LPTH1 = 25559;
constexpr int16_t LPTH2 = 14090;
constexpr int16_t MPDTH = 1966;
constexpr int16_t SMDTH = 3113;
constexpr int16_t MPTH4 = 9830;

constexpr int16_t LSPMIN = 49;
constexpr int16_t LSPMAX = 32694;
constexpr int16_t DLSPMIN = 410;
constexpr int Ngrd = 60;
constexpr int LGPORDER = 16;
constexpr int LSPPORDER = 8;
constexpr int LGPECBSZ = 32;

constexpr int32_t TMinE = 20;
constexpr int32_t MinE = -67108864;  // -2.0 in Q25
constexpr int16_t LGLB = -24;
constexpr int16_t LGCLB = -8;
constexpr int NGB = 18;
constexpr int NGCB = 11;
constexpr int16_t LTWFL = 4096;

constexpr int16_t estl_alpha = 32764;
constexpr int16_t estl_beta = 32736;
constexpr int16_t estl_beta1 = 32;
constexpr int16_t estl_a = 32704;
constexpr int16_t estl_a1 = 64;
constexpr int16_t estl_TH = 6554;

constexpr int16_t NCLGLIM_TRAPPED = 50;
constexpr int16_t LEVEL_CONVERGENCE_TIME = 100;

constexpr int16_t ScPLCG_a = 31129;
constexpr int16_t ScPLCG_b = -32768;
constexpr int16_t ScPLCGmin = 1639;
constexpr int16_t ScPLCGmax = 14746;
constexpr int16_t HoldPLCG = 8;
constexpr int16_t AttnPLCG = 50;
constexpr int16_t AttnFacPLCG = 20971;
constexpr int32_t TMinlgXsfsz = 10;

// Reset values shared by encoder and decoder.
constexpr int16_t kInitialLsp[LPCO] = {3641, 7282, 10923, 14564, 18204, 21845, 25486, 29127};
constexpr int32_t kInitialLmean = 268435456;  // 8.0 in Q25
constexpr int32_t kInitialLevel = 452984832;  // 13.5 in Q25

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_CONSTANTS_H
