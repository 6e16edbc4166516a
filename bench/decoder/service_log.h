// Reads the reference service's utterance log (JSON lines with "t_ms", "sn",
// "event") and finds, per utterance, the service's own share of the time
// between the client's last package and its final answer.
//
// Threading: plain functions; no shared state.
#ifndef VXS_BENCH_DECODER_SERVICE_LOG_H
#define VXS_BENCH_DECODER_SERVICE_LOG_H

#include <map>
#include <string>

namespace decbench {

// What the service spent on the end of one utterance, in milliseconds.
// Chunked: from the last audio packet taken off the upload (the finish packet
// when the utterance has no audio) to the final record (0xF1) written to the
// download. Single request: from the last piece's request (negative idx)
// read to its answer written. Negative when the log lacks either event.
struct ServiceShare {
    double chunked_ms = -1;
    double single_ms = -1;
};

// Every utterance in the log at `path`, by serial number. Lines that are not
// JSON objects are skipped; a missing file gives an empty map.
std::map<std::string, ServiceShare> read_service_shares(const std::string& path);

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_SERVICE_LOG_H
