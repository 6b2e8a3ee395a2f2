#include "signature/DigitalSignatureUtil.h"

#include <algorithm>

#include "signature/HashAlgorithm.h"
#include "signature/PinCache.h"

namespace {
// Labels that name the X.500 serialNumber attribute: the localized Windows labels (the accented letter
// either as the single Windows-1252 byte 0xFA or in UTF-8, as page parameters arrive) and the OID form.
bool isSerialNumberAlias(const std::string& key) {
    return key == "identificador de objeto (2 5 4 5)" || key == "n\xFAmero de serie" ||
           key == "n\xC3\xBAmero de serie" || key == "oid.2.5.4.5";
}

std::string applyKeyAlias(std::string key) {
    if (isSerialNumberAlias(key)) {
        return "serialnumber";
    }
    if (key == "s") {
        return "st";
    }
    return key;
}

// A byte as the page sees it in a listing field.
char pageByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 || byte > 0x7F || c == '|') ? ' ' : c;
}
}  // namespace

DigitalSignatureUtil::~DigitalSignatureUtil() = default;

void DigitalSignatureUtil::captureLowLevelError() {
    PlatformError error = lastPlatformError();
    lowLevelError_ = error.code;
    errorMessage_ = std::move(error.message);
}

PinCache& DigitalSignatureUtil::pinCache() const {
    return PinCache::forOrigin(pinOrigin_);
}

void DigitalSignatureUtil::setPin(const std::string& moduleName, const std::string& pin) {
    PinCache& cache = pinCache();
    cache.setPin(moduleName, pin);
    const PinEntry* entry = cache.find(moduleName);
    // Handing the same refused PIN again changes nothing, as for a PIN the token refused.
    if (pin.find('\0') != std::string::npos && entry != nullptr && !entry->rejected) {
        cache.markRejected(moduleName);
    }
}

void DigitalSignatureUtil::endSignature(const std::string& id) {
    pinCache().forgetAccepted(id);
}

std::string DigitalSignatureUtil::hashAlgorithmName(std::size_t octets) {
    const auto algorithm = HashAlgorithm::forLength(octets);
    return algorithm ? algorithm->name() : std::string();
}

std::string DigitalSignatureUtil::hexText(const std::vector<std::uint8_t>& octets) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * octets.size());
    for (std::uint8_t octet : octets) {
        out += kDigits[octet >> 4];
        out += kDigits[octet & 0x0F];
    }
    return out;
}

bool DigitalSignatureUtil::isPinMissing() const {
    return pinCache().anyMissing();
}

bool DigitalSignatureUtil::isPinInvalid() const {
    return pinCache().anyRejected();
}

std::vector<std::string> DigitalSignatureUtil::getModulesWithoutPin() const {
    return pinCache().modulesWithoutPin();
}

std::vector<std::string> DigitalSignatureUtil::getModulesWithInvalidPin() const {
    return pinCache().modulesWithInvalidPin();
}

std::int32_t DigitalSignatureUtil::getPinRetryCount(std::string moduleName) const {
    return pinCache().retryCount(moduleName);
}

PinState DigitalSignatureUtil::getPinState(const std::string& moduleName) const {
    auto it = pinStates_.find(moduleName);
    return it == pinStates_.end() ? PinState::Unknown : it->second;
}

std::string DigitalSignatureUtil::normalizeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool spacePending = false;
    for (char c : text) {
        if (c == ' ') {
            spacePending = !out.empty();
            continue;
        }
        if (spacePending) {
            out += ' ';
            spacePending = false;
        }
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

NameAttributes DigitalSignatureUtil::parseDistinguishedName(std::string_view text) {
    NameAttributes attributes;
    std::string accumulator;
    std::string key;
    for (char c : text) {
        if (c == '=') {
            key = applyKeyAlias(normalizeText(accumulator));
            accumulator.clear();
        } else if (c == ',') {
            attributes[key] = normalizeText(accumulator);
            accumulator.clear();
        } else {
            accumulator += c;
        }
    }
    attributes[key] = normalizeText(accumulator);
    return attributes;
}

NameAttributesList DigitalSignatureUtil::parseNameList(std::string_view text) {
    NameAttributesList list;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = text.find('|', start);
        const std::string_view piece =
            text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        if (!normalizeText(piece).empty()) {
            list.push_back(parseDistinguishedName(piece));
        }
        if (bar == std::string_view::npos) {
            break;
        }
        start = bar + 1;
    }
    return list;
}

bool DigitalSignatureUtil::namesEqual(const NameAttributes& a, const NameAttributes& b) {
    if (a.size() != b.size()) {
        return false;
    }
    return std::all_of(a.begin(), a.end(), [&b](const auto& entry) {
        auto it = b.find(entry.first);
        return it != b.end() && it->second == entry.second;
    });
}

bool DigitalSignatureUtil::issuerInList(const NameAttributesList& list, const NameAttributes& name) {
    return std::any_of(list.begin(), list.end(),
                       [&name](const NameAttributes& member) { return namesEqual(name, member); });
}

std::string DigitalSignatureUtil::listingField(std::string_view text) {
    std::string field(text);
    std::replace(field.begin(), field.end(), '|', ' ');
    return field;
}

std::string DigitalSignatureUtil::pageForm(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), pageByte);
    return out;
}

bool DigitalSignatureUtil::issuerTextMatches(std::string_view certificateIssuer,
                                             std::string_view identifierIssuer) {
    if (certificateIssuer.size() != identifierIssuer.size()) {
        return false;
    }
    for (std::size_t i = 0; i < certificateIssuer.size(); ++i) {
        const char c = certificateIssuer[i];
        if (identifierIssuer[i] != c && identifierIssuer[i] != pageByte(c)) {
            return false;
        }
    }
    return true;
}
