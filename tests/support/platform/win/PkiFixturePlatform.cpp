#include <windows.h>

#include <stdexcept>

#include "PkiFixture.h"
#include "SystemServices.h"

// The fixture as the CryptoAPI engine meets it: names as CertNameToStrA gives them, in the ANSI code page
// and under Wine with a quoting of its own. Signatures are checked against the certificate's public key
// with the CryptoAPI: Wine starts a Unix program such as openssl without waiting for it, so the build
// machine's tools cannot answer a test that runs under Wine.

namespace {

// The fixture's only letter outside ASCII, "ó": UTF-8 in make-pki's texts, one byte in code page 1252
// (the ANSI code page Wine takes from a LANG of C, en_US or es_ES).
std::string inCodePage(std::string text) {
    if (GetACP() != 1252) {
        throw std::runtime_error("the expected names are in code page 1252: run with LANG pinned to C");
    }
    for (std::size_t at; (at = text.find("\xC3\xB3")) != std::string::npos;) {
        text.replace(at, 2, "\xF3");
    }
    return text;
}

// Wine's CertNameToStrA quotes a value of odd length whose middle character is a blank ("Korvane Pipe|CA"
// becomes "\"Korvane Pipe|CA\""); Windows does not. Applied to a name text without quotes of its own.
std::string asWineRenders(const std::string& name) {
    if (!testsys::underWine()) {
        return name;
    }
    std::string out;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find(", ", start);
        const std::string rdn =
            name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t eq = rdn.find('=');
        const std::string value = eq == std::string::npos ? "" : rdn.substr(eq + 1);
        const bool quoted = value.size() % 2 == 1 && value[value.size() / 2] == ' ' && value.front() != '"';
        out += quoted ? rdn.substr(0, eq + 1) + '"' + value + '"' : rdn;
        if (end == std::string::npos) {
            break;
        }
        out += ", ";
        start = end + 2;
    }
    return out;
}

}  // namespace

std::string PkiFixture::engineText(const std::string& name) {
    return asWineRenders(inCodePage(name));
}

std::string PkiFixture::engineIdentifier(const std::string& linuxId) {
    const std::size_t dash = linuxId.rfind('-');
    return engineText(linuxId.substr(0, dash)) + linuxId.substr(dash);
}

bool PkiFixture::verifies(const std::string& certificate, const std::string& digest,
                          const std::vector<unsigned char>& hash,
                          const std::vector<unsigned char>& signature) const {
    const ALG_ID algorithm = digest == "md5" ? CALG_MD5 : digest == "sha1" ? CALG_SHA1 : CALG_SHA_256;
    const std::string text = derBase64(certificate);
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
        return false;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64, der.data(), &size, nullptr, nullptr);
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    HCRYPTHASH hashObject = 0;
    bool verified = false;
    if (context != nullptr &&
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &context->pCertInfo->SubjectPublicKeyInfo,
                                 &key) &&
        CryptCreateHash(provider, algorithm, 0, 0, &hashObject) &&
        CryptSetHashParam(hashObject, HP_HASHVAL, hash.data(), 0)) {
        // The CryptoAPI takes the signature least significant octet first.
        std::vector<BYTE> reversed(signature.rbegin(), signature.rend());
        verified = CryptVerifySignatureW(hashObject, reversed.data(), static_cast<DWORD>(reversed.size()),
                                         key, nullptr, 0) != 0;
    }
    if (hashObject != 0) {
        CryptDestroyHash(hashObject);
    }
    if (key != 0) {
        CryptDestroyKey(key);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    if (context != nullptr) {
        CertFreeCertificateContext(context);
    }
    return verified;
}
