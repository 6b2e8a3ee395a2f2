#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include <certdb.h>
#include <keyhi.h>
#include <nssutil.h>
#include <prerror.h>
#include <secerr.h>

#include "signature/Base64.h"
#include "signature/PinCache.h"
#include "signature/platform/nss/X500NameText.h"

namespace {

constexpr std::size_t kMaxHashOctets = 256;
constexpr std::size_t kMaxSerialOctets = 2048;

// The engine presents PINs itself with PK11_CheckUserPassword, so whenever NSS would ask for one (a
// listing walking a logged-out token, a key lookup) the answer is no PIN: no login, and never a prompt.
char* refusePasswordPrompt(PK11SlotInfo*, PRBool, void*) {
    return nullptr;
}

std::string databaseDirectory() {
    const char* home = std::getenv("HOME");
    std::string base;
    if (home && *home) {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        base = pw->pw_dir;
    }
    return base + "/.pki/nssdb";
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool isTrustedAnchor(CERTCertificate* cert) {
    CERTCertTrust trust{};
    if (CERT_GetCertTrust(cert, &trust) != SECSuccess) {
        return false;
    }
    return ((trust.sslFlags | trust.emailFlags | trust.objectSigningFlags) & CERTDB_TRUSTED_CA) != 0;
}

// DigestInfo prefixes of RFC 8017, section 9.2, note 1.
constexpr std::array<std::uint8_t, 18> kMd5Prefix = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                                     0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr std::array<std::uint8_t, 15> kSha1Prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                                      0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr std::array<std::uint8_t, 19> kSha256Prefix = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                                        0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                        0x01, 0x05, 0x00, 0x04, 0x20};

// The algorithm follows the hash length: below 20 octets MD5, 20 SHA-1, above SHA-256. The hash sits at
// the start of a zeroed buffer of the largest accepted size, and the algorithm's own length is read from
// it, as a provider that is handed the buffer under that algorithm would.
std::vector<std::uint8_t> digestInfo(const std::vector<std::uint8_t>& hash) {
    std::vector<std::uint8_t> out;
    std::size_t length = 0;
    if (hash.size() < 20) {
        out.assign(kMd5Prefix.begin(), kMd5Prefix.end());
        length = 16;
    } else if (hash.size() == 20) {
        out.assign(kSha1Prefix.begin(), kSha1Prefix.end());
        length = 20;
    } else {
        out.assign(kSha256Prefix.begin(), kSha256Prefix.end());
        length = 32;
    }
    std::array<std::uint8_t, kMaxHashOctets> buffer{};
    std::copy(hash.begin(), hash.end(), buffer.begin());
    out.insert(out.end(), buffer.begin(), buffer.begin() + length);
    return out;
}

}  // namespace

std::unique_ptr<DigitalSignatureUtil> DigitalSignatureUtil::create() {
    return std::make_unique<DigitalSignatureUtilNSS>();
}

DigitalSignatureUtilNSS::DigitalSignatureUtilNSS() {
    // NSS's error texts, available even before (or without) a database.
    NSS_InitializePRErrorTable();
}

DigitalSignatureUtilNSS::~DigitalSignatureUtilNSS() = default;

bool DigitalSignatureUtilNSS::ensureContext() {
    if (context_) {
        return true;
    }
    const std::string directory = databaseDirectory();
    if (!fileExists(directory + "/cert9.db")) {
        return true;  // no database: every store is empty
    }
    NSSInitParameters parameters{};
    parameters.length = sizeof(parameters);
    // Read-only, so that a browser using the same database keeps working; the built-in root module is not
    // loaded, the stores are what the user's database holds.
    const std::string configDir = "sql:" + directory;
    context_.reset(NSS_InitContext(configDir.c_str(), "", "", "secmod.db", &parameters,
                                   NSS_INIT_READONLY | NSS_INIT_NOROOTINIT));
    if (!context_) {
        if (PR_GetError() == 0) {
            PR_SetError(SEC_ERROR_BAD_DATABASE, 0);
        }
        return false;
    }
    PK11_SetPasswordFunc(refusePasswordPrompt);
    return true;
}

