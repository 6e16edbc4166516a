// Order statistics of a handful of timings.
//
// Threading: plain functions.
#ifndef VXS_BENCH_DECODER_TIMING_STATS_H
#define VXS_BENCH_DECODER_TIMING_STATS_H

#include <vector>

namespace decbench {

// The nearest-rank percentile (`fraction` in 0..1) of `values`; 0 when empty.
double percentile(std::vector<double> values, double fraction);
inline double median(const std::vector<double>& values) { return percentile(values, 0.5); }

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_TIMING_STATS_H
