// Locks over POSIX threads: a mutex, a scope lock and a mutex with an integer
// condition (a condition lock).
//
// Threading: every operation may be called from any thread. A non-recursive
// AppMutex must not be locked twice by one thread. An AppConditionMutex's
// wait operations are called with its mutex held, as each name says.
#ifndef VXS_THREADS_APP_MUTEX_H
#define VXS_THREADS_APP_MUTEX_H

#include <pthread.h>

namespace vxs {
namespace Threads {
namespace Synchronization {

class AppMutex {
public:
    // Creating the mutex is fatal on failure (FATAL line, exit status -1).
    explicit AppMutex(bool recursive);
    virtual ~AppMutex();
    AppMutex(const AppMutex&) = delete;
    AppMutex& operator=(const AppMutex&) = delete;

    virtual void Lock();
    virtual void Unlock();
    // True when the lock was taken.
    virtual bool tryLock();

protected:
    pthread_mutex_t mutexM;
};

// Locks the given mutex for the lifetime of the scope (nothing for null).
class AppLock {
public:
    explicit AppLock(AppMutex* mutex);
    ~AppLock();
    AppLock(const AppLock&) = delete;
    AppLock& operator=(const AppLock&) = delete;

    // Forgets the mutex without unlocking it.
    void ReleaseMutex();

private:
    AppMutex* iMutex;
};

// A non-recursive mutex guarding an integer condition (a value or flag bits).
// Every change wakes all waiters; waits absorb spurious wake-ups.
class AppConditionMutex : public AppMutex {
public:
    explicit AppConditionMutex(int initialCondition);
    ~AppConditionMutex() override;

    void lockWhenCondition(int condition);
    void unlockWithCondition(int condition);
    // As unlockWithCondition, but wakes the waiters after unlocking, so that a
    // woken thread does not block again at once on the mutex. Only for a mutex
    // that outlives every waiter (never a caller's on-stack completion mutex,
    // which its waiter may destroy as soon as the condition is visible).
    void unlockWithConditionThenWake(int condition);
    void lockWhenFlags(int flags);
    void lockWhenNotFlags(int flags);
    void unlockSettingFlags(int flags);
    void unlockClearingFlags(int flags);
    void unlockWithFlags(int setFlags, int clearFlags);

    // Raw condition-variable operations; wait() is called with the mutex held.
    void wait();
    void broadcast();
    void signal();

    // Read under the mutex or accept a racy snapshot.
    int getCurrentCondition() const;
    // Sets the condition without unlocking; for callers that hold the mutex.
    void setCurrentCondition(int condition);

private:
    int iCurrentCondition;
    pthread_cond_t iCond;
};

}  // namespace Synchronization
}  // namespace Threads
}  // namespace vxs

#endif  // VXS_THREADS_APP_MUTEX_H
