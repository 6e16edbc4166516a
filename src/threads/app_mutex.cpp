#include "threads/app_mutex.h"

#include <cstdlib>

#include "core/log.h"

namespace vxs {
namespace Threads {
namespace Synchronization {

namespace {

[[noreturn]] void fatalResourceFailure(const char* className, const char* what) {
    VXS_LOG_FATAL("%s, Error: %s", className, what);
    std::exit(-1);
}

}  // namespace

AppMutex::AppMutex(bool recursive) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) fatalResourceFailure("AppMutex", "mutexattr_init failed");
    pthread_mutexattr_settype(&attr, recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
    const int rc = pthread_mutex_init(&mutexM, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) fatalResourceFailure("AppMutex", "mutex_init failed");
}

AppMutex::~AppMutex() { pthread_mutex_destroy(&mutexM); }

void AppMutex::Lock() { pthread_mutex_lock(&mutexM); }

void AppMutex::Unlock() { pthread_mutex_unlock(&mutexM); }

bool AppMutex::tryLock() { return pthread_mutex_trylock(&mutexM) == 0; }

AppLock::AppLock(AppMutex* mutex) : iMutex(mutex) {
    if (iMutex) iMutex->Lock();
}

AppLock::~AppLock() {
    if (iMutex) iMutex->Unlock();
}

void AppLock::ReleaseMutex() { iMutex = nullptr; }

AppConditionMutex::AppConditionMutex(int initialCondition)
    : AppMutex(false), iCurrentCondition(initialCondition) {
    if (pthread_cond_init(&iCond, nullptr) != 0) {
        fatalResourceFailure("AppConditionMutex", "pthread_cond_init failed");
    }
}

AppConditionMutex::~AppConditionMutex() { pthread_cond_destroy(&iCond); }

void AppConditionMutex::lockWhenCondition(int condition) {
    Lock();
    while (iCurrentCondition != condition) wait();
}

void AppConditionMutex::unlockWithCondition(int condition) {
    iCurrentCondition = condition;
    broadcast();
    Unlock();
}

void AppConditionMutex::unlockWithConditionThenWake(int condition) {
    iCurrentCondition = condition;
    Unlock();
    broadcast();
}

void AppConditionMutex::lockWhenFlags(int flags) {
    Lock();
    while ((iCurrentCondition & flags) != flags) wait();
}

void AppConditionMutex::lockWhenNotFlags(int flags) {
    Lock();
    while ((iCurrentCondition & flags) != 0) wait();
}

void AppConditionMutex::unlockSettingFlags(int flags) { unlockWithFlags(flags, 0); }

void AppConditionMutex::unlockClearingFlags(int flags) { unlockWithFlags(0, flags); }

void AppConditionMutex::unlockWithFlags(int setFlags, int clearFlags) {
    unlockWithCondition((iCurrentCondition | setFlags) & ~clearFlags);
}

void AppConditionMutex::wait() { pthread_cond_wait(&iCond, &mutexM); }

void AppConditionMutex::broadcast() { pthread_cond_broadcast(&iCond); }

void AppConditionMutex::signal() { pthread_cond_signal(&iCond); }

int AppConditionMutex::getCurrentCondition() const { return iCurrentCondition; }

void AppConditionMutex::setCurrentCondition(int condition) { iCurrentCondition = condition; }

}  // namespace Synchronization
}  // namespace Threads
}  // namespace vxs
