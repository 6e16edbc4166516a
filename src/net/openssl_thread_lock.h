// The process-wide lock set that OpenSSL 1.0-style builds need to be used from
// several threads, installed for the SDK facade.
//
// Threading: init_locks and clean_locks may be called from any thread; they are
// serialised by a lock of their own. The locking callbacks run on whatever
// thread OpenSSL is working on.
//
// OpenSSL 1.1 and later lock internally and ignore the hooks; the lock set is
// still kept so that the facade's bookkeeping is the same on every build.
#ifndef VXS_NET_OPENSSL_THREAD_LOCK_H
#define VXS_NET_OPENSSL_THREAD_LOCK_H

#include <cstddef>
#include <vector>

#include "threads/app_mutex.h"

namespace vxs {
namespace Networking {

class OpensslThreadLock {
public:
    // Called for every SDK instance created: the first call creates one mutex
    // per OpenSSL lock and installs the id and locking hooks, unless the host
    // has installed hooks of its own; later calls do nothing.
    static void init_locks();
    // Called when the last SDK instance is released. Transfers of released
    // instances may still be running TLS on pool threads, so the hooks and
    // their mutexes stay in place for the life of the process; a later
    // init_locks uses them again.
    static void clean_locks();

    static bool is_initialized();
    // Number of mutexes in the lock set (0 before the first init_locks).
    static size_t lock_count();
    // The mutex for OpenSSL lock `n`, or null; lets callers see that the same
    // set is reused.
    static Threads::Synchronization::AppMutex* lock_at(size_t n);

private:
    static unsigned long thread_id();
    static void locking(int mode, int n, const char* file, int line);

    static bool _s_has_initialized;
    // Made once and never freed: TLS may still lock while the process exits.
    static std::vector<Threads::Synchronization::AppMutex*>* _s_lock_array;
};

}  // namespace Networking
}  // namespace vxs

#endif  // VXS_NET_OPENSSL_THREAD_LOCK_H
