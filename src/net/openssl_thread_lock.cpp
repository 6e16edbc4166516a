#include "net/openssl_thread_lock.h"

#include <pthread.h>

#include <openssl/crypto.h>

namespace vxs {
namespace Networking {

using Threads::Synchronization::AppLock;
using Threads::Synchronization::AppMutex;

bool OpensslThreadLock::_s_has_initialized = false;
std::vector<AppMutex*>* OpensslThreadLock::_s_lock_array = nullptr;

namespace {

AppMutex& setup_mutex() {
    static AppMutex mutex(false);
    return mutex;
}

}  // namespace

unsigned long OpensslThreadLock::thread_id() { return static_cast<unsigned long>(pthread_self()); }

void OpensslThreadLock::locking(int mode, int n, const char* file, int line) {
    (void)file;
    (void)line;
    if (_s_lock_array == nullptr || n < 0 || static_cast<size_t>(n) >= _s_lock_array->size()) return;
    AppMutex* mutex = (*_s_lock_array)[static_cast<size_t>(n)];
    if ((mode & 1) != 0) {  // CRYPTO_LOCK
        mutex->Lock();
    } else {
        mutex->Unlock();
    }
}

void OpensslThreadLock::init_locks() {
    AppLock lock(&setup_mutex());
    if (_s_has_initialized) return;
    if (_s_lock_array == nullptr) {
        auto* locks = new std::vector<AppMutex*>();
        const int count = CRYPTO_num_locks();
        for (int i = 0; i < count; ++i) locks->push_back(new AppMutex(false));
        _s_lock_array = locks;
        // A host that installed its own hooks keeps them: replacing them would
        // pull the locks from under its running TLS sessions.
        if (CRYPTO_get_locking_callback() == nullptr) {
            CRYPTO_set_id_callback(&OpensslThreadLock::thread_id);
            CRYPTO_set_locking_callback(&OpensslThreadLock::locking);
        }
    }
    _s_has_initialized = true;
}

void OpensslThreadLock::clean_locks() {
    AppLock lock(&setup_mutex());
    _s_has_initialized = false;
}

bool OpensslThreadLock::is_initialized() {
    AppLock lock(&setup_mutex());
    return _s_has_initialized;
}

size_t OpensslThreadLock::lock_count() {
    AppLock lock(&setup_mutex());
    return _s_lock_array != nullptr ? _s_lock_array->size() : 0;
}

AppMutex* OpensslThreadLock::lock_at(size_t n) {
    AppLock lock(&setup_mutex());
    return (_s_lock_array != nullptr && n < _s_lock_array->size()) ? (*_s_lock_array)[n] : nullptr;
}

}  // namespace Networking
}  // namespace vxs
