// A program started by a test, with its standard output on a pipe and its
// standard error in a file, and bounded waits for its lines and its exit.
//
// Threading: one thread owns a ChildProcess. The destructor kills a child
// that is still running (SIGKILL) and reaps it, so a failing test leaves no
// process behind.
#ifndef VXS_TESTS_REFSERVICE_CLI_CHILD_PROCESS_H
#define VXS_TESTS_REFSERVICE_CLI_CHILD_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace vxs_test {

struct ExitStatus {
    bool exited = false;     // ended through exit() / return from main
    int code = -1;           // the exit code when `exited`
    int signal = 0;          // the signal that ended it otherwise
    bool timed_out = false;  // still running when the wait gave up
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` (argv[1..]); standard error goes to
    // `stderr_path`. SIGINT and SIGTERM start with their default action and
    // unblocked, whatever the test runner's own mask. False with `error`
    // filled when the program could not be started.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& stderr_path, std::string* error);

    // Reads standard output until `count` whole lines have arrived, the
    // pipe closes or `timeout_ms` passes; returns the lines read so far.
    std::vector<std::string> read_lines(size_t count, int timeout_ms);
    // Everything the child writes until it closes standard output, bounded.
    std::string read_all(int timeout_ms);

    bool send_signal(int signal_number);
    // Waits up to `timeout_ms` for the child to end and reaps it.
    ExitStatus wait(int timeout_ms);

private:
    // One read from the pipe, waiting at most `timeout_ms`; false on
    // end of file, error or timeout.
    bool read_some(int timeout_ms);

    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_pending;  // bytes read but not yet handed out
};

}  // namespace vxs_test

#endif  // VXS_TESTS_REFSERVICE_CLI_CHILD_PROCESS_H
