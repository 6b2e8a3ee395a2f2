#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "signature/ErrorCode.h"
#include "signature/NameAttributes.h"
#include "signature/PinState.h"

class PinCache;

// The certificate and signature engine: lists the certificates fit for signing, fetches one by its
// identifier and signs a hash with its key. Refusals never throw; each request leaves an error code,
// the platform's error code and its text behind. PIN state lives in the PinCache of the page origin the
// engine works for, so the PIN methods and the platform engines see only that origin's entries.
class DigitalSignatureUtil {
  public:
    DigitalSignatureUtil() = default;
    DigitalSignatureUtil(const DigitalSignatureUtil&) = delete;
    DigitalSignatureUtil& operator=(const DigitalSignatureUtil&) = delete;
    virtual ~DigitalSignatureUtil();

    // The engine of this platform.
    static std::unique_ptr<DigitalSignatureUtil> create();
    // Lets go of what the platform's engines keep for the process between requests (the module is being
    // unloaded); engines still alive keep what they use.
    static void releaseSharedState();

    virtual std::string getDigitalSignatureCertificates(std::string caSubjectNames) = 0;
    virtual NameAttributesList expandCaSubjectNames(std::string caSubjectNames) = 0;
    virtual std::string getCertificate(std::string id) = 0;
    virtual std::string signPkcs1(std::string id, std::string data) = 0;
    // Forgets every PIN of this engine's origin, wiping them.
    virtual void clearPins() = 0;

    // What a signature of data with the certificate id would be, for the user to confirm: the names as
    // the store holds them, the algorithm the hash length gives, and whether the key waits for a PIN (a
    // token key that needs a login and has none yet). Neither the key is touched nor a PIN presented.
    // Nothing, with the error state set as signPkcs1 sets it, for an unknown certificate or a bad hash.
    struct SignatureSummary {
        std::string subject;
        std::string issuer;
        std::string algorithm;
        std::string hashHex;
        bool needsPin = false;
    };
    virtual std::optional<SignatureSummary> describeSignature(std::string id, std::string data) = 0;
    // Ends one signature whose PIN the user typed for it: the accepted PIN of id is forgotten (wiped),
    // a refused one keeps its mark so that it is not presented again, and the key's token is logged out.
    virtual void endSignature(const std::string& id);

    // The digest algorithm of a hash of this many octets (MD5, SHA-1, SHA-256, SHA-384, SHA-512); empty
    // for any other length.
    static std::string hashAlgorithmName(std::size_t octets);
    static std::string hexText(const std::vector<std::uint8_t>& octets);

    std::int32_t getLastError() const { return static_cast<std::int32_t>(errorCode_); }
    std::int32_t getLastLowLevelError() const { return lowLevelError_; }
    std::string getLastErrorMessage() const { return errorMessage_; }

    // The page origin whose PINs this engine reads and writes; set by its owner right after creation.
    void setPinOrigin(std::string origin) { pinOrigin_ = std::move(origin); }
    const std::string& pinOrigin() const { return pinOrigin_; }

    // Hands a PIN to the cache of the engine's origin, which keeps the one copy. A PIN holding a NUL
    // cannot be presented to a token (their interfaces take C strings, which would end it early and log
    // in with the part before the NUL): it is cached as rejected, so the next signing reports a wrong PIN
    // the way the engine reports every refusal, without presenting anything.
    void setPin(const std::string& moduleName, const std::string& pin);
    bool isPinMissing() const;
    bool isPinInvalid() const;
    std::vector<std::string> getModulesWithoutPin() const;
    std::vector<std::string> getModulesWithInvalidPin() const;
    std::int32_t getPinRetryCount(std::string moduleName) const;
    // The PIN state of the token of a certificate (PIN module name) as this engine last read it, while
    // signing with it; Unknown when it has not.
    PinState getPinState(const std::string& moduleName) const;
    // Asks the certificate's token now, keeping the answer for getPinState. Changes no error state.
    virtual PinState readPinState(const std::string& moduleName) { return getPinState(moduleName); }

    // Platform-neutral name handling: CA filters and issuers are compared in this parsed form.
    static std::string normalizeText(std::string_view text);
    static NameAttributes parseDistinguishedName(std::string_view text);
    static NameAttributesList parseNameList(std::string_view text);
    static bool namesEqual(const NameAttributes& a, const NameAttributes& b);
    static bool issuerInList(const NameAttributesList& list, const NameAttributes& name);
    // The same test against the list made a set once, for a listing that tests many issuers: names are
    // equal exactly when their attribute maps are.
    using NameAttributesSet = std::set<NameAttributes>;
    static bool issuerInSet(const NameAttributesSet& set, const NameAttributes& name) {
        return set.count(name) != 0;
    }

    // One name text as a field of the listing, which joins its fields with "|": a "|" inside the name
    // becomes a blank. Every engine builds its listing fields (the identifier's issuer too) with this.
    static std::string listingField(std::string_view text);
    // The form in which the page receives an engine text: a blank for every "|" inside a field and for
    // every byte outside 0x20-0x7F.
    static std::string pageForm(std::string_view text);
    // Identifiers come back from the page in that form, so their issuers may carry such blanks. True
    // when the identifier's issuer is the certificate's issuer text with none, some or all of those
    // bytes blanked.
    static bool issuerTextMatches(std::string_view certificateIssuer, std::string_view identifierIssuer);

  protected:
    struct PlatformError {
        std::int32_t code = 0;
        std::string message;
    };

    ErrorCode errorCode() const { return errorCode_; }
    void setErrorCode(ErrorCode code) { errorCode_ = code; }
    // Records the platform's last error and its text as the low-level error.
    void captureLowLevelError();
    virtual PlatformError lastPlatformError() const = 0;
    // The PIN cache of this engine's origin.
    PinCache& pinCache() const;
    void notePinState(const std::string& moduleName, PinState state) { pinStates_[moduleName] = state; }

  private:
    std::map<std::string, PinState> pinStates_;
    std::string pinOrigin_;
    ErrorCode errorCode_ = ErrorCode::None;
    std::int32_t lowLevelError_ = 0;
    std::string errorMessage_;
};
