#include "threads/app_thread.h"

#include <time.h>

#include <cerrno>
#include <cstdio>

#include "core/log.h"

namespace vxs {
namespace Threads {

namespace {

const size_t kMinimumStackSize = 1024 * 1024;

}  // namespace

AppThread::AppThread()
    : iThreadFunction(nullptr),
      iThreadParameter2(nullptr),
      threadCreatedM(false),
      isDetachedM(false),
      isJoinableM(false),
      threadHandleM(),
      paramMuxM(new Synchronization::AppMutex(false)) {}

AppThread::~AppThread() {
    VXS_LOG_TRACE("============================================= AppThread::~AppThread() ====================================");
    detach();
    delete iThreadParameter2;
    iThreadParameter2 = nullptr;
    delete paramMuxM;
}

void AppThread::threadMain() {
    if (iThreadFunction) iThreadFunction(iThreadParameter2);
    delete iThreadParameter2;
    iThreadParameter2 = nullptr;
}

bool AppThread::run() {
    Synchronization::AppLock lock(paramMuxM);
    if (threadCreatedM) return false;
    threadLaunchParam = selfPtr.getPTR();
    if (!threadLaunchParam) return false;

    pthread_attr_t attrs;
    if (pthread_attr_init(&attrs) != 0) {
        VXS_LOG_FATAL("Failed init pthread attrs!");
        threadLaunchParam = Memory::vxs_shared_ptr<AppThread>();
        return false;
    }
    bool ok = true;
    size_t stackSize = 0;
    if (pthread_attr_getstacksize(&attrs, &stackSize) != 0) {
        VXS_LOG_FATAL("Failed get stack size!");
        ok = false;
    } else {
        VXS_LOG_TRACE("Default thread stack size: %ld", static_cast<long>(stackSize));
        if (stackSize < kMinimumStackSize) {
            VXS_LOG_WARN("Default thread stack is too small, trying to increase size");
            const int rc = pthread_attr_setstacksize(&attrs, kMinimumStackSize);
            if (rc != 0) {
                VXS_LOG_FATAL("Failed increase stack size! %d", rc);
                ok = false;
            }
        }
    }
    if (ok) ok = pthread_create(&threadHandleM, &attrs, &AppThread::threadLauncher, this) == 0;
    pthread_attr_destroy(&attrs);
    if (!ok) {
        threadLaunchParam = Memory::vxs_shared_ptr<AppThread>();
        return false;
    }
    threadCreatedM = true;
    isJoinableM = true;
    return true;
}

void* AppThread::threadLauncher(void* arg) {
    AppThread* thread = static_cast<AppThread*>(arg);
    int stackMarker = 0;
    VXS_LOG_TRACE("Thread start (SP ~ %p, threadID: %s", static_cast<void*>(&stackMarker),
                  getCurrentThreadIdentifier().c_str());
    Memory::vxs_shared_ptr<AppThread> keepAlive;
    {
        // run() holds paramMuxM until the handle and flags are stored.
        Synchronization::AppLock lock(thread->paramMuxM);
        keepAlive = thread->threadLaunchParam;
        thread->threadLaunchParam = Memory::vxs_shared_ptr<AppThread>();
    }
    thread->threadMain();
    VXS_LOG_TRACE("Thread end (SP ~ %p, threadID: %s", static_cast<void*>(&stackMarker),
                  getCurrentThreadIdentifier().c_str());
    return nullptr;  // keepAlive may destroy the object here, on its own thread
}

bool AppThread::detach() {
    Synchronization::AppLock lock(paramMuxM);
    // A joined (or joining) thread must not be detached as well.
    if (!threadCreatedM || isDetachedM || !isJoinableM) return true;
    if (pthread_detach(threadHandleM) != 0) return false;
    isDetachedM = true;
    isJoinableM = false;
    return true;
}

void AppThread::join() {
    bool joinable = false;
    {
        Synchronization::AppLock lock(paramMuxM);
        if (isJoinableM && pthread_equal(threadHandleM, pthread_self())) {
            // Joining itself would fail; let the thread clean up on its own.
            pthread_detach(threadHandleM);
            isDetachedM = true;
            isJoinableM = false;
            return;
        }
        joinable = isJoinableM;
        isJoinableM = false;
    }
    if (joinable) pthread_join(threadHandleM, nullptr);
}

bool AppThread::isCurrentThread() const {
    Synchronization::AppLock lock(paramMuxM);
    return threadCreatedM && pthread_equal(threadHandleM, pthread_self());
}

std::string AppThread::getCurrentThreadIdentifier() {
    char text[32];
    std::snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(pthread_self()));
    return text;
}

void AppThread::sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    struct timespec remaining;
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace Threads
}  // namespace vxs
