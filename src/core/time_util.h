// Clock and time-string helpers.
//
// Threading: every function is reentrant.
#ifndef VXS_CORE_TIME_UTIL_H
#define VXS_CORE_TIME_UTIL_H

#include <cstdint>

namespace vxs {

// Microseconds since the Unix epoch (wall clock); every time stamp and
// duration of the library uses it.
uint64_t get_current_time();

// The buffer size format_timestamp needs.
constexpr int kTimestampBufferSize = 64;

// Formats an audio position of `pos` bytes as "mm:ss.mmm", or "hh:mm:ss.mmm"
// once it reaches an hour, into `buf` (kTimestampBufferSize bytes) and returns
// `buf`. A negative position, a non-positive sample size or rate, or a null
// buffer give "" (a static empty string, not `buf`).
const char* format_timestamp(int pos, int bytes_per_sample, int rate, char* buf);

}  // namespace vxs

#endif  // VXS_CORE_TIME_UTIL_H
