#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "signature/DigitalSignatureUtil.h"
#include "signature/PinEntry.h"
#include "signature/platform/capi/CapiFunctions.h"
#include "signature/platform/capi/CapiHandles.h"

// The Windows engine, on the current user's system stores "My", "Root" and "CA" and the cryptographic
// service providers named by each certificate's key provider record. Texts are in the ANSI code page.
// Every system call goes through one CapiFunctions table, the system's own unless a test supplies another.
class DigitalSignatureUtilCAPI : public DigitalSignatureUtil {
  public:
    DigitalSignatureUtilCAPI();
    explicit DigitalSignatureUtilCAPI(const CapiFunctions& api);

    std::string getDigitalSignatureCertificates(std::string caSubjectNames) override;
    NameAttributesList expandCaSubjectNames(std::string caSubjectNames) override;
    std::string getCertificate(std::string id) override;
    std::string signPkcs1(std::string id, std::string data) override;
    void clearPins() override;
    // The PIN state as far as the CryptoAPI tells it: Locked once the certificate's card reported itself
    // blocked (to any engine of the process); otherwise Unknown: a software key has no PIN, and a provider
    // does not say when the next wrong PIN is the last.
    PinState readPinState(const std::string& moduleName) override;
    std::optional<SignatureSummary> describeSignature(std::string id, std::string data) override;

    struct CertificateIdentifier {
        std::string issuer;
        std::vector<std::uint8_t> serial;  // least significant octet first, as the certificate stores it
    };

    // CertNameToStrA's X.500 form, cut at 2047 characters.
    std::string nameToText(const CERT_NAME_BLOB& name) const;
    // Key usage with the nonRepudiation bit, and a key provider record attached.
    bool hasNonRepudiationKey(PCCERT_CONTEXT cert) const;
    // Issuer text before the last "-", Base64 serial after it. Nothing when there is no "-" (no error code
    // set) or when the serial does not decode (InvalidEncoding, low-level error captured).
    std::optional<CertificateIdentifier> parseCertificateIdentifier(const std::string& id);
    bool matchesIdentifier(PCCERT_CONTEXT cert, const CertificateIdentifier& id) const;

    // True for a provider of Microsoft's that is not a smart-card provider; every other is a card.
    static bool softwareProvider(const wchar_t* providerName);
    // The page's filter arrives as UTF-8, the engine's names are in the ANSI code page. Text that is not
    // UTF-8 is taken to be in the code page already.
    static std::string utf8ToAnsiCodePage(const std::string& text);

  protected:
    PlatformError lastPlatformError() const override;

  private:
    // Opens "My", "Root" or "CA" of the current user read-only; an empty handle on failure, error saved.
    StoreHandle openStore(const wchar_t* name);
    // Records the last error of the call that just failed, before any clean-up call can reset it.
    void saveLastError() { failure_ = api_->getLastError(); }
    // Signs with the matching certificate's key; the result is the Base64 signature or empty.
    std::string signWithKey(PCCERT_CONTEXT cert, const std::string& id, const std::vector<BYTE>& hash);
    std::string base64(const BYTE* data, DWORD size, DWORD capacity);
    // The card behind a card provider's context: the key under which CardMemory and RefusedPins know it
    // (the provider and the card's reader, or the container when the provider does not name the reader),
    // and the insertion its identity gives, so that a card put in its place is met as a new card.
    struct CardKey {
        std::string key;
        std::int64_t insertion = 0;
    };
    CardKey cardKey(HCRYPTPROV provider, const CRYPT_KEY_PROV_INFO& record, const std::string& id);
    // Presents a cached PIN to the card, unless that card refused the very same PIN before, and records
    // what the card answered.
    enum class PinAnswer { Taken, Refused, RefusedBefore, Blocked };
    PinAnswer presentPin(HCRYPTPROV provider, const CardKey& card, const PinEntry& entry);

    const CapiFunctions* api_;
    // The low-level error of the current request, saved right after the call that failed.
    DWORD failure_ = 0;
};
