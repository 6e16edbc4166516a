#include "decoder_factories.h"

#if VXS_BENCH_HAVE_CHUNKED_DECODER
#include "decoder/event_manager_dec_chunk.h"
#endif
#if VXS_BENCH_HAVE_SINGLE_DECODER
#include "decoder/event_manager_dec.h"
#endif

namespace decbench {

namespace {

#if VXS_BENCH_HAVE_CHUNKED_DECODER
vxs::EventManagerPtr make_chunked(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context,
                                  const vxs::EventManagerWeakPtr& callback) {
    return vxs::EventManagerDecChunk::newEventManager(context, callback);
}
#endif

#if VXS_BENCH_HAVE_SINGLE_DECODER
vxs::EventManagerPtr make_single(const vxs::Memory::vxs_weak_ptr<vxs::Context>& context,
                                 const vxs::EventManagerWeakPtr& callback) {
    return vxs::EventManagerDec::newEventManager(context, callback);
}
#endif

}  // namespace

DecoderFactory chunked_decoder_factory() {
#if VXS_BENCH_HAVE_CHUNKED_DECODER
    return &make_chunked;
#else
    return nullptr;
#endif
}

DecoderFactory single_decoder_factory() {
#if VXS_BENCH_HAVE_SINGLE_DECODER
    return &make_single;
#else
    return nullptr;
#endif
}

}  // namespace decbench
