// Reference-counted owning (vxs_shared_ptr) and non-owning (vxs_weak_ptr)
// pointers with one mutex-guarded control object per managed object.
//
// Threading: copies and releases of different pointer objects that share one
// control object may happen on any threads. One pointer object (the handle
// itself) is not guarded: two threads must not assign to the same handle.
#ifndef VXS_CORE_SHARED_PTR_H
#define VXS_CORE_SHARED_PTR_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vxs {
namespace Memory {

class vxs_shared_ptr_control_object;

// Destroys the managed object; chosen by the pointee type when the first
// strong pointer takes ownership, and kept in the control object.
typedef void (*vxs_object_destructor)(vxs_shared_ptr_control_object*, void*);
typedef void (*vxs_custom_destructor)(void*);

// One per managed object. The counts are atomic: copies and releases on
// different threads need no lock, and a weak pointer promotes only while the
// object still has a strong owner.
class vxs_shared_ptr_control_object {
public:
    vxs_shared_ptr_control_object(void* object, vxs_object_destructor destructor);
    vxs_shared_ptr_control_object(const vxs_shared_ptr_control_object&) = delete;
    vxs_shared_ptr_control_object& operator=(const vxs_shared_ptr_control_object&) = delete;

    std::atomic<uint32_t> ptrRefCount;       // strong pointers that keep the object alive
    std::atomic<uint32_t> selfRefCount;      // pointers of either kind
    std::atomic<void*> managedPointer;       // null once the object has been destroyed
    std::atomic<vxs_custom_destructor> customDestructor;  // replaces delete when set (arrays)
    const vxs_object_destructor objectDestructor;         // typed deleter of the owning type
    bool enableTrace;
};

class vxs_shared_ptr_base {
public:
    // A new heap pointer object of the same kind and type sharing the control
    // object: how a typed reference travels through untyped task parameters.
    virtual vxs_shared_ptr_base* getRefPtr() = 0;
    virtual ~vxs_shared_ptr_base();

    bool isEqualToRawPtr(const void* raw) const;
    bool isEqualToManagedPtr(const vxs_shared_ptr_base* other) const;
    // Strong pointers only: the number of strong references (0 when empty).
    uint32_t strongCount() const;

protected:
    explicit vxs_shared_ptr_base(bool strong);

    // Takes a reference on the source's control object, then drops the current
    // one; self-assignment is therefore safe.
    void copyControlObject_base(const vxs_shared_ptr_base* source);
    // As above, for a handle of another pointee type: `typedObject` is the
    // source's object converted to this handle's type.
    void copyControlObjectAs(const vxs_shared_ptr_base* source, void* typedObject);
    void adoptNewObject(void* object, vxs_object_destructor destructor);
    void releaseManagedPointer();
    void* rawManagedPointer() const;
    void setCustomDestructorBase(vxs_custom_destructor destructor);
    static void emptyDestructor(void*) {}

    // A strong handle holds one of the object's strong counts exactly when it
    // has an object; one promoted after the object died holds none.
    bool holdsStrongCount() const { return isStrong && typedObject != nullptr; }

    vxs_shared_ptr_control_object* controlObject;
    void* typedObject;  // the object as this handle's pointee type
    bool isStrong;

    template <class U>
    friend class vxs_shared_ptr;
    template <class U>
    friend class vxs_weak_ptr;
};

template <class T>
class vxs_weak_ptr;

template <class T>
class vxs_shared_ptr : public vxs_shared_ptr_base {
public:
    vxs_shared_ptr() : vxs_shared_ptr_base(true) {}
    // Takes ownership of `object` (null gives an empty pointer).
    explicit vxs_shared_ptr(T* object) : vxs_shared_ptr_base(true) {
        adoptNewObject(object, &vxs_shared_ptr<T>::deleteManagedPointer);
    }
    vxs_shared_ptr(const vxs_shared_ptr& other) : vxs_shared_ptr_base(true) {
        copyControlObject_base(&other);
    }
    // Promotion; the result's getPTR() is null when the object is gone.
    explicit vxs_shared_ptr(const vxs_weak_ptr<T>& weak) : vxs_shared_ptr_base(true) {
        copyControlObject_base(&weak);
    }
    // Conversion from a pointer to a derived type; shares the control object.
    template <class U>
    vxs_shared_ptr(const vxs_shared_ptr<U>& other) : vxs_shared_ptr_base(true) {  // NOLINT: implicit upcast
        copyControlObjectAs(&other, static_cast<T*>(static_cast<U*>(other.typedObject)));
    }
    template <class U>
    explicit vxs_shared_ptr(const vxs_weak_ptr<U>& weak) : vxs_shared_ptr_base(true) {
        copyControlObjectAs(&weak, static_cast<T*>(static_cast<U*>(weak.typedObject)));
    }
    ~vxs_shared_ptr() override = default;

