#include "signature/platform/capi/DigitalSignatureUtilCAPI.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

#include "signature/HashAlgorithm.h"
#include "signature/PinCache.h"
#include "signature/RefusedPins.h"
#include "signature/platform/capi/CardMemory.h"

namespace {

constexpr DWORD kNameCapacity = 2048;
constexpr DWORD kSerialCapacity = 2048;
constexpr DWORD kCertificateCapacity = 20480;
constexpr DWORD kMaxHashOctets = 256;
constexpr DWORD kBase64Flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
constexpr DWORD kSignaturePin = 33;  // PP_SIGNATURE_PIN
constexpr DWORD kReaderNameCapacity = 512;
constexpr const wchar_t* kAesProvider = L"Microsoft Enhanced RSA and AES Cryptographic Provider";

ALG_ID algorithmId(HashAlgorithm algorithm) {
    switch (algorithm.id()) {
        case HashAlgorithm::Id::Md5:
            return CALG_MD5;
        case HashAlgorithm::Id::Sha1:
            return CALG_SHA1;
        case HashAlgorithm::Id::Sha256:
            return CALG_SHA_256;
        case HashAlgorithm::Id::Sha384:
            return CALG_SHA_384;
        case HashAlgorithm::Id::Sha512:
            return CALG_SHA_512;
    }
    return CALG_SHA_256;
}

std::string utf8(const wchar_t* text) {
    if (!text || !*text) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string out(static_cast<std::size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
    return out;
}

std::string hex(const BYTE* data, DWORD size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

template <typename F>
void forEachCertificate(const CapiFunctions& api, HCERTSTORE store, F&& f) {
    for (PCCERT_CONTEXT cert = api.certEnumCertificatesInStore(store, nullptr); cert;
         cert = api.certEnumCertificatesInStore(store, cert)) {
        if (!f(cert)) {
            return;  // the context still taken is freed by the forced close of the store
        }
    }
}

}  // namespace

// The CryptoAPI engine keeps nothing between requests.
void DigitalSignatureUtil::releaseSharedState() {}

std::unique_ptr<DigitalSignatureUtil> DigitalSignatureUtil::create() {
    return std::make_unique<DigitalSignatureUtilCAPI>();
}

DigitalSignatureUtilCAPI::DigitalSignatureUtilCAPI() : api_(&CapiFunctions::system()) {}

DigitalSignatureUtilCAPI::DigitalSignatureUtilCAPI(const CapiFunctions& api) : api_(&api) {}

void DigitalSignatureUtilCAPI::clearPins() {
    pinCache().clear();
    // The user starts over: a card that is still blocked says so again at the next PIN.
    CardMemory::forgetBlocked();
}

PinState DigitalSignatureUtilCAPI::readPinState(const std::string& moduleName) {
    const std::string card = CardMemory::cardOf(moduleName);
    if (!card.empty() && CardMemory::blocked(card)) {
        notePinState(moduleName, PinState::Locked);
    }
    return getPinState(moduleName);
}

DigitalSignatureUtilCAPI::CardKey DigitalSignatureUtilCAPI::cardKey(HCRYPTPROV provider,
                                                                    const CRYPT_KEY_PROV_INFO& record,
                                                                    const std::string& id) {
    std::string key = utf8(record.pwszProvName) + '\n';
    char reader[kReaderNameCapacity] = {};
    DWORD size = sizeof(reader) - 1;
    if (api_->cryptGetProvParam(provider, PP_SMARTCARD_READER, reinterpret_cast<BYTE*>(reader), &size, 0) &&
        reader[0] != '\0') {
        key += "reader " + std::string(reader, strnlen(reader, sizeof(reader)));
    } else {
        key += "container " + utf8(record.pwszContainerName);
    }
    BYTE guid[16] = {};
    size = sizeof(guid);
    const bool known = api_->cryptGetProvParam(provider, PP_SMARTCARD_GUID, guid, &size, 0) != FALSE;
    const std::string identity = known ? hex(guid, size) : std::string();
    CardMemory::seen(key, identity, id);
    return CardKey{key, CardMemory::insertion(identity)};
}

DigitalSignatureUtilCAPI::PinAnswer DigitalSignatureUtilCAPI::presentPin(HCRYPTPROV provider,
                                                                         const CardKey& card,
                                                                         const PinEntry& entry) {
    RefusedPins& refusedPins = RefusedPins::process();
    if (refusedPins.refused(card.key, card.insertion, entry.pin)) {
        return PinAnswer::RefusedBefore;  // typed again, maybe for another certificate of the same card
    }
    if (api_->cryptSetProvParam(provider, kSignaturePin, reinterpret_cast<const BYTE*>(entry.pin.c_str()),
                                0)) {
        return PinAnswer::Taken;
    }
    saveLastError();
    if (failure_ == static_cast<DWORD>(SCARD_W_WRONG_CHV)) {
        refusedPins.remember(card.key, card.insertion, entry.pin);
        return PinAnswer::Refused;
    }
    if (failure_ == static_cast<DWORD>(SCARD_W_CHV_BLOCKED)) {
        CardMemory::markBlocked(card.key);
        return PinAnswer::Blocked;
    }
    return PinAnswer::Taken;  // the provider's own failure; signing tells whether the card has the PIN
}

DigitalSignatureUtil::PlatformError DigitalSignatureUtilCAPI::lastPlatformError() const {
    PlatformError error;
    error.code = static_cast<std::int32_t>(failure_);
    char text[2048];
    const DWORD length =
        api_->formatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, failure_,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
    if (length > 0) {
        error.message.assign(text, length);
    }
    return error;
}

bool DigitalSignatureUtilCAPI::softwareProvider(const wchar_t* providerName) {
    return providerName && std::wcsstr(providerName, L"Microsoft") &&
           !std::wcsstr(providerName, L"Smart Card");
}

std::string DigitalSignatureUtilCAPI::utf8ToAnsiCodePage(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    const int size = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wideLength <= 0) {
        return text;
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return text;
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, out.data(), length, nullptr, nullptr);
    return out;
}

StoreHandle DigitalSignatureUtilCAPI::openStore(const wchar_t* name) {
    StoreHandle store(api_->certOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                          CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, name),
                      CloseStore{api_});
    if (!store) {
        saveLastError();
    }
    return store;
}

