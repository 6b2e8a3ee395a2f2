#pragma once

#include <memory>

#include <cert.h>
#include <keyhi.h>
#include <pk11pub.h>

// Owning handles for the NSS objects the engine holds, so every path releases them and the NSS context
// can always be shut down (NSS refuses while references remain).
struct CertListDeleter {
    void operator()(CERTCertList* list) const { CERT_DestroyCertList(list); }
};
struct CertificateDeleter {
    void operator()(CERTCertificate* cert) const { CERT_DestroyCertificate(cert); }
};
struct PrivateKeyDeleter {
    void operator()(SECKEYPrivateKey* key) const { SECKEY_DestroyPrivateKey(key); }
};
struct SlotDeleter {
    void operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }
};

using CertListPtr = std::unique_ptr<CERTCertList, CertListDeleter>;
using CertPtr = std::unique_ptr<CERTCertificate, CertificateDeleter>;
using PrivateKeyPtr = std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter>;
using SlotPtr = std::unique_ptr<PK11SlotInfo, SlotDeleter>;

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
