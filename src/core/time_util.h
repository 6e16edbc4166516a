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

}  // namespace vxs

#endif  // VXS_CORE_TIME_UTIL_H