std::optional<DigitalSignatureUtilNSS::Stores> DigitalSignatureUtilNSS::loadStores() {
    if (!ensureContext()) {
        return std::nullopt;
    }
    Stores stores{CertListPtr(CERT_NewCertList()), CertListPtr(CERT_NewCertList()),
                  CertListPtr(CERT_NewCertList())};
    if (!context_) {
        return stores;
    }
    // Making a certificate object is what costs (NSS looks for its key on every token), so the three
    // stores come from one walk: "My" is what has a key, CA certificates go to "Root" when trusted as
    // anchors and to "CA" otherwise (a CA certificate with a key is in "My" too).
    CertListPtr all(PK11_ListCerts(PK11CertListUnique, nullptr));
    forEachCertificate(all.get(), [&stores](CERTCertificate* cert) {
        if (CERT_IsUserCert(cert)) {
            CERT_AddCertToListTail(stores.my.get(), CERT_DupCertificate(cert));
        }
        if (CERT_IsCACert(cert, nullptr)) {
            CERTCertList* target = isTrustedAnchor(cert) ? stores.root.get() : stores.ca.get();
            CERT_AddCertToListTail(target, CERT_DupCertificate(cert));
        }
        return true;
    });
    return stores;
}

DigitalSignatureUtilNSS::RequestStores::RequestStores(DigitalSignatureUtilNSS& engine) : engine_(engine) {
    if (engine_.requestStores_) {
        return;  // an enclosing request already holds them
    }
    stores_ = engine_.loadStores();
    if (stores_) {
        engine_.requestStores_ = &*stores_;
    }
}

DigitalSignatureUtilNSS::RequestStores::~RequestStores() {
    if (stores_) {
        engine_.requestStores_ = nullptr;
    }
}

std::optional<CertListPtr> DigitalSignatureUtilNSS::openStore(Store store) {
    std::optional<Stores> loaded;
    Stores* stores = requestStores_;
    if (!stores) {
        loaded = loadStores();
        if (!loaded) {
            return std::nullopt;
        }
        stores = &*loaded;
    }
    CERTCertList* source = store == Store::My     ? stores->my.get()
                           : store == Store::Root ? stores->root.get()
                                                  : stores->ca.get();
    if (loaded) {
        // Hand over the list that was loaded for this call alone.
        return store == Store::My     ? std::move(loaded->my)
               : store == Store::Root ? std::move(loaded->root)
                                      : std::move(loaded->ca);
    }
    CertListPtr copy(CERT_NewCertList());
    forEachCertificate(source, [&copy](CERTCertificate* cert) {
        CERT_AddCertToListTail(copy.get(), CERT_DupCertificate(cert));
        return true;
    });
    return copy;
}

void DigitalSignatureUtilNSS::rememberLocation(const std::string& id, const CERTCertificate& cert) {
    Location location{
        std::vector<std::uint8_t>(cert.derIssuer.data, cert.derIssuer.data + cert.derIssuer.len),
        std::vector<std::uint8_t>(cert.serialNumber.data, cert.serialNumber.data + cert.serialNumber.len)};
    locations_[id] = location;
    // The page receives the identifier with bytes outside 0x20-0x7F blanked.
    std::string blanked = pageForm(id);
    if (blanked != id) {
        locations_[blanked] = std::move(location);
    }
}

DigitalSignatureUtilNSS::Lookup DigitalSignatureUtilNSS::findInMy(const std::string& id,
                                                                  const CertificateIdentifier& parsed,
                                                                  bool forSigning, CertPtr& found) {
    auto accepts = [&](CERTCertificate* cert) {
        return matchesIdentifier(*cert, parsed) && (!forSigning || hasNonRepudiationKey(cert));
    };
    // Fast path: where this identifier's certificate was seen before, looked up again in the live store
    // and checked like any other candidate, so a stale location only costs the full walk below.
    if (auto it = locations_.find(id); it != locations_.end() && ensureContext() && context_) {
        CERTIssuerAndSN issuerAndSerial{};
        issuerAndSerial.derIssuer = {siBuffer, it->second.derIssuer.data(),
                                     static_cast<unsigned int>(it->second.derIssuer.size())};
        issuerAndSerial.serialNumber = {siBuffer, it->second.serial.data(),
                                        static_cast<unsigned int>(it->second.serial.size())};
        CertPtr cert(CERT_FindCertByIssuerAndSN(CERT_GetDefaultCertDB(), &issuerAndSerial));
        if (cert && CERT_IsUserCert(cert.get()) && accepts(cert.get())) {
            found = std::move(cert);
            return Lookup::Found;
        }
    }
    auto certificates = openStore(Store::My);
    if (!certificates) {
        return Lookup::StoreFailed;
    }
    forEachCertificate(certificates->get(), [&](CERTCertificate* cert) {
        if (!accepts(cert)) {
            return true;
        }
        found.reset(CERT_DupCertificate(cert));
        return false;
    });
    if (!found) {
        return Lookup::NotFound;
    }
    rememberLocation(id, *found);
    return Lookup::Found;
}

