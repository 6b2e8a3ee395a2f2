#pragma once

// A shared holder of a plain pointer to an object that is not itself shared-owned (a browser-owned
// NPObject, say). The object owns the only strong reference and drops it when it dies; others keep
// weak references, and a weak reference that can no longer be locked tells them the object is gone.

#include <memory>

namespace FB::Npapi {

template <class T>
class ShareableReference {
  public:
    explicit ShareableReference(T* object) : object_(object) {}
    ShareableReference(const ShareableReference&) = delete;
    ShareableReference& operator=(const ShareableReference&) = delete;

    T* get() const { return object_; }

  private:
    T* const object_;
};

template <class T>
using ShareableReferencePtr = std::shared_ptr<ShareableReference<T>>;
template <class T>
using ShareableReferenceWeakPtr = std::weak_ptr<ShareableReference<T>>;

// The object behind a weak reference, or null when it has gone.
template <class T>
T* lockReference(const ShareableReferenceWeakPtr<T>& weak) {
    auto held = weak.lock();
    return held ? held->get() : nullptr;
}

}  // namespace FB::Npapi
