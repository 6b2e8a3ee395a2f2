#include "signature/platform/nss/DigitalSignatureUtilNSS.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <queue>
#include <set>

#include <certdb.h>
#include <keyhi.h>
#include <nssutil.h>
#include <prerror.h>
#include <secerr.h>

#include "signature/Base64.h"
#include "signature/HashAlgorithm.h"
#include "signature/PinCache.h"
#include "signature/RefusedPins.h"
#include "signature/platform/nss/X500NameText.h"

namespace {

constexpr std::size_t kMaxHashOctets = 256;
constexpr std::size_t kMaxSerialOctets = 2048;

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

}  // namespace

std::unique_ptr<DigitalSignatureUtil> DigitalSignatureUtil::create() {
    return std::make_unique<DigitalSignatureUtilNSS>();
}

void DigitalSignatureUtil::releaseSharedState() {
    NssDatabase::releaseKept();
}

DigitalSignatureUtilNSS::DigitalSignatureUtilNSS() {
    // NSS's error texts, available even before (or without) a database.
    NSS_InitializePRErrorTable();
}

DigitalSignatureUtilNSS::~DigitalSignatureUtilNSS() = default;

bool DigitalSignatureUtilNSS::ensureDatabase() {
    if (database_) {
        return true;
    }
    const std::string directory = databaseDirectory();
    if (!fileExists(directory + "/cert9.db")) {
        return true;  // no database: every store is empty
    }
    // Opening under another program's lock would wait long and then fail.
    if (!NssDatabase::waitUntilReadable(directory)) {
        PR_SetError(SEC_ERROR_BAD_DATABASE, 0);
        return false;
    }
    database_ = NssDatabase::forDirectory(directory);
    return database_ != nullptr;
}

DigitalSignatureUtilNSS::Request::Request(DigitalSignatureUtilNSS& engine) : open_(engine.ensureDatabase()) {
    if (open_ && engine.database_) {
        database_ = engine.database_.get();
        hold_.emplace(*database_);
    }
}

bool DigitalSignatureUtilNSS::Request::storesOpen() {
    if (!open_ || (hold_ && !hold_->readable())) {
        return false;
    }
    if (!database_) {
        return true;
    }
    if (const PRErrorCode error = database_->stores().readError; error != 0) {
        PR_SetError(error, 0);
        return false;
    }
    return true;
}

const Stores& DigitalSignatureUtilNSS::Request::stores() {
    static const Stores empty;
    return database_ ? database_->stores() : empty;
}

