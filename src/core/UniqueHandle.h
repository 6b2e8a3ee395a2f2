#pragma once

#include <utility>

namespace FB {

// Owns one handle of a C interface (an NSS object, a CryptoAPI store or context, a libproxy factory) and
// releases it on every path. Move-only. Release is a function object called with the handle; it may carry
// state, such as the function table to release through. A handle equal to Handle{} is empty and is never
// released.
template <typename Handle, typename Release>
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    explicit UniqueHandle(Release release) : release_(std::move(release)) {}
    UniqueHandle(Handle handle, Release release) : handle_(handle), release_(std::move(release)) {}
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, Handle{})), release_(std::move(other.release_)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.handle_, Handle{}));
            release_ = std::move(other.release_);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    // For pointer handles.
    auto operator->() const { return handle_; }
    auto& operator*() const { return *handle_; }

    // Releases what is held and takes the new handle.
    void reset(Handle handle = Handle{}) {
        Handle old = std::exchange(handle_, handle);
        if (old != Handle{}) {
            release_(old);
        }
    }
    // Gives the handle up without releasing it.
    [[nodiscard]] Handle release() { return std::exchange(handle_, Handle{}); }
    // Releases what is held and hands out the slot for a call that acquires a new handle.
    Handle* receive() {
        reset();
        return &handle_;
    }

  private:
    Handle handle_{};
    [[no_unique_address]] Release release_{};
};

// The release of a C interface that is one function of the handle: the function is part of the type, so
// the owner is no larger than the handle.
template <auto Function>
struct ReleaseWith {
    template <typename Handle>
    void operator()(Handle handle) const {
        Function(handle);
    }
};

// An owning pointer to an object of T that Function releases.
template <typename T, auto Function>
using UniquePtrHandle = UniqueHandle<T*, ReleaseWith<Function>>;

}  // namespace FB