DigitalSignatureUtil::PlatformError DigitalSignatureUtilNSS::lastPlatformError() const {
    PlatformError error;
    error.code = PR_GetError();
    if (error.code != 0) {
        const char* text = PR_ErrorToString(error.code, PR_LANGUAGE_I_DEFAULT);
        if (text && std::strncmp(text, "Unknown code", 12) != 0) {
            error.message = text;
        }
    }
    return error;
}

PRTime DigitalSignatureUtilNSS::currentTime() const {
    return PR_Now();
}

SECStatus DigitalSignatureUtilNSS::checkUserPassword(PK11SlotInfo* slot, const std::string& pin) {
    return PK11_CheckUserPassword(slot, pin.c_str());
}

void DigitalSignatureUtilNSS::clearPins() {
    pinCache().clear();
}

std::string DigitalSignatureUtilNSS::nameToText(const CERTName& name) {
    return X500NameText::render(name);
}

bool DigitalSignatureUtilNSS::hasNonRepudiationKey(CERTCertificate* cert) {
    return cert->keyUsagePresent && (cert->keyUsage & KU_NON_REPUDIATION) && CERT_IsUserCert(cert);
}

std::vector<std::uint8_t> DigitalSignatureUtilNSS::serialOctets(const CERTCertificate& cert) {
    std::vector<std::uint8_t> octets(cert.serialNumber.data, cert.serialNumber.data + cert.serialNumber.len);
    std::reverse(octets.begin(), octets.end());
    return octets;
}

std::string DigitalSignatureUtilNSS::certificateIdentifier(const CERTCertificate& cert) {
    return nameToText(cert.issuer) + "-" + Base64::encode(serialOctets(cert));
}

std::optional<DigitalSignatureUtilNSS::CertificateIdentifier>
DigitalSignatureUtilNSS::parseCertificateIdentifier(const std::string& id) {
    const std::size_t dash = id.rfind('-');
    if (dash == std::string::npos) {
        PR_SetError(SEC_ERROR_INVALID_ARGS, 0);
        return std::nullopt;
    }
    auto serial = Base64::decode(std::string_view(id).substr(dash + 1), kMaxSerialOctets);
    if (!serial) {
        setErrorCode(ErrorCode::InvalidEncoding);
        PR_SetError(SEC_ERROR_BAD_DATA, 0);
        captureLowLevelError();
        return std::nullopt;
    }
    return CertificateIdentifier{id.substr(0, dash), std::move(*serial)};
}

bool DigitalSignatureUtilNSS::matchesIdentifier(const CERTCertificate& cert,
                                                const CertificateIdentifier& id) {
    return serialOctets(cert) == id.serial && issuerTextMatches(nameToText(cert.issuer), id.issuer);
}

