#include "plugin/KorvaneAPI.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "plugin/Korvane.h"
#include "plugin/PluginIdentity.h"

#include "signature/DigitalSignatureUtil.h"
#include "signature/PinCache.h"

namespace {

// One count for every API object in the process: the first "echo" anywhere reports 0.
std::atomic<int> echoCounter{0};

constexpr const char* kEchoText = "So far, you clicked this many times: ";
constexpr const char* kCaSubjectNamesParam = "CaSubjectNames";

std::unique_ptr<DigitalSignatureUtil> makePlatformEngine() {
    return DigitalSignatureUtil::create();
}

struct EngineMakerSlot {
    std::mutex lock;
    KorvaneAPI::EngineMaker maker;
};

EngineMakerSlot& engineMakerSlot() {
    static EngineMakerSlot slot;
    return slot;
}

void wipeText(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 'X';
}

// Listing text that pages can show as it is: every byte outside 0x20-0x7F becomes a blank, the length
// stays the same.
std::string printableBytes(const std::string& text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7F)
            c = ' ';
    }
    return out;
}

}  // namespace

void KorvaneAPI::setEngineMaker(EngineMaker maker) {
    EngineMakerSlot& slot = engineMakerSlot();
    std::lock_guard lock(slot.lock);
    slot.maker = std::move(maker);
}

KorvaneAPI::KorvaneAPI(const std::shared_ptr<Korvane>& plugin, const FB::BrowserHostPtr& host)
    : FB::JSAPIAuto("<JSAPI-Auto Javascript Object>"),
      plugin_(plugin),
      host_(host),
      pinOrigin_(plugin ? plugin->pinOrigin() : std::string()) {
    registerMembers();
}

KorvaneAPI::~KorvaneAPI() {
    engine_.reset();
    // A page may keep this object after its instance went; an origin of that instance's own is then
    // let go with the last of them.
    if (plugin_.expired() && Korvane::isUnnamedOrigin(pinOrigin_))
        PinCache::dropOrigin(pinOrigin_);
}

void KorvaneAPI::registerMembers() {
    using FB::bindMethod;
    using FB::bindProperty;
    addMethod("echo", bindMethod(this, &KorvaneAPI::echo));
    addMethod("testEvent", bindMethod(this, &KorvaneAPI::testEvent));
    addMethod("getDigitalSignatureCertificates",
              bindMethod(this, &KorvaneAPI::getDigitalSignatureCertificates));
    addMethod("getCertificate", bindMethod(this, &KorvaneAPI::getCertificate));
    addMethod("signPkcs1", bindMethod(this, &KorvaneAPI::signPkcs1));
    addMethod("processPinChar", bindMethod(this, &KorvaneAPI::processPinChar));
    addMethod("deletePinChar", bindMethod(this, &KorvaneAPI::deletePinChar));

    addProperty("testString", bindProperty(this, &KorvaneAPI::testString, &KorvaneAPI::setTestString));
    addProperty("version", bindProperty(this, &KorvaneAPI::version));
    addProperty("pin", FB::PropertyFunctors{[this] { return FB::variant(pin()); },
                                            [this](const FB::variant& value) { setPinValue(value); }});
    addProperty("lastError", bindProperty(this, &KorvaneAPI::lastError));
    addProperty("lastLowLevelError", bindProperty(this, &KorvaneAPI::lastLowLevelError));
    addProperty("lastErrorMessage", bindProperty(this, &KorvaneAPI::lastErrorMessage));
    addProperty("pinLength", bindProperty(this, &KorvaneAPI::pinLength));
    addProperty("isPinMissing", bindProperty(this, &KorvaneAPI::isPinMissing));
    addProperty("isPinInvalid", bindProperty(this, &KorvaneAPI::isPinInvalid));
    addProperty("pinModuleName", bindProperty(this, &KorvaneAPI::pinModuleName));
    addProperty("pinRetryCount", bindProperty(this, &KorvaneAPI::pinRetryCount));
    addProperty("pinState", bindProperty(this, &KorvaneAPI::pinState));
}

