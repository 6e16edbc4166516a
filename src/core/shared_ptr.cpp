#include "core/shared_ptr.h"

namespace vxs {
namespace Memory {

vxs_shared_ptr_control_object::vxs_shared_ptr_control_object(void* object,
                                                             vxs_object_destructor destructor)
    : ptrRefCount(1),
      selfRefCount(1),
      managedPointer(object),
      customDestructor(nullptr),
      objectDestructor(destructor),
      enableTrace(false) {}

namespace {

// Takes a strong count only while one is still held by someone: a count that
// has reached zero means the object is being or has been destroyed.
bool acquireStrongCount(vxs_shared_ptr_control_object* control) {
    uint32_t count = control->ptrRefCount.load(std::memory_order_relaxed);
    while (count != 0) {
        if (control->ptrRefCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel,
                                                       std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

}  // namespace

vxs_shared_ptr_base::vxs_shared_ptr_base(bool strong)
    : controlObject(nullptr), typedObject(nullptr), isStrong(strong) {}

vxs_shared_ptr_base::~vxs_shared_ptr_base() { releaseManagedPointer(); }

bool vxs_shared_ptr_base::isEqualToRawPtr(const void* raw) const { return rawManagedPointer() == raw; }

bool vxs_shared_ptr_base::isEqualToManagedPtr(const vxs_shared_ptr_base* other) const {
    return other && rawManagedPointer() == other->rawManagedPointer();
}

uint32_t vxs_shared_ptr_base::strongCount() const {
    return controlObject ? controlObject->ptrRefCount.load(std::memory_order_acquire) : 0;
}

void vxs_shared_ptr_base::copyControlObject_base(const vxs_shared_ptr_base* source) {
    copyControlObjectAs(source, source ? source->typedObject : nullptr);
}

void vxs_shared_ptr_base::copyControlObjectAs(const vxs_shared_ptr_base* source, void* object) {
    vxs_shared_ptr_control_object* control = source ? source->controlObject : nullptr;
    bool alive = false;
    if (control) {
        // Count the new reference before dropping the old one, so that
        // assigning a pointer to itself keeps the object.
        control->selfRefCount.fetch_add(1, std::memory_order_relaxed);
        if (isStrong) alive = object != nullptr && acquireStrongCount(control);
    }
    releaseManagedPointer();
    controlObject = control;
    // A weak handle keeps the address for later promotions.
    typedObject = (control && (alive || !isStrong)) ? object : nullptr;
}

void vxs_shared_ptr_base::adoptNewObject(void* object, vxs_object_destructor destructor) {
    if (!object) return;
    controlObject = new vxs_shared_ptr_control_object(object, destructor);
    typedObject = object;
}

void vxs_shared_ptr_base::releaseManagedPointer() {
    vxs_shared_ptr_control_object* control = controlObject;
    if (!control) return;
    const bool heldStrongCount = holdsStrongCount();
    controlObject = nullptr;
    typedObject = nullptr;

    if (heldStrongCount && control->ptrRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        // The last owner: destroy the object exactly once. Its destructor may
        // release other pointers that share this control object.
        void* object = control->managedPointer.exchange(nullptr, std::memory_order_acq_rel);
        if (object) control->objectDestructor(control, object);
    }
    if (control->selfRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete control;
}

void* vxs_shared_ptr_base::rawManagedPointer() const {
    if (!controlObject) return nullptr;
    if (isStrong) return typedObject;
    return controlObject->managedPointer.load(std::memory_order_acquire) ? typedObject : nullptr;
}

void vxs_shared_ptr_base::setCustomDestructorBase(vxs_custom_destructor destructor) {
    if (controlObject) controlObject->customDestructor.store(destructor);
}

}  // namespace Memory
}  // namespace vxs
