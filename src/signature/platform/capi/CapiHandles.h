#pragma once

#include "core/UniqueHandle.h"
#include "signature/platform/capi/CapiFunctions.h"

// Owners for the CryptoAPI handles the engine holds: each releases its handle through the engine's function
// table on every path, in the reverse order of acquisition when declared in acquisition order.
struct CloseStore {
    const CapiFunctions* api;
    // The forced close also frees every certificate context still taken from the store.
    void operator()(HCERTSTORE store) const { api->certCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
};
struct ReleaseContext {
    const CapiFunctions* api;
    void operator()(HCRYPTPROV provider) const { api->cryptReleaseContext(provider, 0); }
};
struct DestroyHash {
    const CapiFunctions* api;
    void operator()(HCRYPTHASH hash) const { api->cryptDestroyHash(hash); }
};

using StoreHandle = FB::UniqueHandle<HCERTSTORE, CloseStore>;
using ProviderHandle = FB::UniqueHandle<HCRYPTPROV, ReleaseContext>;
using HashHandle = FB::UniqueHandle<HCRYPTHASH, DestroyHash>;
