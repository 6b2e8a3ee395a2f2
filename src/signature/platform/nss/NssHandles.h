#pragma once

#include <cert.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>

#include "core/UniqueHandle.h"

// Owning handles for the NSS objects the engine holds, so every path releases them and the NSS context
// can always be shut down (NSS refuses while references remain).
template <typename T, auto Release>
using NssHandle = FB::UniquePtrHandle<T, Release>;

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
