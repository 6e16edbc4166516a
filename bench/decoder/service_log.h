// Follows the reference service's utterance log (JSON lines with "t_ms",
// "sn", "event") while it grows and finds, per utterance, the service's own
// share of the time between the client's last package and its final answer.
//
// Threading: one thread uses a follower.
#ifndef VXS_BENCH_DECODER_SERVICE_LOG_H
#define VXS_BENCH_DECODER_SERVICE_LOG_H

#include <cstdio>
#include <map>
#include <string>

namespace decbench {

// What the service spent on the end of one utterance, in milliseconds.
// Chunked: from the last audio packet taken off the upload (the finish packet
// when the utterance has no audio) to the final record (0xF1) written to the
// download. Single request: from the last piece's request (negative idx)
// read to its answer written. Negative while the log lacks either event.
//
// The span from the first audio packet (or piece) the service took to the
// last lets a reader see whether the last package reached a service still
// busy with earlier audio: a chunked upload is read one packet at a time, so
// then the last packet is logged late, by the length of that backlog, and
// the wait would pass for client time.
struct ServiceShare {
    double chunked_ms = -1;
    double single_ms = -1;
    double chunked_audio_span_ms = -1;
    double single_audio_span_ms = -1;
};

class ServiceLogFollower {
public:
    explicit ServiceLogFollower(const std::string& path) : m_path(path) {}
    ~ServiceLogFollower();
    ServiceLogFollower(const ServiceLogFollower&) = delete;
    ServiceLogFollower& operator=(const ServiceLogFollower&) = delete;

    // Takes in the lines written since the last call. Lines that are not
    // JSON objects are skipped; a log not there yet reads as empty.
    void read_new_lines();
    // The utterance's share as far as the log has told; false when the log
    // has no line of that serial number.
    bool share(const std::string& sn, ServiceShare* share) const;

    // Times of the events that make up a share, in the utterance's ms.
    struct Marks {
        double first_audio = -1;
        double last_audio = -1;
        double finish_packet = -1;
        double final_record = -1;
        double first_request = -1;
        double last_request = -1;
        double last_answer = -1;
        size_t audio_packets = 0;
        bool partial_since_last_audio = false;  // the service is done with that packet
        int highest_answered = 0;  // largest positive idx answered
    };

    // True once the service has taken `packages` audio packets of a chunked
    // utterance, or answered piece `packages` of a single-request one (it
    // takes pieces in order). `done` tells whether it is known to be through
    // with them: always for pieces; for packets only when a partial result
    // followed the last (it is logged as taken before it is decoded).
    bool has_taken(const std::string& sn, bool chunked, size_t packages, bool* done) const;

private:
    std::string m_path;
    FILE* m_file = nullptr;
    std::string m_partial_line;
    std::map<std::string, Marks> m_marks;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_SERVICE_LOG_H
