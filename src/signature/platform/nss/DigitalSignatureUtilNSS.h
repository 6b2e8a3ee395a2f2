#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#include <prtime.h>

#include "signature/DigitalSignatureUtil.h"
#include "signature/platform/nss/NssDatabase.h"
#include "signature/platform/nss/NssHandles.h"

// The Linux engine, on the user's NSS database sql:$HOME/.pki/nssdb and the PKCS#11 tokens registered in
// it. "My" holds the certificates with a private key on some token, "Root" the certificates trusted as CA
// anchors, "CA" the other CA certificates. The database is opened read-only on first use and shared, with
// the stores loaded from it, by the engines of the process (NssDatabase). NSS is never allowed to prompt:
// listing never logs in, and signing presents only a PIN the page has put into the PinCache.
class DigitalSignatureUtilNSS : public DigitalSignatureUtil {
  public:
    DigitalSignatureUtilNSS();
    ~DigitalSignatureUtilNSS() override;

    std::string getDigitalSignatureCertificates(std::string caSubjectNames) override;
    NameAttributesList expandCaSubjectNames(std::string caSubjectNames) override;
    std::string getCertificate(std::string id) override;
    std::string signPkcs1(std::string id, std::string data) override;
    void clearPins() override;
    std::optional<SignatureSummary> describeSignature(std::string id, std::string data) override;
    void endSignature(const std::string& id) override;
    PinState readPinState(const std::string& moduleName) override;

    struct CertificateIdentifier {
        std::string issuer;
        std::vector<std::uint8_t> serial;  // least significant octet first
    };

    static std::string nameToText(const CERTName& name);
    // Key usage with the nonRepudiation bit, and a private key on some token.
    static bool hasNonRepudiationKey(CERTCertificate* cert);
    // The serial number's DER content octets (leading zero included), least significant first.
    static std::vector<std::uint8_t> serialOctets(const CERTCertificate& cert);
    static std::string certificateIdentifier(const CERTCertificate& cert);
    // Issuer text before the last "-", Base64 serial after it. Nothing when there is no "-" (no error code
    // set) or when the serial does not decode (InvalidEncoding, low-level error captured).
    std::optional<CertificateIdentifier> parseCertificateIdentifier(const std::string& id);
    static bool matchesIdentifier(const CERTCertificate& cert, const CertificateIdentifier& id);

  protected:
    PlatformError lastPlatformError() const override;
    // Seams for tests: the clock of the validity check, and the one call that presents a PIN to a token.
    virtual PRTime currentTime() const;
    virtual SECStatus checkUserPassword(PK11SlotInfo* slot, const std::string& pin);
    // What the token's flags say of its user PIN (also a seam for tests).
    virtual PinState tokenPinState(PK11SlotInfo* slot);
    // tokenPinState, less a "final try" the token has not updated since it accepted this process's PIN.
    PinState pinStateOf(PK11SlotInfo* slot);
    // The token in its slot, as the refused PINs are kept under.
    static std::string tokenName(PK11SlotInfo* slot);

  private:
    // The database of the engine's user, shared with the other engines of the process, opened on first
    // need. False when the database exists but cannot be opened (the NSS error is left for
    // captureLowLevelError); true with no database when there is no database file at all.
    bool ensureDatabase();
    // One request's hold on the database and its stores (a listing expands the CA names inside its own);
    // without a database the stores are empty, when it cannot be opened there are none.
    class Request {
      public:
        explicit Request(DigitalSignatureUtilNSS& engine);
        // False when the database cannot be opened or read now; NSS's error is then set.
        bool storesOpen();
        const Stores& stores();
        NssDatabase* database() const { return database_; }

      private:
        bool open_;
        NssDatabase* database_ = nullptr;
        std::optional<NssDatabase::Request> hold_;
    };
    // The first certificate of "My" the identifier names (for signing: only one with nonRepudiation).
    static const StoredCertificate* findInMy(const Stores& stores, const CertificateIdentifier& parsed,
                                             bool forSigning);

    enum class KeyOutcome { Signed, WrongPin, PinRequired, Locked, Failed, KeptKeyFailed };
    KeyOutcome signWithCertificateKey(Request& request, const StoredCertificate& certificate,
                                      const std::string& id, const std::vector<std::uint8_t>& hash,
                                      bool useKeptKey, std::string& signature);

    std::shared_ptr<NssDatabase> database_;
};
