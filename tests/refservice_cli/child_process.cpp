#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vxs_test {

namespace {

long long now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int remaining_ms(long long deadline) {
    const long long left = deadline - now_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

ExitStatus decode(int status) {
    ExitStatus result;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

// The spawn attributes that give the child default, unblocked SIGINT and
// SIGTERM: a runner that ignores or blocks them must not leak that into the
// program under test.
bool prepare_attributes(posix_spawnattr_t* attributes) {
    sigset_t defaults, empty;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&empty);
    return posix_spawnattr_init(attributes) == 0 && posix_spawnattr_setsigdefault(attributes, &defaults) == 0 &&
           posix_spawnattr_setsigmask(attributes, &empty) == 0 &&
           posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    if (m_stdout >= 0) close(m_stdout);
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stderr_path, std::string* error) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    int rc = prepare_attributes(&attributes) ? 0 : EINVAL;
    if (rc == 0) rc = posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (rc != 0) {
        m_pid = -1;
        close(pipe_ends[0]);
        *error = "posix_spawn " + program + ": " + strerror(rc);
        return false;
    }
    m_stdout = pipe_ends[0];
    return true;
}

bool ChildProcess::read_some(int timeout_ms) {
    if (m_stdout < 0) return false;
    pollfd ready{m_stdout, POLLIN, 0};
    const int polled = poll(&ready, 1, timeout_ms);
    if (polled <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(m_stdout, buffer, sizeof(buffer));
    if (got <= 0) {
        if (got < 0 && errno == EINTR) return true;
        close(m_stdout);
        m_stdout = -1;
        return false;
    }
    m_pending.append(buffer, static_cast<size_t>(got));
    return true;
}

std::vector<std::string> ChildProcess::read_lines(size_t count, int timeout_ms) {
    const long long deadline = now_ms() + timeout_ms;
    std::vector<std::string> lines;
    while (lines.size() < count) {
        const size_t newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            lines.push_back(m_pending.substr(0, newline));
            m_pending.erase(0, newline + 1);
            continue;
        }
        if (!read_some(remaining_ms(deadline))) break;
    }
    return lines;
}

std::string ChildProcess::read_all(int timeout_ms) {
    const long long deadline = now_ms() + timeout_ms;
    while (read_some(remaining_ms(deadline))) {
    }
    std::string all;
    all.swap(m_pending);
    return all;
}

bool ChildProcess::send_signal(int signal_number) {
    return m_pid > 0 && kill(m_pid, signal_number) == 0;
}

ExitStatus ChildProcess::wait(int timeout_ms) {
    ExitStatus result;
    result.timed_out = true;
    if (m_pid <= 0) return result;
    const long long deadline = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return decode(status);
        }
        if (done < 0 && errno != EINTR) return result;
        if (remaining_ms(deadline) == 0) return result;
        usleep(20 * 1000);
    }
}

}  // namespace vxs_test
