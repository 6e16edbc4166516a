// The three writable directories the host may give the library.
//
// Threading: every call may be made from any thread; the values are guarded
// by one mutex and handed out as copies.
#ifndef VXS_CORE_PLATFORM_PATHS_H
#define VXS_CORE_PLATFORM_PATHS_H

#include <string>

namespace vxs {

class PlatformPaths {
public:
    static std::string getWriteableTempPath();
    static std::string getWriteableLibraryDataPath();
    static std::string getWriteableUserDataPath();

    // Each replaces its value (all are empty at start).
    static void setWriteableTempPath(const std::string& path);
    static void setWriteableLibraryDataPath(const std::string& path);
    static void setWriteableUserDataPath(const std::string& path);
};

}  // namespace vxs

#endif  // VXS_CORE_PLATFORM_PATHS_H