std::string DigitalSignatureUtilCAPI::nameToText(const CERT_NAME_BLOB& name) const {
    char text[kNameCapacity];
    CERT_NAME_BLOB copy = name;
    const DWORD length =
        api_->certNameToStrA(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR, text, kNameCapacity);
    return length > 1 ? std::string(text, length - 1) : std::string();
}

bool DigitalSignatureUtilCAPI::hasNonRepudiationKey(PCCERT_CONTEXT cert) const {
    BYTE usage[2] = {0, 0};
    if (!api_->certGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, usage, sizeof(usage))) {
        return false;
    }
    if (!(usage[0] & CERT_NON_REPUDIATION_KEY_USAGE)) {
        return false;
    }
    DWORD size = 0;
    return api_->certGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) != FALSE;
}

std::string DigitalSignatureUtilCAPI::base64(const BYTE* data, DWORD size, DWORD capacity) {
    std::string text(capacity, '\0');
    DWORD length = capacity;
    if (!api_->cryptBinaryToStringA(data, size, kBase64Flags, text.data(), &length)) {
        saveLastError();
        return {};
    }
    text.resize(length);
    return text;
}

std::optional<DigitalSignatureUtilCAPI::CertificateIdentifier>
DigitalSignatureUtilCAPI::parseCertificateIdentifier(const std::string& id) {
    const std::size_t dash = id.rfind('-');
    if (dash == std::string::npos) {
        failure_ = ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    const std::string serialText = id.substr(dash + 1);
    std::vector<std::uint8_t> serial(kSerialCapacity);
    DWORD size = kSerialCapacity;
    const BOOL decoded =
        api_->cryptStringToBinaryA(serialText.c_str(), static_cast<DWORD>(serialText.size()),
                                   CRYPT_STRING_BASE64, serial.data(), &size, nullptr, nullptr);
    if (!decoded) {
        saveLastError();
    } else if (size == 0) {
        // The empty text decodes to nothing, and no certificate has an empty serial.
        failure_ = ERROR_INVALID_DATA;
    }
    if (!decoded || size == 0) {
        setErrorCode(ErrorCode::InvalidEncoding);
        captureLowLevelError();
        return std::nullopt;
    }
    serial.resize(size);
    return CertificateIdentifier{id.substr(0, dash), std::move(serial)};
}

bool DigitalSignatureUtilCAPI::matchesIdentifier(PCCERT_CONTEXT cert, const CertificateIdentifier& id) const {
    const CRYPT_INTEGER_BLOB& serial = cert->pCertInfo->SerialNumber;
    return serial.cbData == id.serial.size() &&
           std::equal(id.serial.begin(), id.serial.end(), serial.pbData) &&
           issuerTextMatches(nameToText(cert->pCertInfo->Issuer), id.issuer);
}

NameAttributesList DigitalSignatureUtilCAPI::expandCaSubjectNames(std::string caSubjectNames) {
    setErrorCode(ErrorCode::None);
    NameAttributesList list = parseNameList(utf8ToAnsiCodePage(caSubjectNames));

    // Known authorities: subject text to parsed issuer, "Root" first and then "CA", later ones winning.
    std::map<std::string, NameAttributes> known;
    for (const wchar_t* storeName : {L"Root", L"CA"}) {
        StoreHandle store = openStore(storeName);
        if (!store) {
            setErrorCode(ErrorCode::OperationFailed);
            captureLowLevelError();
            return list;
        }
        forEachCertificate(*api_, store.get(), [&](PCCERT_CONTEXT cert) {
            known[nameToText(cert->pCertInfo->Subject)] =
                parseDistinguishedName(nameToText(cert->pCertInfo->Issuer));
            return true;
        });
    }

    // Closure: the first authority (in map order) issued by a listed name adds its subject, unless it is
    // that name itself; it leaves the known authorities and the walk starts again.
    for (bool appended = true; appended;) {
        appended = false;
        for (auto it = known.begin(); it != known.end() && !appended; ++it) {
            for (std::size_t i = 0; i < list.size(); ++i) {
                if (!namesEqual(list[i], it->second)) {
                    continue;
                }
                NameAttributes subject = parseDistinguishedName(it->first);
                if (namesEqual(subject, list[i])) {
                    continue;  // self-signed
                }
                list.push_back(std::move(subject));
                known.erase(it);
                appended = true;
                break;
            }
        }
    }
    return list;
}

std::string DigitalSignatureUtilCAPI::getDigitalSignatureCertificates(std::string caSubjectNames) {
    setErrorCode(ErrorCode::None);
    std::string result;
    const NameAttributesList authorities = expandCaSubjectNames(std::move(caSubjectNames));
    if (errorCode() != ErrorCode::None) {
        return result;
    }
    StoreHandle store = openStore(L"My");
    if (!store) {
        setErrorCode(ErrorCode::OperationFailed);
        captureLowLevelError();
        return result;
    }
    // The CA names as a set: each certificate's issuer is looked up, not compared with every name.
    const NameAttributesSet accepted(authorities.begin(), authorities.end());
    SYSTEMTIME systemTime{};
    FILETIME now{};
    api_->getSystemTime(&systemTime);
    api_->systemTimeToFileTime(&systemTime, &now);

    forEachCertificate(*api_, store.get(), [&](PCCERT_CONTEXT cert) {
        const CERT_INFO& info = *cert->pCertInfo;
        if (api_->compareFileTime(&info.NotBefore, &now) != -1 ||
            api_->compareFileTime(&info.NotAfter, &now) != 1) {
            return true;
        }
        if (!hasNonRepudiationKey(cert)) {
            return true;
        }
        const std::string issuer = nameToText(info.Issuer);
        if (!issuerInSet(accepted, parseDistinguishedName(issuer))) {
            return true;
        }
        const std::string serial =
            base64(info.SerialNumber.pbData, info.SerialNumber.cbData, kSerialCapacity);
        const std::string issuerField = listingField(issuer);
        if (!result.empty()) {
            result += '|';
        }
        result += issuerField;
        result += '|';
        result += listingField(nameToText(info.Subject));
        result += '|';
        result += issuerField;
        result += '-';
        result += serial;
        return true;
    });
    return result;
}

std::string DigitalSignatureUtilCAPI::getCertificate(std::string id) {
    setErrorCode(ErrorCode::None);
    failure_ = 0;
    std::string result;
    if (auto parsed = parseCertificateIdentifier(id)) {
        StoreHandle store = openStore(L"My");
        if (!store) {
            setErrorCode(ErrorCode::OperationFailed);
        } else {
            bool found = false;
            forEachCertificate(*api_, store.get(), [&](PCCERT_CONTEXT cert) {
                if (!matchesIdentifier(cert, *parsed)) {
                    return true;
                }
                found = true;
                result = base64(cert->pbCertEncoded, cert->cbCertEncoded, kCertificateCapacity);
                if (result.empty()) {
                    setErrorCode(ErrorCode::OperationFailed);  // larger than the certificate buffer
                }
                return false;
            });
            if (!found) {
                saveLastError();  // the end of the enumeration
            }
        }
    }
    if (result.empty() && errorCode() == ErrorCode::None) {
        setErrorCode(ErrorCode::CertificateNotFound);
    }
    captureLowLevelError();
    return result;
}

std::optional<DigitalSignatureUtil::SignatureSummary> DigitalSignatureUtilCAPI::describeSignature(
    std::string id, std::string data) {
    setErrorCode(ErrorCode::None);
    failure_ = 0;
    bool identified = false;
    std::optional<SignatureSummary> summary;
    std::vector<BYTE> hash(kMaxHashOctets, 0);
    DWORD hashSize = kMaxHashOctets;
    const BOOL decoded =
        api_->cryptStringToBinaryA(data.c_str(), static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64,
                                   hash.data(), &hashSize, nullptr, nullptr);
    if (!decoded) {
        saveLastError();
    }
    hash.resize(decoded ? hashSize : 0);
    const std::string algorithm = hashAlgorithmName(hash.size());
    if (algorithm.empty()) {
        if (decoded) {
            failure_ = ERROR_INVALID_DATA;
        }
        setErrorCode(ErrorCode::InvalidEncoding);
    } else if (auto parsed = parseCertificateIdentifier(id)) {
        identified = true;
        StoreHandle store = openStore(L"My");
        if (!store) {
            setErrorCode(ErrorCode::OperationFailed);
        } else {
            forEachCertificate(*api_, store.get(), [&](PCCERT_CONTEXT cert) {
                if (!matchesIdentifier(cert, *parsed)) {
                    return true;
                }
                summary =
                    SignatureSummary{nameToText(cert->pCertInfo->Subject),
                                     nameToText(cert->pCertInfo->Issuer), algorithm, hexText(hash), false};
                // Only the key provider record is read: a card provider gets its PIN with every signature.
                DWORD size = 0;
                if (api_->certGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                            &size)) {
                    std::vector<BYTE> record(size);
                    if (api_->certGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID,
                                                                record.data(), &size)) {
                        const auto& info = *reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(record.data());
                        summary->needsPin = !softwareProvider(info.pwszProvName);
                    }
                }
                return false;
            });
            if (!summary) {
                saveLastError();  // the end of the enumeration
            }
        }
    }
    if (!summary) {
        // Not in the store, or an identifier that does not parse: refused as signPkcs1 refuses it.
        if (errorCode() == ErrorCode::None) {
            setErrorCode(identified ? ErrorCode::CertificateNotFound : ErrorCode::OperationFailed);
        }
        captureLowLevelError();
    }
    return summary;
}

