// The common face of every client the benchmark times: the library's two
// decoders and the two plain libcurl clients. A client sends one utterance's
// packages on the given schedule and reports the time from handing over the
// last package to receiving the final result.
//
// Threading: a client runs one utterance at a time on the calling thread
// (it may use threads of its own inside).
#ifndef VXS_BENCH_DECODER_UTTERANCE_CLIENT_H
#define VXS_BENCH_DECODER_UTTERANCE_CLIENT_H

#include <chrono>
#include <functional>
#include <string>

#include "bench_audio.h"

namespace decbench {

using Clock = std::chrono::steady_clock;

// When packages are handed over: one every `interval` from the start, and the
// last one `settle` later still and, when there is a gate, only once the gate
// let it through. Both are there so that the service has caught up with the
// earlier audio and the timed span holds only the end of the utterance.
struct Pacing {
    std::chrono::milliseconds interval{20};
    std::chrono::milliseconds settle{0};
    // Called with the serial number and the number of packages before the
    // last; returns when the last may go.
    std::function<void(const std::string& sn, size_t earlier_packages)> before_last;
};

// Waits for the gate, if any, before the last of `count` packages.
inline void pass_gate(const Pacing& pacing, const std::string& sn, size_t index, size_t count) {
    if (index + 1 == count && pacing.before_last) pacing.before_last(sn, count - 1);
}

struct UtteranceOutcome {
    bool ok = false;
    std::string error;
    double client_ms = 0;  // final result received - last package handed over
    double span_ms = 0;    // last package handed over - first package handed over
    std::string text;      // the final result as received
};

class UtteranceClient {
public:
    virtual ~UtteranceClient() = default;
    virtual std::string name() const = 0;
    // Sends `utterance` as serial number `sn` and waits for its final result
    // (at most 30 s).
    virtual UtteranceOutcome run(const Utterance& utterance, const CodecSetting& setting, const std::string& sn,
                                 const Pacing& pacing) = 0;
};

// The moment package `index` (0-based) of `count` is due after `start`.
inline Clock::time_point package_due(Clock::time_point start, size_t index, size_t count, const Pacing& pacing) {
    Clock::time_point due = start + pacing.interval * static_cast<int>(index + 1);
    if (index + 1 == count) due += pacing.settle;
    return due;
}

inline double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_UTTERANCE_CLIENT_H
