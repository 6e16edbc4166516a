// gzip compression over zlib: one-shot members (compressData) and a stream fed
// in pieces (compressBytes).
//
// Threading: a compressor is used by one thread at a time; compressData uses
// a compressor of the calling thread's own, so it may be called from any
// number of threads at once.
#ifndef VXS_NET_GZIP_COMPRESSOR_H
#define VXS_NET_GZIP_COMPRESSOR_H

#include <cstddef>

#include <zlib.h>

#include "core/shared_ptr.h"

namespace vxs {

class zipCompressor {
public:
    enum CompressError {
        COMPRESS_OK = 0,
        COMPRESS_EMPTY_INPUT = 1,
        COMPRESS_ALLOC_FAIL = 2,
        COMPRESS_DEFLATE_FAILED = 3,
    };

    // A compressor with its stream set up; empty when set-up fails.
    static Memory::vxs_shared_ptr<zipCompressor> compressor();

    // One complete gzip member holding `length` bytes of `bytes`. Empty result
    // and an error for an empty input or a failure; outLength is set on success.
    static Memory::vxs_shared_ptr<char> compressData(const char* bytes, size_t length, size_t& outLength,
                                                     CompressError& error);

    ~zipCompressor();
    zipCompressor(const zipCompressor&) = delete;
    zipCompressor& operator=(const zipCompressor&) = delete;

    // Feeds `length` bytes to the stream and returns what it produced (outLength
    // bytes, possibly none before the finish); finish ends the gzip member. Any
    // error closes the stream.
    Memory::vxs_shared_ptr<char> compressBytes(const char* bytes, size_t length, size_t& outLength, bool finish,
                                               CompressError& error);

    // (Re)starts a gzip stream: default level, 32 KiB window with gzip header
    // and trailer. Returns zlib's status.
    int setupStream();
    void closeStream();
    // Starts the next gzip member on the stream already set up, keeping its
    // memory; the output is the same as after setupStream(). False (and the
    // stream closed) when there is no stream or zlib refuses.
    bool restartStream();

private:
    zipCompressor() = default;

    bool streamReady = false;
    z_stream* compressorHandle = nullptr;
};

}  // namespace vxs

#endif  // VXS_NET_GZIP_COMPRESSOR_H
