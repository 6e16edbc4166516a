#include "core/platform_paths.h"

#include "threads/app_mutex.h"

namespace vxs {

namespace {

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

struct PathState {
    AppMutex pathMutex{false};
    std::string tempPath;
    std::string libraryDataPath;
    std::string userDataPath;
};

// Never destroyed: pool threads may still ask for a path while the process exits.
PathState& paths() {
    static PathState* state = new PathState();
    return *state;
}

std::string readPath(std::string PathState::*which) {
    PathState& s = paths();
    AppLock lock(&s.pathMutex);
    return s.*which;
}

void writePath(std::string PathState::*which, const std::string& value) {
    PathState& s = paths();
    AppLock lock(&s.pathMutex);
    s.*which = value;
}

}  // namespace

std::string PlatformPaths::getWriteableTempPath() { return readPath(&PathState::tempPath); }

std::string PlatformPaths::getWriteableLibraryDataPath() {
    return readPath(&PathState::libraryDataPath);
}

std::string PlatformPaths::getWriteableUserDataPath() { return readPath(&PathState::userDataPath); }

void PlatformPaths::setWriteableTempPath(const std::string& path) {
    writePath(&PathState::tempPath, path);
}

void PlatformPaths::setWriteableLibraryDataPath(const std::string& path) {
    writePath(&PathState::libraryDataPath, path);
}

void PlatformPaths::setWriteableUserDataPath(const std::string& path) {
    writePath(&PathState::userDataPath, path);
}

}  // namespace vxs
