// File-system helpers.
//
// Threading: reentrant; mk_dirs reads the current directory, so it must not
// race with a chdir of another thread.
#ifndef VXS_CORE_FILE_UTIL_H
#define VXS_CORE_FILE_UTIL_H

#include <cstdint>
#include <string>

namespace vxs {

// The size of the file `name` from the file system, or -1 (null, missing).
int64_t get_file_size(const char* name);

// The whole file read in binary mode; "" when the name is empty or the file
// cannot be opened.
std::string read_all_content(const std::string& name);

// The longest full path mk_dirs accepts (bytes, including the terminator).
constexpr size_t kMaxDirPathBytes = 256;

// Creates every missing directory of `path` (relative paths are taken from
// the current directory) with mode 0775. Returns 0 on success; 1 after writing
// "make_dir [<path>] failed" or "arg path is null" to standard error, also
// when the full path does not fit in kMaxDirPathBytes or a part of it exists
// but is not a directory.
int mk_dirs(const char* path);

}  // namespace vxs

#endif  // VXS_CORE_FILE_UTIL_H
