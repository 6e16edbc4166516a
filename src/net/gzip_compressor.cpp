#include "net/gzip_compressor.h"

#include <cstring>
#include <limits>
#include <new>

#include "core/log.h"

namespace vxs {

using Memory::vxs_shared_ptr;

namespace {

constexpr int kGzipWindowBits = 31;  // 15-bit window + 16: gzip header and trailer
constexpr int kMemoryLevel = 8;
// zlib counts in 32-bit units; larger inputs are fed in slices.
constexpr size_t kMaxSlice = std::numeric_limits<uInt>::max();

char* grow_buffer(char* old, size_t used, size_t size) {
    char* bigger = new (std::nothrow) char[size];
    if (bigger != nullptr && old != nullptr) std::memcpy(bigger, old, used);
    delete[] old;
    return bigger;
}

vxs_shared_ptr<char> adopt_buffer(char* raw) {
    vxs_shared_ptr<char> buffer(raw);
    buffer.setCustomDestructor(&vxs_shared_ptr<char>::arrayDestructor);
    return buffer;
}

}  // namespace

vxs_shared_ptr<zipCompressor> zipCompressor::compressor() {
    zipCompressor* raw = new (std::nothrow) zipCompressor();
    if (raw == nullptr) return vxs_shared_ptr<zipCompressor>();
    vxs_shared_ptr<zipCompressor> result(raw);
    if (result->setupStream() != Z_OK) return vxs_shared_ptr<zipCompressor>();
    return result;
}

zipCompressor::~zipCompressor() { closeStream(); }

int zipCompressor::setupStream() {
    closeStream();
    compressorHandle = new (std::nothrow) z_stream();
    if (compressorHandle == nullptr) return Z_MEM_ERROR;
    const int status = deflateInit2(compressorHandle, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                                    Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        delete compressorHandle;
        compressorHandle = nullptr;
        return status;
    }
    streamReady = true;
    return Z_OK;
}

bool zipCompressor::restartStream() {
    if (!streamReady) return false;
    if (deflateReset(compressorHandle) == Z_OK) return true;
    closeStream();
    return false;
}

void zipCompressor::closeStream() {
    if (compressorHandle != nullptr) {
        if (streamReady) deflateEnd(compressorHandle);
        delete compressorHandle;
        compressorHandle = nullptr;
    }
    streamReady = false;
}

vxs_shared_ptr<char> zipCompressor::compressBytes(const char* bytes, size_t length, size_t& outLength, bool finish,
                                                  CompressError& error) {
    error = COMPRESS_OK;
    outLength = 0;
    if (bytes == nullptr || length == 0) {
        error = COMPRESS_EMPTY_INPUT;
        return vxs_shared_ptr<char>();
    }
    if (!streamReady) {
        error = COMPRESS_DEFLATE_FAILED;
        return vxs_shared_ptr<char>();
    }
    // The output starts at half the input and grows by the same step; tiny
    // inputs still need room for the gzip header and trailer.
    const size_t step = length / 2 > 64 ? length / 2 : 64;
    size_t capacity = step;
    char* output = grow_buffer(nullptr, 0, capacity);
    if (output == nullptr) {
        error = COMPRESS_ALLOC_FAIL;
        return vxs_shared_ptr<char>();
    }

    z_stream* stream = compressorHandle;
    size_t consumed = 0;
    size_t produced = 0;
    while (true) {
        const size_t slice = length - consumed < kMaxSlice ? length - consumed : kMaxSlice;
        const bool last_slice = consumed + slice == length;
        stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes + consumed));
        stream->avail_in = static_cast<uInt>(slice);
        const size_t room = capacity - produced < kMaxSlice ? capacity - produced : kMaxSlice;
        stream->next_out = reinterpret_cast<Bytef*>(output + produced);
        stream->avail_out = static_cast<uInt>(room);
        const int flush = (finish && last_slice) ? Z_FINISH : Z_NO_FLUSH;
        const int status = deflate(stream, flush);
        consumed += slice - stream->avail_in;
        produced += room - stream->avail_out;
        // Z_BUF_ERROR only means "give me more output room"; with room left it
        // means the stream can take nothing more (for example after its finish).
        const bool needs_room = status == Z_BUF_ERROR && stream->avail_out == 0;
        if (status != Z_OK && status != Z_STREAM_END && !needs_room) {
            VXS_LOG_ERROR("[zipCompressor::compressBytes] deflate failed: %d", status);
            delete[] output;
            closeStream();
            error = COMPRESS_DEFLATE_FAILED;
            return vxs_shared_ptr<char>();
        }
        if (status == Z_STREAM_END) break;
        const bool input_done = consumed == length;
        // Without a finish, the call is done once zlib has taken all input and
        // left output room (everything it could emit so far has been emitted).
        if (input_done && !finish && stream->avail_out > 0) break;
        if (stream->avail_out == 0) {
            char* bigger = grow_buffer(output, produced, capacity + step);
            if (bigger == nullptr) {
                closeStream();
                error = COMPRESS_ALLOC_FAIL;
                return vxs_shared_ptr<char>();
            }
            output = bigger;
            capacity += step;
        }
    }
    outLength = produced;
    return adopt_buffer(output);
}

vxs_shared_ptr<char> zipCompressor::compressData(const char* bytes, size_t length, size_t& outLength,
                                                 CompressError& error) {
    outLength = 0;
    if (bytes == nullptr || length == 0) {
        error = COMPRESS_EMPTY_INPUT;
        return vxs_shared_ptr<char>();
    }
    // A deflate stream holds about 256 KiB of state, and making one per member
    // costs more than compressing a small document (the memory comes fresh
    // from the system each time), so each thread keeps its stream and restarts
    // it. Taken out while in use: a stream is never shared.
    thread_local vxs_shared_ptr<zipCompressor> kept;
    vxs_shared_ptr<zipCompressor> compressor = kept;
    kept = vxs_shared_ptr<zipCompressor>();
    if (!compressor || !compressor->restartStream()) compressor = zipCompressor::compressor();
    if (!compressor) {
        error = COMPRESS_ALLOC_FAIL;
        return vxs_shared_ptr<char>();
    }
    vxs_shared_ptr<char> member = compressor->compressBytes(bytes, length, outLength, true, error);
    if (error == COMPRESS_OK) kept = compressor;
    return member;
}

}  // namespace vxs
