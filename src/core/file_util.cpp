#include "core/file_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vxs {

namespace {

constexpr size_t kReadChunkBytes = 1024;

// The path made absolute from the current directory, ending in "/"; false
// when the current directory cannot be read.
bool absoluteDirPath(const char* path, std::string& out) {
    out.clear();
    if (path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return false;
        out = cwd;
        if (out.empty() || out.back() != '/') out.push_back('/');
    }
    out += path;
    if (out.back() != '/') out.push_back('/');
    return true;
}

// Creates one directory level; an existing directory counts as success
// (whatever error mkdir gives for it, e.g. on a read-only parent).
bool makeOneLevel(const std::string& dir) {
    if (mkdir(dir.c_str(), 0775) == 0) return true;
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int reportMakeDirFailure(const std::string& partial) {
    std::fprintf(stderr, "make_dir [%s] failed\n", partial.c_str());
    return 1;
}

}  // namespace

int64_t get_file_size(const char* name) {
    if (!name) return -1;
    struct stat st;
    if (stat(name, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string read_all_content(const std::string& name) {
    std::string content;
    if (name.empty()) return content;
    FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return content;
    char chunk[kReadChunkBytes];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
    std::fclose(file);
    return content;
}

int mk_dirs(const char* path) {
    if (!path) {
        std::fprintf(stderr, "arg path is null\n");
        return 1;
    }
    std::string full;
    if (!absoluteDirPath(path, full)) return reportMakeDirFailure(path);
    if (full.size() >= kMaxDirPathBytes) return reportMakeDirFailure(full);
    for (size_t slash = full.find('/', 1); slash != std::string::npos;
         slash = full.find('/', slash + 1)) {
        const std::string partial = full.substr(0, slash + 1);
        if (!makeOneLevel(partial)) return reportMakeDirFailure(partial);
    }
    return 0;
}

}  // namespace vxs