FB::variant KorvaneAPI::echo(const FB::variant& message) {
    const int count = echoCounter.fetch_add(1);
    // The event's arguments are built only for someone to receive them.
    if (hasListenersFor("onecho")) {
        fireEvent("onecho", FB::VariantList{FB::variant(kEchoText), FB::variant(count)});
    }
    return message;
}

void KorvaneAPI::testEvent() {
    fireEvent("ontest", FB::VariantList{});
}

std::string KorvaneAPI::getDigitalSignatureCertificates() {
    DigitalSignatureUtil& util = engine();
    handOverPin();
    const std::string caSubjectNames = paramValue(kCaSubjectNamesParam);
    std::string listing = printableBytes(util.getDigitalSignatureCertificates(caSubjectNames));
    refreshPinState();
    copyErrors();
    return listing;
}

std::string KorvaneAPI::getCertificate(const std::string& id) {
    DigitalSignatureUtil& util = engine();
    handOverPin();
    std::string certificate = util.getCertificate(id);
    refreshPinState();
    copyErrors();
    return certificate;
}

std::string KorvaneAPI::signPkcs1(const std::string& id, const std::string& data) {
    DigitalSignatureUtil& util = engine();
    handOverPin();
    std::string signature = util.signPkcs1(id, data);
    refreshPinState(id);
    refreshCardState(id);
    copyErrors();
    return signature;
}

std::optional<FB::ConfirmedSigner::Summary> KorvaneAPI::describeSignature(const std::string& id,
                                                                          const std::string& data) {
    DigitalSignatureUtil& util = engine();
    auto described = util.describeSignature(id, data);
    copyErrors();
    if (!described)
        return std::nullopt;
    return Summary{
        std::move(described->subject), std::move(described->issuer), std::move(described->algorithm),
        std::move(described->hashHex), described->needsPin,          pinStateText(util.readPinState(id))};
}

std::string KorvaneAPI::signOnce(const std::string& id, const std::string& data, std::string& pin) {
    // However the call ends: the caller's PIN is overwritten, and the engine forgets the PIN it accepted
    // and logs the token out.
    struct PinWipe {
        std::string& text;
        ~PinWipe() { wipeText(text); }
    } wipe{pin};
    DigitalSignatureUtil& util = engine();
    struct SignatureEnd {
        DigitalSignatureUtil& util;
        const std::string& id;
        ~SignatureEnd() { util.endSignature(id); }
    } end{util, id};
    if (!pin.empty())
        util.setPin(id, pin);
    std::string signature = util.signPkcs1(id, data);
    refreshPinState(id);
    refreshCardState(id);
    copyErrors();
    return signature;
}

void KorvaneAPI::processPinChar(char c) {
    pinBuffer_.append(c);
}

void KorvaneAPI::deletePinChar() {
    pinBuffer_.removeLast();
}

std::string KorvaneAPI::version() const {
    return PluginIdentity::kVersion;
}

namespace {

// Overwrites the text of the given variants when it goes out of scope. The variants belong to the
// caller (the bridge's argument list or converted value), which releases them right after the call.
class PayloadWipe {
  public:
    explicit PayloadWipe(const FB::VariantList& values)
        : begin_(values.data()), end_(begin_ + values.size()) {}
    explicit PayloadWipe(const FB::variant& value) : begin_(&value), end_(begin_ + 1) {}
    PayloadWipe(const PayloadWipe&) = delete;
    PayloadWipe& operator=(const PayloadWipe&) = delete;
    ~PayloadWipe() {
        for (const FB::variant* v = begin_; v != end_; ++v)
            const_cast<FB::variant*>(v)->overwriteText();  // the caller's own, non-const storage
    }

  private:
    const FB::variant* begin_;
    const FB::variant* end_;
};

}  // namespace