    vxs_shared_ptr& operator=(const vxs_shared_ptr& other) {
        copyControlObject_base(&other);
        return *this;
    }
    vxs_shared_ptr& operator=(const vxs_weak_ptr<T>& weak) {
        copyControlObject_base(&weak);
        return *this;
    }
    vxs_shared_ptr& operator=(T* object) {
        if (object != nullptr && isEqualToRawPtr(object)) return *this;
        releaseManagedPointer();
        adoptNewObject(object, &vxs_shared_ptr<T>::deleteManagedPointer);
        return *this;
    }

    void copyControlObject(vxs_shared_ptr_base* source) { copyControlObject_base(source); }

    // The object, or null when empty or destroyed.
    T* getPTR() const { return static_cast<T*>(rawManagedPointer()); }
    T* operator->() const { return getPTR(); }
    T& operator*() const { return *getPTR(); }
    explicit operator bool() const { return getPTR() != nullptr; }

    bool operator==(const vxs_shared_ptr& other) const { return getPTR() == other.getPTR(); }
    bool operator!=(const vxs_shared_ptr& other) const { return !(*this == other); }
    bool operator==(const T* raw) const { return getPTR() == raw; }
    bool operator!=(const T* raw) const { return getPTR() != raw; }

    // Replaces delete for this object, e.g. arrayDestructor for buffers.
    void setCustomDestructor(vxs_custom_destructor destructor) { setCustomDestructorBase(destructor); }
    static void arrayDestructor(void* object) { delete[] static_cast<T*>(object); }
    static void deleteManagedPointer(vxs_shared_ptr_control_object* control, void* object) {
        if (vxs_custom_destructor custom = control->customDestructor.load()) {
            custom(object);
        } else {
            delete static_cast<T*>(object);
        }
    }

    vxs_shared_ptr_base* getRefPtr() override { return new vxs_shared_ptr<T>(*this); }
};

template <class T>
class vxs_weak_ptr : public vxs_shared_ptr_base {
public:
    vxs_weak_ptr() : vxs_shared_ptr_base(false) {}
    vxs_weak_ptr(const vxs_shared_ptr<T>& strong) : vxs_shared_ptr_base(false) {  // NOLINT: implicit by design
        copyControlObject_base(&strong);
    }
    vxs_weak_ptr(const vxs_weak_ptr& other) : vxs_shared_ptr_base(false) { copyControlObject_base(&other); }
    template <class U>
    vxs_weak_ptr(const vxs_shared_ptr<U>& strong) : vxs_shared_ptr_base(false) {  // NOLINT: implicit upcast
        copyControlObjectAs(&strong, static_cast<T*>(static_cast<U*>(strong.typedObject)));
    }
    template <class U>
    vxs_weak_ptr(const vxs_weak_ptr<U>& other) : vxs_shared_ptr_base(false) {  // NOLINT: implicit upcast
        copyControlObjectAs(&other, static_cast<T*>(static_cast<U*>(other.typedObject)));
    }
    ~vxs_weak_ptr() override = default;

    vxs_weak_ptr& operator=(const vxs_shared_ptr<T>& strong) {
        copyControlObject_base(&strong);
        return *this;
    }
    vxs_weak_ptr& operator=(const vxs_weak_ptr& other) {
        copyControlObject_base(&other);
        return *this;
    }

    void copyControlObject(vxs_shared_ptr_base* source) { copyControlObject_base(source); }

    // Promotes to a strong pointer; its getPTR() is null once the object is gone.
    vxs_shared_ptr<T> getPTR() const { return vxs_shared_ptr<T>(*this); }

    vxs_shared_ptr_base* getRefPtr() override { return new vxs_weak_ptr<T>(*this); }
};

// Allocates a byte (or sample) buffer of `count` elements freed with delete[].
template <class T>
vxs_shared_ptr<T> vxs_make_array(size_t count) {
    vxs_shared_ptr<T> buffer(new T[count]());
    buffer.setCustomDestructor(&vxs_shared_ptr<T>::arrayDestructor);
    return buffer;
}

}  // namespace Memory
}  // namespace vxs

#endif  // VXS_CORE_SHARED_PTR_H
