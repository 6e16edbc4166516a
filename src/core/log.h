// Leveled logging to standard error or a size-limited log file.
//
// Threading: the level is a plain integer read without a lock; file output is
// serialised by the log mutex. Every log macro formats its line at the call
// site with truncation and passes it to LogFile::log, which writes it verbatim.
// Keep text from outside (HTTP bodies, results, paths) in "%s" arguments only.
#ifndef VXS_CORE_LOG_H
#define VXS_CORE_LOG_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace vxs {

enum LogLevel { kLogOff = 0, kLogFatal = 1, kLogError, kLogWarn, kLogInfo, kLogDebug, kLogTrace };

void set_log_level(int level);
int get_current_log_level();
// True when the configured level is at least `level`.
bool can_log(int level);

// The part of `path` after the last "/"; "" for null.
const char* get_file_name(const char* path);
// The local time as "YYYY-MM-DD hh:mm:ss.mmm".
std::string get_gmt_time();

class LogFile {
public:
    // Opens `name` (truncated, mode 0600) as the log file unless one is open already;
    // it is rotated to name + ".bak" once it reaches fileSize x 524,288 bytes (0: never).
    // fileSize outside 0..4095 is rejected. Returns true when a file is open after the call.
    static bool open_log_file(const char* name, int fileSize);
    static void close_log_file();
    // Writes one formatted line verbatim (never used as a format).
    static void log(const char* line);
};

// Formats one line: "[TAG]-[time][file:line]" + message + "\n", truncated to the
// line buffer, and hands it to LogFile::log.
void log_line(const char* tag, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace vxs

#define VXS_LOG_AT(level, tag, ...)                                 \
    do {                                                            \
        if (::vxs::can_log(level)) {                                \
            ::vxs::log_line(tag, __FILE__, __LINE__, __VA_ARGS__);  \
        }                                                           \
    } while (0)

#define VXS_LOG_FATAL(...) VXS_LOG_AT(::vxs::kLogFatal, "FATAL", __VA_ARGS__)
#define VXS_LOG_ERROR(...) VXS_LOG_AT(::vxs::kLogError, "ERROR", __VA_ARGS__)
#define VXS_LOG_WARN(...) VXS_LOG_AT(::vxs::kLogWarn, "WARN", __VA_ARGS__)
#define VXS_LOG_INFO(...) VXS_LOG_AT(::vxs::kLogInfo, "INFO", __VA_ARGS__)
#define VXS_LOG_DEBUG(...) VXS_LOG_AT(::vxs::kLogDebug, "DEBUG", __VA_ARGS__)
#define VXS_LOG_TRACE(...) VXS_LOG_AT(::vxs::kLogTrace, "TRACE", __VA_ARGS__)

#endif  // VXS_CORE_LOG_H
