// Lazily created, process-wide shared instances.
//
// Threading: instance() and releaseInstance() may be called from any thread.
// After releaseInstance() the object lives on while users hold it; the next
// instance() call either revives it or makes a new one.
#ifndef VXS_CORE_SINGLETON_H
#define VXS_CORE_SINGLETON_H

#include <cassert>

#include "core/shared_ptr.h"
#include "threads/app_mutex.h"

namespace vxs {
namespace Memory {

template <class T>
class Singleton {
public:
    virtual void childInit() {}
    virtual ~Singleton() = default;

    static vxs_shared_ptr<T> instance() {
        Threads::Synchronization::AppLock lock(&mutex());
        vxs_shared_ptr<T> ref = weakRef().getPTR();
        if (!ref.getPTR()) {
            strongRef() = vxs_shared_ptr<T>(new T());
            weakRef() = strongRef();
            ref = weakRef().getPTR();
            ref->childInit();
        } else if (!strongRef().getPTR()) {
            strongRef() = ref;
        }
        assert(ref.getPTR() != nullptr);
        return ref;
    }

    static void releaseInstance() {
        vxs_shared_ptr<T> dropped;
        {
            Threads::Synchronization::AppLock lock(&mutex());
            dropped = strongRef();
            strongRef() = vxs_shared_ptr<T>();
        }
        // `dropped` may run T's destructor here, outside the lock.
    }

private:
    // Function-local statics: created on first use, never destroyed, so that
    // the singleton can be used safely during process exit.
    static Threads::Synchronization::AppMutex& mutex() {
        static auto* m = new Threads::Synchronization::AppMutex(true);
        return *m;
    }
    static vxs_shared_ptr<T>& strongRef() {
        static auto* ref = new vxs_shared_ptr<T>();
        return *ref;
    }
    static vxs_weak_ptr<T>& weakRef() {
        static auto* ref = new vxs_weak_ptr<T>();
        return *ref;
    }
};

}  // namespace Memory
}  // namespace vxs

#endif  // VXS_CORE_SINGLETON_H
