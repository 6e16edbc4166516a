// A fresh directory under the system's temp directory for one test, removed
// with its content when the test ends.
#ifndef VXS_TESTS_CORE_TEMP_DIR_H
#define VXS_TESTS_CORE_TEMP_DIR_H

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <ftw.h>
#include <unistd.h>

namespace vxs_test {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vxs_core_XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    static int removeEntry(const char* entry, const struct stat*, int, struct FTW*) {
        ::remove(entry);
        return 0;
    }
    std::string path_;
};

inline std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace vxs_test

#endif  // VXS_TESTS_CORE_TEMP_DIR_H
