#pragma once

#include <memory>

#include <cert.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>

// Owning handles for the NSS objects the engine holds, so every path releases them and the NSS context
// can always be shut down (NSS refuses while references remain). One deleter shape for all: the release
// function is a template argument.
template <auto Release>
struct NssRelease {
    template <typename T>
    void operator()(T* handle) const {
        Release(handle);
    }
};
template <typename T, auto Release>
using NssHandle = std::unique_ptr<T, NssRelease<Release>>;

using CertListPtr = NssHandle<CERTCertList, &CERT_DestroyCertList>;
using CertPtr = NssHandle<CERTCertificate, &CERT_DestroyCertificate>;
using PrivateKeyPtr = NssHandle<SECKEYPrivateKey, &SECKEY_DestroyPrivateKey>;
using SlotPtr = NssHandle<PK11SlotInfo, &PK11_FreeSlot>;
using ContextPtr = NssHandle<NSSInitContext, &NSS_ShutdownContext>;

// Calls f for every certificate of an NSS list, in list order, until f returns false.
template <typename F>
void forEachCertificate(CERTCertList* list, F&& f) {
    if (!list) {
        return;
    }
    for (CERTCertListNode* node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list);
         node = CERT_LIST_NEXT(node)) {
        if (!f(node->cert)) {
            return;
        }
    }
}
