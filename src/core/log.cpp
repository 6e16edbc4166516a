#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "core/file_util.h"
#include "threads/app_mutex.h"

namespace vxs {

namespace {

constexpr size_t kLineBufferSize = 10240;
constexpr uint64_t kRotationUnitBytes = 524288;  // log file sizes count in 512 KiB
constexpr int kMaxFileSizeUnits = 4095;

std::atomic<int> s_log_level{0};

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

// Log-file state; the file pointer is atomic so that the unlocked
// "no file open" fast path of LogFile::log stays race-free.
struct LogFileState {
    AppMutex mutex{false};
    std::atomic<FILE*> file{nullptr};
    std::string name;
    uint64_t sizeLimit = 0;
};

LogFileState& state() {
    static LogFileState* s = new LogFileState();  // never destroyed: logging works during exit
    return *s;
}

void writeToStderr(const char* line) {
    std::fputs(line, stderr);
    std::fflush(stderr);
}

// Logs may hold identifiers and server answers: the file is the owner's only,
// from its creation on (no window with the umask's mode) and also when an
// older file of that name is reused.
FILE* openTruncated(const std::string& name) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    fchmod(fd, S_IRUSR | S_IWUSR);
    FILE* f = fdopen(fd, "w");
    if (!f) close(fd);
    return f;
}

// Under the log mutex: once the file has reached its limit, keep its content
// as name + ".bak" and go on in an empty file.
void rotateIfFull(LogFileState& s) {
    if (s.sizeLimit == 0) return;
    const int64_t size = get_file_size(s.name.c_str());
    if (size >= 0 && static_cast<uint64_t>(size) < s.sizeLimit) return;
    std::fclose(s.file.load());
    s.file.store(nullptr);
    const std::string backup = s.name + ".bak";
    std::rename(s.name.c_str(), backup.c_str());
    s.file.store(openTruncated(s.name));
}

}  // namespace

void set_log_level(int level) { s_log_level.store(level, std::memory_order_relaxed); }

int get_current_log_level() { return s_log_level.load(std::memory_order_relaxed); }

bool can_log(int level) { return get_current_log_level() >= level; }

const char* get_file_name(const char* path) {
    if (!path) return "";
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string get_gmt_time() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm local;
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return text;
}

bool LogFile::open_log_file(const char* name, int fileSize) {
    LogFileState& s = state();
    AppLock lock(&s.mutex);
    if (s.file.load()) return true;
    if (!name || !*name || fileSize < 0 || fileSize > kMaxFileSizeUnits) return false;
    s.name = name;
    s.sizeLimit = static_cast<uint64_t>(fileSize) * kRotationUnitBytes;
    s.file.store(openTruncated(s.name));
    return s.file.load() != nullptr;
}

void LogFile::close_log_file() {
    LogFileState& s = state();
    AppLock lock(&s.mutex);
    if (FILE* f = s.file.exchange(nullptr)) std::fclose(f);
    s.name.clear();
    s.sizeLimit = 0;
}

void LogFile::log(const char* line) {
    if (!line) return;
    LogFileState& s = state();
    if (!s.file.load()) {
        writeToStderr(line);
        return;
    }
    AppLock lock(&s.mutex);
    if (s.file.load()) rotateIfFull(s);
    FILE* f = s.file.load();
    if (!f) {
        writeToStderr(line);
        return;
    }
    std::fputs(line, f);
    std::fflush(f);
}

void log_line(const char* tag, const char* file, int line, const char* format, ...) {
    char buffer[kLineBufferSize];
    int used = std::snprintf(buffer, sizeof buffer, "[%s]-[%s][%s:%d]", tag, get_gmt_time().c_str(),
                             get_file_name(file), line);
    if (used < 0) return;
    size_t offset = static_cast<size_t>(used) < sizeof buffer ? static_cast<size_t>(used)
                                                              : sizeof buffer - 1;
    va_list args;
    va_start(args, format);
    int body = std::vsnprintf(buffer + offset, sizeof buffer - offset, format, args);
    va_end(args);
    if (body > 0) offset += static_cast<size_t>(body);
    if (offset > sizeof buffer - 2) offset = sizeof buffer - 2;  // truncated: keep room for "\n"
    buffer[offset] = '\n';
    buffer[offset + 1] = '\0';
    LogFile::log(buffer);
}

}  // namespace vxs