NameAttributesList DigitalSignatureUtilNSS::expandCaSubjectNames(std::string caSubjectNames) {
    setErrorCode(ErrorCode::None);
    NameAttributesList list = parseNameList(caSubjectNames);
    const RequestStores scope(*this);

    // Known authorities: subject text to parsed issuer, "Root" first and then "CA", later ones winning.
    std::map<std::string, NameAttributes> known;
    for (Store store : {Store::Root, Store::CA}) {
        auto certificates = openStore(store);
        if (!certificates) {
            setErrorCode(ErrorCode::OperationFailed);
            captureLowLevelError();
            return list;
        }
        forEachCertificate(certificates->get(), [&known](CERTCertificate* cert) {
            known[nameToText(cert->subject)] = parseDistinguishedName(nameToText(cert->issuer));
            return true;
        });
    }

    // Closure: walk the authorities in map order and add the subject of the first one whose issuer is a
    // listed name, unless it is self-signed; remove it and walk again until a walk adds nothing. A member
    // equal to the issuer differs from the subject exactly when the issuer does, so an authority qualifies
    // when its issuer is in the list and it is not self-signed. Names compare equal (namesEqual) exactly
    // when their attribute maps are equal, which lets a set answer "is it in the list".
    struct Authority {
        NameAttributes subject;
        NameAttributes issuer;
        bool selfSigned;
    };
    std::vector<Authority> pending;  // in map order
    pending.reserve(known.size());
    for (auto& [subjectText, issuer] : known) {
        NameAttributes subject = parseDistinguishedName(subjectText);
        const bool selfSigned = namesEqual(subject, issuer);
        pending.push_back({std::move(subject), std::move(issuer), selfSigned});
    }
    std::set<NameAttributes> listed(list.begin(), list.end());
    for (bool appended = true; appended;) {
        appended = false;
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (!it->selfSigned && listed.count(it->issuer)) {
                listed.insert(it->subject);
                list.push_back(std::move(it->subject));
                pending.erase(it);
                appended = true;
                break;
            }
        }
    }
    return list;
}

std::string DigitalSignatureUtilNSS::getDigitalSignatureCertificates(std::string caSubjectNames) {
    setErrorCode(ErrorCode::None);
    std::string result;
    const RequestStores scope(*this);
    const NameAttributesList authorities = expandCaSubjectNames(std::move(caSubjectNames));
    if (errorCode() != ErrorCode::None) {
        return result;
    }
    auto certificates = openStore(Store::My);
    if (!certificates) {
        setErrorCode(ErrorCode::OperationFailed);
        captureLowLevelError();
        return result;
    }
    const PRTime now = currentTime();
    forEachCertificate(certificates->get(), [&](CERTCertificate* cert) {
        PRTime notBefore = 0;
        PRTime notAfter = 0;
        if (CERT_GetCertTimes(cert, &notBefore, &notAfter) != SECSuccess ||
            !(notBefore < now && now < notAfter)) {
            return true;
        }
        if (!hasNonRepudiationKey(cert)) {
            return true;
        }
        const std::string issuer = nameToText(cert->issuer);
        if (!issuerInList(authorities, parseDistinguishedName(issuer))) {
            return true;
        }
        const std::string issuerField = listingField(issuer);
        const std::string id = issuerField + "-" + Base64::encode(serialOctets(*cert));
        if (!result.empty()) {
            result += '|';
        }
        result += issuerField;
        result += '|';
        result += listingField(nameToText(cert->subject));
        result += '|';
        result += id;
        rememberLocation(id, *cert);
        return true;
    });
    return result;
}

std::string DigitalSignatureUtilNSS::getCertificate(std::string id) {
    setErrorCode(ErrorCode::None);
    PR_SetError(0, 0);
    std::string result;
    if (auto parsed = parseCertificateIdentifier(id)) {
        CertPtr cert;
        switch (findInMy(id, *parsed, false, cert)) {
            case Lookup::StoreFailed:
                setErrorCode(ErrorCode::OperationFailed);
                break;
            case Lookup::NotFound:
                PR_SetError(SEC_ERROR_UNKNOWN_CERT, 0);
                break;
            case Lookup::Found:
                result = Base64::encode(cert->derCert.data, cert->derCert.len);
                // NSS leaves codes of its own lookups behind even when all went well.
                PR_SetError(0, 0);
                break;
        }
    }
    if (result.empty() && errorCode() == ErrorCode::None) {
        setErrorCode(ErrorCode::CertificateNotFound);
    }
    captureLowLevelError();
    return result;
}