FB::variant KorvaneAPI::invoke(const std::string& name, const FB::VariantList& args) {
    if (name != "processPinChar")
        return FB::JSAPIAuto::invoke(name, args);
    PayloadWipe wipe(args);
    return FB::JSAPIAuto::invoke(name, args);
}

void KorvaneAPI::setProperty(const std::string& name, const FB::variant& value) {
    if (name != "pin") {
        FB::JSAPIAuto::setProperty(name, value);
        return;
    }
    PayloadWipe wipe(value);
    FB::JSAPIAuto::setProperty(name, value);
}

void KorvaneAPI::setPinValue(const FB::variant& value) {
    if (const auto* text = value.peek<std::string>()) {
        setPin(*text);
        return;
    }
    // Numbers and wide text: one converted copy, overwritten before it goes.
    std::string converted = value.convert<std::string>();
    try {
        setPin(converted);
    } catch (...) {
        wipeText(converted);
        throw;
    }
    wipeText(converted);
}

void KorvaneAPI::setPin(const std::string& value) {
    pinBuffer_.assign(value);
    if (value.empty()) {
        // Forget every PIN of this page's origin, and start over with a fresh engine next time.
        engine().clearPins();
        engine_.reset();
    }
}

std::int32_t KorvaneAPI::pinRetryCount() {
    return engine().getPinRetryCount(pinModuleName_);
}

DigitalSignatureUtil& KorvaneAPI::engine() {
    if (!engine_) {
        EngineMaker maker;
        {
            EngineMakerSlot& slot = engineMakerSlot();
            std::lock_guard lock(slot.lock);
            maker = slot.maker;
        }
        engine_ = maker ? maker() : makePlatformEngine();
        engine_->setPinOrigin(pinOrigin_);
    }
    return *engine_;
}

void KorvaneAPI::handOverPin() {
    if (pinModuleName_.empty() || pinBuffer_.empty())
        return;
    engine_->setPin(pinModuleName_, pinBuffer_.text());
    pinBuffer_.clear();
}

void KorvaneAPI::refreshPinState(const std::string& callModule) {
    auto names = [&callModule](const std::vector<std::string>& modules) {
        return !callModule.empty() && std::find(modules.begin(), modules.end(), callModule) != modules.end();
    };
    // The PIN the page types next must go to the certificate that just asked for it.
    if (names(engine_->getModulesWithInvalidPin())) {
        pinModuleName_ = callModule;
        pinMissing_ = false;
        pinInvalid_ = true;
        return;
    }
    if (names(engine_->getModulesWithoutPin())) {
        pinModuleName_ = callModule;
        pinMissing_ = true;
        pinInvalid_ = false;
        return;
    }
    // Otherwise a rejected PIN is reported before a missing one, and only one module at a time.
    if (engine_->isPinInvalid()) {
        const auto modules = engine_->getModulesWithInvalidPin();
        pinModuleName_ = modules.empty() ? std::string() : modules.front();
        pinMissing_ = false;
        pinInvalid_ = true;
    } else if (engine_->isPinMissing()) {
        const auto modules = engine_->getModulesWithoutPin();
        pinModuleName_ = modules.empty() ? std::string() : modules.front();
        pinMissing_ = true;
        pinInvalid_ = false;
    } else {
        pinMissing_ = false;
        pinInvalid_ = false;
        pinModuleName_.clear();
    }
}

void KorvaneAPI::refreshCardState(const std::string& id) {
    // What the signature read of the token; asked afresh when it did not reach the token.
    PinState state = engine_->getPinState(id);
    if (state == PinState::Unknown)
        state = engine_->readPinState(id);
    pinState_ = pinStateText(state);
}

void KorvaneAPI::copyErrors() {
    lastError_ = engine_->getLastError();
    lastLowLevelError_ = engine_->getLastLowLevelError();
    lastErrorMessage_ = engine_->getLastErrorMessage();
}

std::string KorvaneAPI::paramValue(const std::string& name) const {
    auto plugin = plugin_.lock();
    if (!plugin)
        return {};
    return plugin->paramValue(name).value_or(std::string());
}
