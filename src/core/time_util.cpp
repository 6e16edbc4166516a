#include "core/time_util.h"

#include <sys/time.h>

#include <cstdio>

namespace vxs {

uint64_t get_current_time() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1000000u + static_cast<uint64_t>(tv.tv_usec);
}

const char* format_timestamp(int pos, int bytes_per_sample, int rate, char* buf) {
    if (!buf || pos < 0 || bytes_per_sample <= 0 || rate <= 0) return "";
    // 64-bit: bytes per second of a large rate would overflow an int.
    const int64_t bytesPerSecond = static_cast<int64_t>(bytes_per_sample) * rate;
    const int64_t seconds = pos / bytesPerSecond;
    const int64_t millis = (pos % bytesPerSecond) * 1000 / bytesPerSecond;
    const int hours = static_cast<int>(seconds / 3600);
    const int minutes = static_cast<int>(seconds / 60 % 60);
    const int secs = static_cast<int>(seconds % 60);
    if (hours != 0) {
        std::snprintf(buf, kTimestampBufferSize, "%02d:%02d:%02d.%03d", hours, minutes, secs,
                      static_cast<int>(millis));
    } else {
        std::snprintf(buf, kTimestampBufferSize, "%02d:%02d.%03d", minutes, secs,
                      static_cast<int>(millis));
    }
    return buf;
}

}  // namespace vxs