std::string DigitalSignatureUtilNSS::signPkcs1(std::string id, std::string data) {
    setErrorCode(ErrorCode::None);
    PR_SetError(0, 0);
    std::string result;
    auto hash = Base64::decode(data, kMaxHashOctets);
    if (!hash) {
        setErrorCode(ErrorCode::InvalidEncoding);
        PR_SetError(SEC_ERROR_BAD_DATA, 0);
    } else if (auto parsed = parseCertificateIdentifier(id)) {
        // A certificate without the nonRepudiation bit is never offered by the listing; it is not used
        // for signing either, so a page cannot have an authentication key sign an arbitrary hash.
        CertPtr cert;
        switch (findInMy(id, *parsed, true, cert)) {
            case Lookup::StoreFailed:
                break;
            case Lookup::NotFound:
                setErrorCode(ErrorCode::CertificateNotFound);
                PR_SetError(SEC_ERROR_UNKNOWN_CERT, 0);
                break;
            case Lookup::Found:
                switch (signWithCertificateKey(cert.get(), id, *hash, result)) {
                    case KeyOutcome::WrongPin:
                        setErrorCode(ErrorCode::WrongPin);
                        break;
                    case KeyOutcome::PinRequired:
                        setErrorCode(ErrorCode::PinRequired);
                        break;
                    case KeyOutcome::Signed:
                    case KeyOutcome::Failed:
                        break;
                }
                break;
        }
    }
    if (result.empty()) {
        if (errorCode() == ErrorCode::None) {
            setErrorCode(ErrorCode::OperationFailed);
        }
        captureLowLevelError();
    }
    return result;
}

DigitalSignatureUtilNSS::KeyOutcome DigitalSignatureUtilNSS::signWithCertificateKey(
    CERTCertificate* cert, const std::string& id, const std::vector<std::uint8_t>& hash,
    std::string& signature) {
    SlotPtr slot(cert->slot ? PK11_ReferenceSlot(cert->slot) : nullptr);
    if (!slot) {
        PR_SetError(SEC_ERROR_NO_TOKEN, 0);
        return KeyOutcome::Failed;
    }
    // A software key is one in NSS's own key database without a password; every other token is a card.
    const bool software = PK11_IsInternalKeySlot(slot.get()) && !PK11_NeedLogin(slot.get());
    bool presented = false;
    bool refused = false;
    if (!software) {
        PinCache& cache = pinCache();
        const PinEntry* entry = cache.find(id);
        refused = entry && entry->rejected;
        const bool needsLogin = PK11_NeedLogin(slot.get()) && !PK11_IsLoggedIn(slot.get(), nullptr);
        if (needsLogin && !refused) {
            if (!entry || entry->pin.empty()) {
                // Silent mode: the key needs user input that only the page can supply.
                cache.requirePin(id);
                PR_SetError(SEC_ERROR_TOKEN_NOT_LOGGED_IN, 0);
                return KeyOutcome::PinRequired;
            }
            presented = true;
            if (checkUserPassword(slot.get(), entry->pin) != SECSuccess &&
                PR_GetError() == SEC_ERROR_BAD_PASSWORD) {
                refused = true;
            }
        }
        if (refused) {
            if (presented) {
                cache.markRejected(id);
            }
            PR_SetError(SEC_ERROR_BAD_PASSWORD, 0);
            return KeyOutcome::WrongPin;
        }
    }

    KeyOutcome outcome = KeyOutcome::Failed;
    PrivateKeyPtr key(PK11_FindPrivateKeyFromCert(slot.get(), cert, nullptr));
    if (!key) {
        if (PR_GetError() == 0) {
            PR_SetError(SEC_ERROR_NO_KEY, 0);
        }
    } else if (SECKEY_GetPrivateKeyType(key.get()) != rsaKey) {
        PR_SetError(SEC_ERROR_INVALID_KEY, 0);
    } else {
        std::vector<std::uint8_t> input = digestInfo(hash);
        const int length = PK11_SignatureLen(key.get());
        if (length > 0) {
            std::vector<std::uint8_t> octets(static_cast<std::size_t>(length));
            SECItem out{siBuffer, octets.data(), static_cast<unsigned int>(octets.size())};
            SECItem in{siBuffer, input.data(), static_cast<unsigned int>(input.size())};
            if (PK11_SignWithMechanism(key.get(), CKM_RSA_PKCS, nullptr, &out, &in) == SECSuccess) {
                octets.resize(out.len);
                signature = Base64::encode(octets);
                outcome = KeyOutcome::Signed;
            }
        }
    }
    key.reset();
    // An NSS login lasts for the whole process: log out so the PIN leaves the token's session.
    if (presented) {
        const PRErrorCode error = PR_GetError();
        PK11_Logout(slot.get());
        PR_SetError(error, 0);
    }
    return outcome;
}
