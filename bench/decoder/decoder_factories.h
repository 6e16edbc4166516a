// The library's online decoders as the benchmark makes them; a decoder not
// built into this tree gives no factory.
//
// Threading: the factories may be called from any thread.
#ifndef VXS_BENCH_DECODER_DECODER_FACTORIES_H
#define VXS_BENCH_DECODER_DECODER_FACTORIES_H

#include "decoder_client.h"

namespace decbench {

// EventManagerDecChunk, or null when the tree has none.
DecoderFactory chunked_decoder_factory();
// EventManagerDec, or null when the tree has none.
DecoderFactory single_decoder_factory();

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_DECODER_FACTORIES_H
