#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

// Every system call the CryptoAPI engine makes, as one table. The engine calls nothing else, so a test can
// copy the system table, replace some entries (a scripted smart-card provider, a fixed clock) and hand the
// copy to the engine.
struct CapiFunctions {
    // Certificate side.
    HCERTSTORE(WINAPI* certOpenStore)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
    PCCERT_CONTEXT(WINAPI* certEnumCertificatesInStore)(HCERTSTORE, PCCERT_CONTEXT);
    BOOL(WINAPI* certCloseStore)(HCERTSTORE, DWORD);
    DWORD(WINAPI* certNameToStrA)(DWORD, PCERT_NAME_BLOB, DWORD, LPSTR, DWORD);
    BOOL(WINAPI* certGetIntendedKeyUsage)(DWORD, PCERT_INFO, BYTE*, DWORD);
    BOOL(WINAPI* certGetCertificateContextProperty)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
    BOOL(WINAPI* cryptBinaryToStringA)(const BYTE*, DWORD, DWORD, LPSTR, DWORD*);
    BOOL(WINAPI* cryptStringToBinaryA)(LPCSTR, DWORD, DWORD, BYTE*, DWORD*, DWORD*, DWORD*);

    // Provider side.
    BOOL(WINAPI* cryptAcquireContextW)(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD);
    BOOL(WINAPI* cryptCreateHash)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
    BOOL(WINAPI* cryptSetHashParam)(HCRYPTHASH, DWORD, const BYTE*, DWORD);
    BOOL(WINAPI* cryptSetProvParam)(HCRYPTPROV, DWORD, const BYTE*, DWORD);
    BOOL(WINAPI* cryptGetProvParam)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
    BOOL(WINAPI* cryptSignHashA)(HCRYPTHASH, DWORD, LPCSTR, DWORD, BYTE*, DWORD*);
    BOOL(WINAPI* cryptDestroyHash)(HCRYPTHASH);
    BOOL(WINAPI* cryptReleaseContext)(HCRYPTPROV, DWORD);

    // Base services.
    DWORD(WINAPI* getLastError)();
    DWORD(WINAPI* formatMessageA)(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*);
    void(WINAPI* getSystemTime)(LPSYSTEMTIME);
    BOOL(WINAPI* systemTimeToFileTime)(const SYSTEMTIME*, LPFILETIME);
    LONG(WINAPI* compareFileTime)(const FILETIME*, const FILETIME*);

    // The real functions of the system.
    static const CapiFunctions& system();
};
