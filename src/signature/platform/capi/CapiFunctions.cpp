#include "signature/platform/capi/CapiFunctions.h"

namespace {

// The headers declare some parameters without const; the table promises not to write through them.
BOOL WINAPI setHashParam(HCRYPTHASH hash, DWORD param, const BYTE* data, DWORD flags) {
    return CryptSetHashParam(hash, param, const_cast<BYTE*>(data), flags);
}

BOOL WINAPI setProvParam(HCRYPTPROV provider, DWORD param, const BYTE* data, DWORD flags) {
    return CryptSetProvParam(provider, param, const_cast<BYTE*>(data), flags);
}

}  // namespace

const CapiFunctions& CapiFunctions::system() {
    static const CapiFunctions functions{
        &CertOpenStore,
        &CertEnumCertificatesInStore,
        &CertCloseStore,
        &CertNameToStrA,
        &CertGetIntendedKeyUsage,
        &CertGetCertificateContextProperty,
        &CryptBinaryToStringA,
        &CryptStringToBinaryA,
        &CryptAcquireContextW,
        &CryptCreateHash,
        &setHashParam,
        &setProvParam,
        &CryptGetProvParam,
        &CryptSignHashA,
        &CryptDestroyHash,
        &CryptReleaseContext,
        &GetLastError,
        &FormatMessageA,
        &GetSystemTime,
        &SystemTimeToFileTime,
        &CompareFileTime,
    };
    return functions;
}
