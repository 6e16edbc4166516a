// Faults the reference service can be told to inject, for one service
// instance or one utterance. A plan is written as comma-separated items, for
// example "final_err_no=-3002,stall_ms=3000" or "drop":
//   up_status=N      answer the upload connection with HTTP status N
//   down_status=N    answer the download connection with HTTP status N
//   status=N         answer single requests with HTTP status N
//   partial_err_no=N the first partial result carries err_no N
//   final_err_no=N   the final result carries err_no N
//   final_delay_ms=N wait N ms before the final result
//   stall_ms=N       after the first download record, send nothing for N ms
//   no_end           close the download body without the end record
//   drop             drop the download connection after its first record
//   bad_json         the final record's payload is not JSON
//   bad_length       the final record announces more bytes than it carries
//
// Threading: plain values; parse_fault_plan is a pure function.
#ifndef VXS_SERVICE_REFSERVICE_FAULT_PLAN_H
#define VXS_SERVICE_REFSERVICE_FAULT_PLAN_H

#include <string>

namespace vxs {
namespace refservice {

struct FaultPlan {
    int up_status = 0;
    int down_status = 0;
    int request_status = 0;
    int partial_err_no = 0;
    int final_err_no = 0;
    int final_delay_ms = 0;
    int stall_ms = 0;
    bool no_end = false;
    bool drop = false;
    bool bad_json = false;
    bool bad_length = false;

    bool empty() const;
    // Every fault set in `other` is set here too (its numbers win).
    void merge(const FaultPlan& other);
    std::string describe() const;
};

// Parses `text` into `plan` (items are added to what it holds). False with a
// reason for an unknown item or a bad number.
bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error);

// The header and the path segment that carry a plan for one utterance: a
// request header "X-Vxs-Fault: <plan>", or a segment "/fault:<plan>" anywhere
// in the base path (so a client whose server URL is configurable can ask for
// faults without touching its requests).
constexpr const char* kFaultHeader = "X-Vxs-Fault";
constexpr const char* kFaultPathPrefix = "/fault:";

// The plan carried by a request path; empty when there is none.
std::string fault_text_from_path(const std::string& path);

}  // namespace refservice
}  // namespace vxs

#endif  // VXS_SERVICE_REFSERVICE_FAULT_PLAN_H