const StoredCertificate* DigitalSignatureUtilNSS::findInMy(const Stores& stores,
                                                           const CertificateIdentifier& parsed,
                                                           bool forSigning) {
    for (const StoredCertificate& stored : stores.my) {
        if (stored.serial == parsed.serial && issuerTextMatches(stored.issuer, parsed.issuer) &&
            (!forSigning || stored.nonRepudiationKey)) {
            return &stored;
        }
    }
    return nullptr;
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

PinState DigitalSignatureUtilNSS::tokenPinState(PK11SlotInfo* slot) {
    const PRErrorCode error = PR_GetError();
    CK_TOKEN_INFO info{};
    PinState state = PinState::Unknown;
    if (PK11_GetTokenInfo(slot, &info) == SECSuccess) {
        if (info.flags & CKF_USER_PIN_LOCKED) {
            state = PinState::Locked;
        } else if (info.flags & CKF_USER_PIN_FINAL_TRY) {
            state = PinState::FinalTry;
        } else {
            state = PinState::Ok;
        }
    }
    PR_SetError(error, 0);
    return state;
}

PinState DigitalSignatureUtilNSS::pinStateOf(PK11SlotInfo* slot) {
    const PinState state = tokenPinState(slot);
    // OpenSC does not read the card's counter again after a VERIFY that succeeded, so the token's flags
    // may still say "final try" while the card has all its tries back; such a flag is stale until the
    // token refuses a PIN again.
    if (state == PinState::FinalTry &&
        RefusedPins::process().lastAccepted(tokenName(slot), PK11_GetSlotSeries(slot))) {
        return PinState::Ok;
    }
    return state;
}

// The token by its module's library, its slot and what it says of itself: NSS's module numbers and slot
// series start again whenever NSS is opened afresh.
std::string DigitalSignatureUtilNSS::tokenName(PK11SlotInfo* slot) {
    std::string name;
    if (SECMODModule* module = PK11_GetModule(slot)) {
        name = module->dllName ? module->dllName : (module->commonName ? module->commonName : "");
    }
    name += ":" + std::to_string(PK11_GetSlotID(slot)) + ":" + PK11_GetTokenName(slot);
    CK_TOKEN_INFO info{};
    if (PK11_GetTokenInfo(slot, &info) == SECSuccess) {
        name.append(":").append(reinterpret_cast<const char*>(info.serialNumber), sizeof(info.serialNumber));
    }
    return name;
}

PinState DigitalSignatureUtilNSS::readPinState(const std::string& moduleName) {
    const PRErrorCode error = PR_GetError();
    const ErrorCode code = errorCode();
    PinState state = PinState::Unknown;
    const std::int32_t lowLevel = getLastLowLevelError();
    if (auto parsed = parseCertificateIdentifier(moduleName)) {
        Request request(*this);
        const StoredCertificate* stored =
            request.storesOpen() ? findInMy(request.stores(), *parsed, true) : nullptr;
        if (stored && stored->cert->slot) {
            SlotPtr slot(PK11_ReferenceSlot(stored->cert->slot));
            const bool software = PK11_IsInternalKeySlot(slot.get()) && !PK11_NeedLogin(slot.get());
            state = software ? PinState::Unknown : pinStateOf(slot.get());
            notePinState(moduleName, state);
        }
    }
    // A query, not a request: the error state stays that of the last request.
    setErrorCode(code);
    if (getLastLowLevelError() != lowLevel) {
        PR_SetError(lowLevel, 0);
        captureLowLevelError();
    }
    PR_SetError(error, 0);
    return state;
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
    Request request(*this);
    if (!request.storesOpen()) {
        setErrorCode(ErrorCode::OperationFailed);
        captureLowLevelError();
        return list;
    }
    // The known authorities ("Root" first, then "CA", a later subject text replacing an earlier one) are
    // in the order of their subject texts. Closure: walk them in that order and add the subject of the first
    // one whose issuer is a listed name, unless it is self-signed; set it aside and walk again until a walk
    // adds nothing. A member equal to the issuer differs from the subject exactly when the issuer does, so
    // an authority qualifies when its issuer is in the list and it is not self-signed. Names compare equal
    // (namesEqual) exactly when their attribute maps are equal, so sets answer "is it in the list", and a
    // heap of the qualifying authorities by position gives each walk's first one without walking again.
    const std::vector<Authority>& authorities = request.stores().authorities;
    std::map<NameAttributes, std::vector<std::size_t>> byIssuer;
    for (std::size_t i = 0; i < authorities.size(); ++i) {
        if (!authorities[i].selfSigned) {
            byIssuer[authorities[i].issuer].push_back(i);
        }
    }
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> qualifying;
    std::set<NameAttributes> listed;
    auto admit = [&](const NameAttributes& name) {
        if (!listed.insert(name).second) {
            return;
        }
        if (auto it = byIssuer.find(name); it != byIssuer.end()) {
            for (std::size_t i : it->second) {
                qualifying.push(i);
            }
            byIssuer.erase(it);
        }
    };
    for (const NameAttributes& name : list) {
        admit(name);
    }
    while (!qualifying.empty()) {
        const Authority& next = authorities[qualifying.top()];
        qualifying.pop();
        list.push_back(next.subject);
        admit(next.subject);
    }
    return list;
}

std::string DigitalSignatureUtilNSS::getDigitalSignatureCertificates(std::string caSubjectNames) {
    setErrorCode(ErrorCode::None);
    std::string result;
    Request request(*this);
    const NameAttributesList authorities = expandCaSubjectNames(std::move(caSubjectNames));
    if (errorCode() != ErrorCode::None) {
        return result;
    }
    if (!request.storesOpen()) {
        setErrorCode(ErrorCode::OperationFailed);
        captureLowLevelError();
        return result;
    }
    const Stores& stores = request.stores();
    // Whether each distinct issuer of "My" is an accepted authority, decided once per listing.
    const NameAttributesSet accepted(authorities.begin(), authorities.end());
    std::vector<bool> issuerAccepted(stores.issuers.size());
    for (std::size_t i = 0; i < stores.issuers.size(); ++i) {
        issuerAccepted[i] = issuerInSet(accepted, stores.issuers[i]);
    }
    const PRTime now = currentTime();
    for (const StoredCertificate& stored : stores.my) {
        if (!stored.timesKnown || !(stored.notBefore < now && now < stored.notAfter)) {
            continue;
        }
        if (!stored.nonRepudiationKey || !issuerAccepted[stored.issuerIndex]) {
            continue;
        }
        const std::string issuerField = listingField(stored.issuer);
        if (!result.empty()) {
            result += '|';
        }
        result += issuerField;
        result += '|';
        result += listingField(stored.subject);
        result += '|';
        result += issuerField;
        result += '-';
        result += stored.serialBase64;
    }
    return result;
}

std::string DigitalSignatureUtilNSS::getCertificate(std::string id) {
    setErrorCode(ErrorCode::None);
    PR_SetError(0, 0);
    std::string result;
    if (auto parsed = parseCertificateIdentifier(id)) {
        Request request(*this);
        if (!request.storesOpen()) {
            setErrorCode(ErrorCode::OperationFailed);
        } else if (const StoredCertificate* stored = findInMy(request.stores(), *parsed, false)) {
            result = Base64::encode(stored->cert->derCert.data, stored->cert->derCert.len);
            // Loading the stores can leave NSS codes behind even when all went well.
            PR_SetError(0, 0);
        } else {
            PR_SetError(SEC_ERROR_UNKNOWN_CERT, 0);
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
    } else if (!HashAlgorithm::forLength(hash->size())) {
        // A length no digest algorithm has: signing it under some algorithm would cover other bytes than
        // the page gave, so it is refused before any key or PIN is touched.
        setErrorCode(ErrorCode::InvalidEncoding);
        PR_SetError(SEC_ERROR_INVALID_ALGORITHM, 0);
    } else if (auto parsed = parseCertificateIdentifier(id)) {
        Request request(*this);
        // A kept key that fails to sign makes the whole request start over with nothing kept, so the
        // outcome is the one a first signature would have.
        for (bool useKeptKey = request.storesOpen(); request.storesOpen(); useKeptKey = false) {
            // A certificate without the nonRepudiation bit is never offered by the listing; it is not used
            // for signing either, so a page cannot have an authentication key sign an arbitrary hash.
            const StoredCertificate* stored = findInMy(request.stores(), *parsed, true);
            if (!stored) {
                setErrorCode(ErrorCode::CertificateNotFound);
                PR_SetError(SEC_ERROR_UNKNOWN_CERT, 0);
                break;
            }
            const KeyOutcome outcome =
                signWithCertificateKey(request, *stored, id, *hash, useKeptKey, result);
            if (outcome == KeyOutcome::KeptKeyFailed) {
                request.database()->dropKept();
                continue;
            }
            if (outcome == KeyOutcome::WrongPin) {
                setErrorCode(ErrorCode::WrongPin);
            } else if (outcome == KeyOutcome::Locked) {
                setErrorCode(ErrorCode::OperationFailed);
            } else if (outcome == KeyOutcome::PinRequired) {
                setErrorCode(ErrorCode::PinRequired);
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

std::optional<DigitalSignatureUtil::SignatureSummary> DigitalSignatureUtilNSS::describeSignature(
    std::string id, std::string data) {
    setErrorCode(ErrorCode::None);
    PR_SetError(0, 0);
    std::optional<SignatureSummary> summary;
    auto hash = Base64::decode(data, kMaxHashOctets);
    const std::string algorithm = hash ? hashAlgorithmName(hash->size()) : std::string();
    if (algorithm.empty()) {
        setErrorCode(ErrorCode::InvalidEncoding);
        PR_SetError(SEC_ERROR_BAD_DATA, 0);
    } else if (auto parsed = parseCertificateIdentifier(id)) {
        Request request(*this);
        const StoredCertificate* stored =
            request.storesOpen() ? findInMy(request.stores(), *parsed, true) : nullptr;
        if (!request.storesOpen()) {
            setErrorCode(ErrorCode::OperationFailed);
        } else if (!stored) {
            setErrorCode(ErrorCode::CertificateNotFound);
            PR_SetError(SEC_ERROR_UNKNOWN_CERT, 0);
        } else {
            summary = SignatureSummary{stored->subject, stored->issuer, algorithm, hexText(*hash), false};
            // The token's own state only: no key lookup, no login.
            if (PK11SlotInfo* slot = stored->cert->slot) {
                summary->needsPin = PK11_NeedLogin(slot) && !PK11_IsLoggedIn(slot, nullptr);
            }
            PR_SetError(0, 0);
        }
    }
    if (!summary) {
        // An identifier that does not parse: refused as signPkcs1 refuses it.
        if (errorCode() == ErrorCode::None) {
            setErrorCode(ErrorCode::OperationFailed);
        }
        captureLowLevelError();
    }
    return summary;
}

void DigitalSignatureUtilNSS::endSignature(const std::string& id) {
    // Only a token key has a PIN entry (given or asked for); a software key has nothing to end.
    const bool tokenKey = pinCache().find(id) != nullptr;
    DigitalSignatureUtil::endSignature(id);
    if (!tokenKey) {
        return;
    }
    // However the key's token was logged in, nothing of that login outlasts the signature.
    const PRErrorCode error = PR_GetError();
    if (auto parsed = parseCertificateIdentifier(id)) {
        Request request(*this);
        if (request.storesOpen()) {
            if (const StoredCertificate* stored = findInMy(request.stores(), *parsed, true)) {
                PK11SlotInfo* slot = stored->cert->slot;
                if (slot && PK11_NeedLogin(slot) && PK11_IsLoggedIn(slot, nullptr)) {
                    PK11_Logout(slot);
                }
            }
        }
    }
    PR_SetError(error, 0);
}

namespace {

bool signDigestInfo(SECKEYPrivateKey* key, int length, const std::vector<std::uint8_t>& hash,
                    std::string& signature) {
    if (length <= 0) {
        return false;
    }
    std::vector<std::uint8_t> input = HashAlgorithm::forLength(hash.size())->digestInfo(hash);
    std::vector<std::uint8_t> octets(static_cast<std::size_t>(length));
    SECItem out{siBuffer, octets.data(), static_cast<unsigned int>(octets.size())};
    SECItem in{siBuffer, input.data(), static_cast<unsigned int>(input.size())};
    if (PK11_SignWithMechanism(key, CKM_RSA_PKCS, nullptr, &out, &in) != SECSuccess) {
        return false;
    }
    octets.resize(out.len);
    signature = Base64::encode(octets);
    return true;
}

}  // namespace

DigitalSignatureUtilNSS::KeyOutcome DigitalSignatureUtilNSS::signWithCertificateKey(
    Request& request, const StoredCertificate& certificate, const std::string& id,
    const std::vector<std::uint8_t>& hash, bool useKeptKey, std::string& signature) {
    CERTCertificate* cert = certificate.cert.get();
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
        // The token's state comes first: nothing is presented to a blocked card.
        PinState state = pinStateOf(slot.get());
        notePinState(id, state);
        if (needsLogin && state == PinState::Locked) {
            PR_SetError(SEC_ERROR_LOCKED_PASSWORD, 0);
            return KeyOutcome::Locked;
        }
        if (needsLogin && !refused) {
            if (!entry || entry->pin.empty()) {
                // Silent mode: the key needs user input that only the page can supply.
                cache.requirePin(id);
                PR_SetError(SEC_ERROR_TOKEN_NOT_LOGGED_IN, 0);
                return KeyOutcome::PinRequired;
            }
            // The card counts its tries per card: a PIN it refused for another certificate, origin or
            // engine is refused here without costing a try.
            RefusedPins& refusedPins = RefusedPins::process();
            const std::string token = tokenName(slot.get());
            const std::int64_t insertion = PK11_GetSlotSeries(slot.get());
            if (refusedPins.refused(token, insertion, entry->pin)) {
                cache.markRejected(id, false);
                refused = true;
            } else {
                presented = true;
                SECStatus checked = checkUserPassword(slot.get(), entry->pin);
                const PRErrorCode error = checked == SECSuccess ? 0 : PR_GetError();
                if (error == SEC_ERROR_BAD_PASSWORD) {
                    refused = true;
                    refusedPins.remember(token, insertion, entry->pin);
                } else if (error == SEC_ERROR_LOCKED_PASSWORD) {
                    refusedPins.blocked(token, insertion);
                } else if (checked == SECSuccess) {
                    refusedPins.accepted(token, insertion);
                }
                // The tries left changed with this attempt (a right PIN resets them).
                state = pinStateOf(slot.get());
                notePinState(id, state);
                if (error == SEC_ERROR_LOCKED_PASSWORD || (refused && state == PinState::Locked)) {
                    // This attempt blocked the card, or found it blocked.
                    if (refused) {
                        cache.markRejected(id);
                    }
                    PR_SetError(SEC_ERROR_LOCKED_PASSWORD, 0);
                    return KeyOutcome::Locked;
                }
                PR_SetError(error, 0);
            }
        }
        if (refused) {
            if (presented) {
                cache.markRejected(id);
            }
            PR_SetError(SEC_ERROR_BAD_PASSWORD, 0);
            return KeyOutcome::WrongPin;
        }
    } else {
        notePinState(id, PinState::Unknown);  // a key without a PIN
    }

    // A software key found for this certificate before, in the same state of the database and tokens:
    // the key lookup and the reading of its modulus length are skipped.
    NssDatabase* database = request.database();
    if (useKeptKey && software && database) {
        if (NssDatabase::KeptKey* kept = database->keptKey(id); kept && kept->certificate == &certificate) {
            return signDigestInfo(kept->key.get(), kept->signatureLength, hash, signature)
                       ? KeyOutcome::Signed
                       : KeyOutcome::KeptKeyFailed;
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
        const int length = PK11_SignatureLen(key.get());
        if (signDigestInfo(key.get(), length, hash, signature)) {
            outcome = KeyOutcome::Signed;
            if (software && database) {
                // Kept as a copy in the token's session memory: a key kept as a token object is read
                // again from the key database (some twenty locked reads) for every signature.
                PrivateKeyPtr session(PK11_CopyTokenPrivKeyToSessionPrivKey(slot.get(), key.get()));
                database->keepKey(id, {&certificate, session ? std::move(session) : std::move(key), length});
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