std::string DigitalSignatureUtilCAPI::signPkcs1(std::string id, std::string data) {
    setErrorCode(ErrorCode::None);
    failure_ = 0;
    std::string result;
    // The hash sits at the start of a zeroed buffer: a provider reads its algorithm's length from it.
    std::vector<BYTE> hash(kMaxHashOctets, 0);
    DWORD hashSize = kMaxHashOctets;
    const BOOL decoded =
        api_->cryptStringToBinaryA(data.c_str(), static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64,
                                   hash.data(), &hashSize, nullptr, nullptr);
    if (!decoded || hashSize == 0) {
        // The system decodes the empty text into no octets; an empty hash is no hash.
        if (decoded) {
            failure_ = ERROR_INVALID_DATA;
        } else {
            saveLastError();
        }
        setErrorCode(ErrorCode::InvalidEncoding);
    } else if (!HashAlgorithm::forLength(hashSize)) {
        // No digest algorithm has this length; refused before any key is opened.
        failure_ = static_cast<DWORD>(NTE_BAD_LEN);
        setErrorCode(ErrorCode::InvalidEncoding);
    } else if (auto parsed = parseCertificateIdentifier(id)) {
        StoreHandle store = openStore(L"My");
        if (store) {
            bool found = false;
            forEachCertificate(*api_, store.get(), [&](PCCERT_CONTEXT cert) {
                if (!matchesIdentifier(cert, *parsed)) {
                    return true;
                }
                found = true;
                result = signWithKey(cert, id, std::vector<BYTE>(hash.begin(), hash.begin() + hashSize));
                return false;
            });
            if (!found) {
                saveLastError();
                if (errorCode() == ErrorCode::None) {
                    setErrorCode(ErrorCode::CertificateNotFound);
                }
            }
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

std::string DigitalSignatureUtilCAPI::signWithKey(PCCERT_CONTEXT cert, const std::string& id,
                                                  const std::vector<BYTE>& hash) {
    // The key provider record.
    DWORD recordSize = 0;
    if (!api_->certGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &recordSize)) {
        saveLastError();
        return {};
    }
    std::vector<BYTE> recordBuffer(recordSize);
    if (!api_->certGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, recordBuffer.data(),
                                                 &recordSize)) {
        saveLastError();
        return {};
    }
    const auto& record = *reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(recordBuffer.data());

    // A software key opens with its record's provider type (the AES provider refuses any other); a card key
    // opens silently, as the RSA full type, so that it never prompts.
    const bool software = softwareProvider(record.pwszProvName);
    const DWORD providerType = software && record.dwProvType != 0 ? record.dwProvType : PROV_RSA_FULL;
    ProviderHandle provider(ReleaseContext{api_});
    if (!api_->cryptAcquireContextW(provider.receive(), record.pwszContainerName, record.pwszProvName,
                                    providerType, software ? 0 : CRYPT_SILENT)) {
        saveLastError();
        return {};
    }

    // A card that reported itself blocked is sent nothing more: no PIN, no signature.
    CardKey card;
    if (!software) {
        card = cardKey(provider.get(), record, id);
        notePinState(id, PinState::Unknown);
        if (CardMemory::blocked(card.key)) {
            notePinState(id, PinState::Locked);
            failure_ = static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
            return {};
        }
    }

    // An older Microsoft software provider lacks the SHA-2 algorithms; the same container opens with the
    // AES one.
    const ALG_ID algorithm = algorithmId(*HashAlgorithm::forLength(hash.size()));
    std::vector<BYTE> value(kMaxHashOctets, 0);
    std::copy(hash.begin(), hash.end(), value.begin());
    HashHandle hashObject(DestroyHash{api_});
    if (!api_->cryptCreateHash(provider.get(), algorithm, 0, 0, hashObject.receive())) {
        saveLastError();
        const bool aesAlready = providerType == PROV_RSA_AES && record.pwszProvName &&
                                std::wcscmp(record.pwszProvName, kAesProvider) == 0;
        if (!software || failure_ != static_cast<DWORD>(NTE_BAD_ALGID) || aesAlready) {
            return {};
        }
        if (!api_->cryptAcquireContextW(provider.receive(), record.pwszContainerName, kAesProvider,
                                        PROV_RSA_AES, 0)) {
            saveLastError();
            return {};
        }
        if (!api_->cryptCreateHash(provider.get(), algorithm, 0, 0, hashObject.receive())) {
            saveLastError();
            return {};
        }
    }
    if (!api_->cryptSetHashParam(hashObject.get(), HP_HASHVAL, value.data(), 0)) {
        saveLastError();
        return {};
    }

    // A card key gets the cached PIN, unless the card already refused that very PIN, for this certificate
    // or another of its own.
    bool presented = false;
    bool refused = false;
    bool rejectedBefore = false;
    bool blocked = false;
    PinCache& cache = pinCache();
    if (!software) {
        if (const PinEntry* entry = cache.find(id)) {
            rejectedBefore = entry->rejected;
            if (!entry->rejected && !entry->pin.empty()) {
                const PinAnswer answer = presentPin(provider.get(), card, *entry);
                presented = answer != PinAnswer::RefusedBefore;
                refused = answer == PinAnswer::Refused || answer == PinAnswer::RefusedBefore;
                blocked = answer == PinAnswer::Blocked;
            }
        }
    }
    refused = refused || rejectedBefore;

    std::string result;
    DWORD signError = 0;
    if (!refused && !blocked) {
        DWORD size = 0;
        std::vector<BYTE> signature;
        bool signedHash =
            api_->cryptSignHashA(hashObject.get(), record.dwKeySpec, nullptr, 0, nullptr, &size);
        if (signedHash) {
            signature.resize(size);
            signedHash =
                api_->cryptSignHashA(hashObject.get(), record.dwKeySpec, nullptr, 0, signature.data(), &size);
        }
        if (!signedHash) {
            saveLastError();
            signError = failure_;
        } else {
            signature.resize(size);
            std::reverse(signature.begin(), signature.end());  // the system gives least significant first
            result = base64(signature.data(), size, 2 * size);
        }
    }

    if (result.empty()) {
        if (refused) {
            // A PIN the card refused now, or refused before for another of its certificates, marks this
            // certificate's entry (counted only when it reached the card); one it had already rejected
            // changes nothing.
            if (!rejectedBefore) {
                cache.markRejected(id, presented);
            }
            if (!presented) {
                failure_ = static_cast<DWORD>(SCARD_W_WRONG_CHV);  // the card's earlier refusal of this PIN
            }
            setErrorCode(ErrorCode::WrongPin);
        } else if (signError == static_cast<DWORD>(NTE_SILENT_CONTEXT)) {
            setErrorCode(ErrorCode::PinRequired);
            cache.requirePin(id);
        } else if (signError == static_cast<DWORD>(SCARD_W_CHV_BLOCKED)) {
            CardMemory::markBlocked(card.key);
        }
    } else if (presented) {
        RefusedPins::process().accepted(card.key, card.insertion);
    }
    if (software) {
        notePinState(id, PinState::Unknown);  // a key without a PIN
    } else if (CardMemory::blocked(card.key)) {
        notePinState(id, PinState::Locked);
    }

    // The PIN leaves the context before the hash and the context are released.
    if (presented && !refused && !blocked) {
        api_->cryptSetProvParam(provider.get(), kSignaturePin, nullptr, 0);
    }
    hashObject.reset();
    provider.reset();
    return result;
}
