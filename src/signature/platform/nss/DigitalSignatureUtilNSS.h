#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#include <prtime.h>

#include "signature/DigitalSignatureUtil.h"
#include "signature/platform/nss/NssHandles.h"

// The Linux engine, on the user's NSS database sql:$HOME/.pki/nssdb and the PKCS#11 tokens registered in
// it. "My" holds the certificates with a private key on some token, "Root" the certificates trusted as CA
// anchors, "CA" the other CA certificates. The database is opened read-only on first use, one NSS context
// per engine, and closed by the destructor. NSS is never allowed to prompt: listing never logs in, and
// signing presents only a PIN the page has put into the PinCache.
class DigitalSignatureUtilNSS : public DigitalSignatureUtil {
  public:
    DigitalSignatureUtilNSS();
    ~DigitalSignatureUtilNSS() override;

    std::string getDigitalSignatureCertificates(std::string caSubjectNames) override;
    NameAttributesList expandCaSubjectNames(std::string caSubjectNames) override;
    std::string getCertificate(std::string id) override;
    std::string signPkcs1(std::string id, std::string data) override;
    void clearPins() override;

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

  private:
    enum class Store { My, Root, CA };
    struct Stores {
        CertListPtr my;
        CertListPtr root;
        CertListPtr ca;
    };
    // Where a certificate of "My" was seen: its encoded issuer and serial, for an indexed lookup.
    struct Location {
        std::vector<std::uint8_t> derIssuer;
        std::vector<std::uint8_t> serial;
    };
    enum class Lookup { Found, NotFound, StoreFailed };

    // Opens the NSS context when needed. False when the database exists but cannot be opened (the NSS
    // error is left for captureLowLevelError); true with no context when there is no database at all.
    bool ensureContext();
    // The three stores from one walk over the database; nothing when it cannot be opened, empty stores
    // without a database.
    std::optional<Stores> loadStores();
    // Loads the stores once for a whole request (a listing opens "Root", "CA" and "My"); a store that
    // cannot be opened stays unloaded, so opening it again reports the failure.
    class RequestStores {
      public:
        explicit RequestStores(DigitalSignatureUtilNSS& engine);
        ~RequestStores();
        RequestStores(const RequestStores&) = delete;
        RequestStores& operator=(const RequestStores&) = delete;

      private:
        DigitalSignatureUtilNSS& engine_;
        std::optional<Stores> stores_;
    };
    // One store's certificates: from the stores loaded for the current request, else freshly loaded.
    std::optional<CertListPtr> openStore(Store store);
    // The certificate of "My" an identifier names (for signing: only one with nonRepudiation).
    Lookup findInMy(const std::string& id, const CertificateIdentifier& parsed, bool forSigning,
                    CertPtr& found);
    void rememberLocation(const std::string& id, const CERTCertificate& cert);

    enum class KeyOutcome { Signed, WrongPin, PinRequired, Failed };
    KeyOutcome signWithCertificateKey(CERTCertificate* cert, const std::string& id,
                                      const std::vector<std::uint8_t>& hash, std::string& signature);

    ContextPtr context_;
    Stores* requestStores_ = nullptr;
    // Identifier text (as listed, and with its non-ASCII bytes blanked) to the certificate's location.
    std::map<std::string, Location> locations_;
};
