#pragma once

#include <utility>

#include "signature/platform/capi/CapiFunctions.h"

// Owners for the CryptoAPI handles the engine holds: each releases its handle through the engine's function
// table on every path, in the reverse order of acquisition when declared in acquisition order.
template <typename Handle, typename Release>
class CapiHandle {
  public:
    explicit CapiHandle(const CapiFunctions& api, Handle handle = Handle{}) : api_(&api), handle_(handle) {}
    CapiHandle(CapiHandle&& other) noexcept
        : api_(other.api_), handle_(std::exchange(other.handle_, Handle{})) {}
    CapiHandle& operator=(CapiHandle&& other) noexcept {
        if (this != &other) {
            reset();
            api_ = other.api_;
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    CapiHandle(const CapiHandle&) = delete;
    CapiHandle& operator=(const CapiHandle&) = delete;
    ~CapiHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    // Releases what is held and hands out the slot for a call that acquires a new handle.
    Handle* receive() {
        reset();
        return &handle_;
    }
    void reset() {
        if (handle_ != Handle{}) {
            Release{}(*api_, std::exchange(handle_, Handle{}));
        }
    }

  private:
    const CapiFunctions* api_;
    Handle handle_;
};

struct CloseStore {
    // The forced close also frees every certificate context still taken from the store.
    void operator()(const CapiFunctions& api, HCERTSTORE store) const {
        api.certCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
    }
};
struct ReleaseContext {
    void operator()(const CapiFunctions& api, HCRYPTPROV provider) const {
        api.cryptReleaseContext(provider, 0);
    }
};
struct DestroyHash {
    void operator()(const CapiFunctions& api, HCRYPTHASH hash) const { api.cryptDestroyHash(hash); }
};

using StoreHandle = CapiHandle<HCERTSTORE, CloseStore>;
using ProviderHandle = CapiHandle<HCRYPTPROV, ReleaseContext>;
using HashHandle = CapiHandle<HCRYPTHASH, DestroyHash>;
