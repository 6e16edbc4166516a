// The reference recognition service run as a child process, so that the
// benchmark process's CPU time is the client's alone.
//
// Threading: one thread starts and stops it; the accessors may be read from
// any thread once start() returned.
#ifndef VXS_BENCH_DECODER_SERVICE_PROCESS_H
#define VXS_BENCH_DECODER_SERVICE_PROCESS_H

#include <sys/types.h>

#include <string>

namespace decbench {

class ServiceProcess {
public:
    ServiceProcess() = default;
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Runs `program` on 127.0.0.1 with a free port, its throw-away CA and its
    // utterance log in `work_dir`, and waits (up to 60 s, the model loads
    // first) for its "listening on" line. False with `error` set otherwise.
    bool start(const std::string& program, const std::string& work_dir, std::string* error);
    // Ends the service (SIGTERM, then SIGKILL after 5 s) and reaps it.
    void stop();

    // "https://127.0.0.1:PORT" as the service announced it.
    const std::string& base_url() const { return m_base_url; }
    std::string ca_path() const { return m_work_dir + "/ca.pem"; }
    std::string log_path() const { return m_work_dir + "/log.jsonl"; }

private:
    bool wait_for_listening_line(int fd, std::string* error);

    pid_t m_pid = -1;
    std::string m_work_dir;
    std::string m_base_url;
};

}  // namespace decbench

#endif  // VXS_BENCH_DECODER_SERVICE_PROCESS_H
