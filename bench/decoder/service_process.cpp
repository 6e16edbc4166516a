#include "service_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace decbench {

namespace {

constexpr const char* kListeningPrefix = "listening on ";
constexpr int kStartupLimitMs = 60000;
constexpr auto kStopGrace = std::chrono::seconds(5);

}  // namespace

ServiceProcess::~ServiceProcess() { stop(); }

bool ServiceProcess::start(const std::string& program, const std::string& work_dir, std::string* error) {
    m_work_dir = work_dir;
    int out[2];
    if (pipe(out) != 0) {
        *error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    const std::string log = log_path();
    m_pid = fork();
    if (m_pid < 0) {
        *error = std::string("fork: ") + strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    if (m_pid == 0) {
        // A benchmark that dies without stop() must not leave the service behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1:0", "--tls-dir", work_dir.c_str(), "--log",
              log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    const bool ready = wait_for_listening_line(out[0], error);
    close(out[0]);
    if (!ready) stop();
    return ready;
}

bool ServiceProcess::wait_for_listening_line(int fd, std::string* error) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartupLimitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const size_t line_end = text.find('\n');
        if (line_end != std::string::npos) {
            const std::string line = text.substr(0, line_end);
            if (line.compare(0, strlen(kListeningPrefix), kListeningPrefix) == 0) {
                m_base_url = line.substr(strlen(kListeningPrefix));
                return true;
            }
            text.erase(0, line_end + 1);
            continue;
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 200) <= 0) continue;
        char chunk[512];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;  // the service ended before it was ready
        text.append(chunk, static_cast<size_t>(got));
    }
    *error = "the service did not announce its address";
    return false;
}

void ServiceProcess::stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
}

}  // namespace decbench
