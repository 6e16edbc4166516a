#include "core/shared_ptr.h"

namespace vxs {
namespace Memory {

vxs_shared_ptr_control_object::vxs_shared_ptr_control_object(void* object,
                                                             vxs_object_destructor destructor)
    : AppMutex(false),
      ptrRefCount(1),
      selfRefCount(1),
      managedPointer(object),
      customDestructor(nullptr),
      objectDestructor(destructor),
      enableTrace(false) {}

vxs_shared_ptr_base::vxs_shared_ptr_base(bool strong)
    : controlObject(nullptr), typedObject(nullptr), isStrong(strong) {}

vxs_shared_ptr_base::~vxs_shared_ptr_base() { releaseManagedPointer(); }

bool vxs_shared_ptr_base::isEqualToRawPtr(const void* raw) const { return rawManagedPointer() == raw; }

bool vxs_shared_ptr_base::isEqualToManagedPtr(const vxs_shared_ptr_base* other) const {
    return other && rawManagedPointer() == other->rawManagedPointer();
}

uint32_t vxs_shared_ptr_base::strongCount() const {
    if (!controlObject) return 0;
    Threads::Synchronization::AppLock lock(controlObject);
    return controlObject->ptrRefCount;
}

void vxs_shared_ptr_base::copyControlObject_base(const vxs_shared_ptr_base* source) {
    copyControlObjectAs(source, source ? source->typedObject : nullptr);
}

void vxs_shared_ptr_base::copyControlObjectAs(const vxs_shared_ptr_base* source, void* object) {
    vxs_shared_ptr_control_object* control = source ? source->controlObject : nullptr;
    bool alive = false;
    if (control) {
        Threads::Synchronization::AppLock lock(control);
        control->selfRefCount += 1;
        if (isStrong) control->ptrRefCount += 1;
        alive = control->managedPointer != nullptr;
    }
    releaseManagedPointer();
    controlObject = control;
    // A strong handle taken while the object lived keeps it alive, so it may
    // answer getPTR() from its own copy without locking; a weak handle keeps
    // the address only for later promotions.
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
    controlObject = nullptr;
    typedObject = nullptr;

    control->Lock();
    if (isStrong) control->ptrRefCount -= 1;
    if (isStrong && control->ptrRefCount == 0 && control->managedPointer) {
        void* object = control->managedPointer;
        control->managedPointer = nullptr;
        control->Unlock();
        // The destructor runs outside the lock, exactly once; it may release
        // other pointers that share this control object.
        control->objectDestructor(control, object);
        control->Lock();
    }
    control->selfRefCount -= 1;
    const bool last = control->selfRefCount == 0;
    control->Unlock();
    if (last) delete control;
}

void* vxs_shared_ptr_base::rawManagedPointer() const {
    if (!controlObject) return nullptr;
    if (isStrong) return typedObject;
    Threads::Synchronization::AppLock lock(controlObject);
    return controlObject->managedPointer ? typedObject : nullptr;
}

void vxs_shared_ptr_base::setCustomDestructorBase(vxs_custom_destructor destructor) {
    if (!controlObject) return;
    Threads::Synchronization::AppLock lock(controlObject);
    controlObject->customDestructor = destructor;
}

}  // namespace Memory
}  // namespace vxs
