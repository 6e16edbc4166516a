#include "core/time_util.h"

#include <sys/time.h>

namespace vxs {

uint64_t get_current_time() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1000000u + static_cast<uint64_t>(tv.tv_usec);
}

}  // namespace vxs
