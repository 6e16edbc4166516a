#include "timing_stats.h"

#include <algorithm>
#include <cmath>

namespace decbench {

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(fraction * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : std::min(values.size() - 1, static_cast<size_t>(rank) - 1);
    return values[index];
}

}  // namespace decbench
