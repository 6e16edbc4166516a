// LSP quantisation (encoder) and LSP decoding (decoder) of the BroadVoice32 codec:
// an 8th-order MA predictor with a two-stage VQ of the prediction residual.
//
// Threading: pure functions over caller-owned state arrays.
#ifndef VXS_AUDIO_CODEC_BV32_BV32_LSP_QUANTISER_H
#define VXS_AUDIO_CODEC_BV32_BV32_LSP_QUANTISER_H

#include <cstdint>

namespace vxs {
namespace bv32 {

// MA prediction elsp[0..7] (Q15) from the predictor memory lsppm[64].
void predictLsp(const int16_t* lsppm, int16_t* elsp);

// Shifts the predictor memory and inserts the quantised residual qe[0..7].
void updateLspPredictor(int16_t* lsppm, const int16_t* qe);

// Quantises lsp[0..7]; writes the three indices and the stabilised quantised LSPs.
void quantiseLsp(const int16_t* lsp, int16_t* lsppm, int16_t* lspq, int16_t* lspidx);

// Decodes the three indices into stabilised LSPs; substitutes lsplast when
// the first three decoded LSPs are out of order (bit errors). Updates lsplast.
void decodeLsp(const int16_t* lspidx, int16_t* lsplast, int16_t* lsppm, int16_t* lspq);

}  // namespace bv32
}  // namespace vxs

#endif  // VXS_AUDIO_CODEC_BV32_BV32_LSP_QUANTISER_H
