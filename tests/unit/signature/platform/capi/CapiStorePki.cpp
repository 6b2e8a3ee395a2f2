// Puts the make-pki certificates into the current user's CryptoAPI stores: the roots into "Root", the
// intermediates into "CA", the user certificates into "My", each user key imported into a key container
// of its own and linked to its certificate by a key provider record. Keys are imported explicitly because
// a PFX import links keys wrongly under Wine. Run once before the engine tests; certificates of the same
// subject that an earlier run left are removed first.
//
// Usage: capi_store_pki   (reads KORVANE_PKI_DIR; empties KORVANE_PKI_DIR/capi-signatures)

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kAesProvider = L"Microsoft Enhanced RSA and AES Cryptographic Provider";
constexpr const wchar_t* kEnhancedProvider = L"Microsoft Enhanced Cryptographic Provider v1.0";
constexpr const wchar_t* kCardProvider = L"Microsoft Base Smart Card Crypto Provider";
constexpr DWORD kPvkHeader = 24;  // magic, reserved, key type, encrypted, salt length, key length

std::string directory;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "capi_store_pki: %s failed, error 0x%08lX\n", what.c_str(), GetLastError());
    std::exit(1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "capi_store_pki: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<BYTE> certificateDer(const std::string& name) {
    const std::string pem = readFile(directory + "/certs/" + name + ".pem");
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        fail("decoding " + name + ".pem");
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
    return der;
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Imports the key into the named container (made on first use) and returns its kind
// (AT_KEYEXCHANGE or AT_SIGNATURE).
DWORD importKey(const std::string& name, const std::wstring& container) {
    const std::string pvk = readFile(directory + "/keys/" + name + ".pvk");
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, container.c_str(), kAesProvider, PROV_RSA_AES, CRYPT_NEWKEYSET) &&
        !CryptAcquireContextW(&provider, container.c_str(), kAesProvider, PROV_RSA_AES, 0)) {
        fail("opening container for " + name);
    }
    HCRYPTKEY key = 0;
    const auto* blob = reinterpret_cast<const BYTE*>(pvk.data()) + kPvkHeader;
    if (!CryptImportKey(provider, blob, static_cast<DWORD>(pvk.size() - kPvkHeader), 0, 0, &key)) {
        fail("importing key of " + name);
    }
    const DWORD keyType = *reinterpret_cast<const DWORD*>(pvk.data() + 8);  // 1 exchange, 2 signature
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    return keyType;
}

// A fixture built again has the same names and serials but new keys: drop what an earlier run left.
void removeEarlier(HCERTSTORE store, const std::vector<BYTE>& der) {
    PCCERT_CONTEXT fresh =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!fresh) {
        fail("parsing a certificate");
    }
    while (PCCERT_CONTEXT old = CertFindCertificateInStore(
               store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME, &fresh->pCertInfo->Subject, nullptr)) {
        if (!CertDeleteCertificateFromStore(old)) {
            fail("removing an earlier certificate");
        }
    }
    CertFreeCertificateContext(fresh);
}

void addTo(const wchar_t* storeName, const std::vector<std::string>& names, bool withKeys) {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, storeName);
    if (!store) {
        fail("opening a store");
    }
    for (const std::string& name : names) {
        const std::vector<BYTE> der = certificateDer(name);
        removeEarlier(store, der);
        PCCERT_CONTEXT cert = nullptr;
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                              static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              &cert)) {
            fail("adding " + name);
        }
        if (withKeys && name != "nokey") {
            std::wstring container = L"korvane-" + wide(name);
            CRYPT_KEY_PROV_INFO record{};
            record.pwszContainerName = container.data();
            if (name == "card") {
                // No such provider under Wine: the card paths run against a scripted provider.
                record.pwszProvName = const_cast<wchar_t*>(kCardProvider);
                record.dwProvType = PROV_RSA_FULL;
                record.dwKeySpec = AT_KEYEXCHANGE;
            } else if (name == "good3072") {
                // The older provider, which lacks SHA-256.
                record.dwKeySpec = importKey(name, container);
                record.pwszProvName = const_cast<wchar_t*>(kEnhancedProvider);
                record.dwProvType = PROV_RSA_FULL;
            } else {
                record.dwKeySpec = importKey(name, container);
                record.pwszProvName = const_cast<wchar_t*>(kAesProvider);
                record.dwProvType = PROV_RSA_AES;
            }
            if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &record)) {
                fail("linking the key of " + name);
            }
        }
        CertFreeCertificateContext(cert);
    }
    // The system stores keep what is added only once it is committed.
    if (!CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        fail("committing a store");
    }
    CertCloseStore(store, 0);
}

}  // namespace

int main() {
    const char* dir = std::getenv("KORVANE_PKI_DIR");
    if (!dir || !*dir) {
        std::fprintf(stderr, "capi_store_pki: KORVANE_PKI_DIR is not set\n");
        return 2;
    }
    directory = dir;
    addTo(L"Root", {"root", "unrelated", "accented", "dashed", "piperoot"}, false);
    addTo(L"CA", {"int1", "int2", "pipeca"}, false);
    addTo(L"My",
          {"good", "good3072", "auth", "noku", "nokey", "expired", "future", "stranger", "accentuser",
           "dashuser", "card", "pipeuser"},
          true);
    const std::filesystem::path signatures = std::filesystem::path(directory) / "capi-signatures";
    std::filesystem::remove_all(signatures);
    std::filesystem::create_directories(signatures);
    std::printf("capi_store_pki: stores ready\n");
    return 0;
}
