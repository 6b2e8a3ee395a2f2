#pragma once

// An engine whose answers the test writes: fixed texts, a chosen error state, and a hook that can change
// the PIN cache the way a card would. Every engine made by the maker shares one Script.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/KorvaneAPI.h"
#include "signature/Base64.h"
#include "signature/DigitalSignatureUtil.h"
#include "signature/PinCache.h"

namespace plugintest {

struct Script {
    std::string listing;
    std::string certificate;
    std::string signature;
    bool needsPin = false;  // what a description tells of the key
    ErrorCode error = ErrorCode::None;
    std::int32_t lowLevelError = 0;
    std::string message;
    bool throwOnCall = false;
    std::function<void()> duringCall;  // runs inside each engine operation
    std::function<void()> onDestroy;
    // When set, signing acts as a card with this PIN, on the PIN cache of the engine's origin: it asks
    // for a PIN it lacks, refuses a wrong one (once per PIN), and signs with the right one.
    std::string cardPin;
    // What the card's token says of its PIN, as signing reads it.
    PinState pinState = PinState::Unknown;

    // What the engines saw.
    // "list:<filter>", "cert:<id>", "sign:<id>|<data>", "describe:<id>|<data>", "clearPins"
    std::vector<std::string> calls;
    int made = 0;
    int alive = 0;
};

class ScriptedEngine : public DigitalSignatureUtil {
  public:
    explicit ScriptedEngine(std::shared_ptr<Script> script) : script_(std::move(script)) {
        ++script_->made;
        ++script_->alive;
    }
    ~ScriptedEngine() override {
        --script_->alive;
        if (script_->onDestroy)
            script_->onDestroy();
    }

    std::string getDigitalSignatureCertificates(std::string filter) override {
        return answer("list:" + filter, script_->listing);
    }
    NameAttributesList expandCaSubjectNames(std::string) override { return {}; }
    std::string getCertificate(std::string id) override { return answer("cert:" + id, script_->certificate); }
    std::string signPkcs1(std::string id, std::string data) override {
        if (script_->pinState != PinState::Unknown)
            notePinState(id, script_->pinState);
        if (!script_->cardPin.empty() && !cardAccepts(id)) {
            script_->calls.push_back("sign:" + id + "|" + data);
            return {};
        }
        return answer("sign:" + id + "|" + data, script_->signature);
    }
    std::optional<SignatureSummary> describeSignature(std::string id, std::string data) override {
        answer("describe:" + id + "|" + data, {});
        const auto hash = Base64::decode(data, 256);
        const std::string algorithm = hash ? hashAlgorithmName(hash->size()) : std::string();
        if (getLastError() != 0 || algorithm.empty()) {
            setErrorCode(getLastError() != 0 ? errorCode() : ErrorCode::InvalidEncoding);
            return std::nullopt;
        }
        return SignatureSummary{"CN=Subject of " + id, "CN=Issuer", algorithm, hexText(*hash),
                                script_->needsPin};
    }
    void clearPins() override {
        script_->calls.push_back("clearPins");
        pinCache().clear();
    }

  protected:
    PlatformError lastPlatformError() const override { return {script_->lowLevelError, script_->message}; }

  private:
    bool cardAccepts(const std::string& id) {
        PinCache& cache = pinCache();
        const PinEntry* entry = cache.find(id);
        if (!entry || entry->pin.empty()) {
            cache.requirePin(id);
            setErrorCode(ErrorCode::PinRequired);
            return false;
        }
        if (entry->rejected || entry->pin != script_->cardPin) {
            if (!entry->rejected)
                cache.markRejected(id);
            setErrorCode(ErrorCode::WrongPin);
            return false;
        }
        return true;
    }

    std::string answer(const std::string& call, const std::string& text) {
        script_->calls.push_back(call);
        if (script_->duringCall)
            script_->duringCall();
        if (script_->throwOnCall)
            throw std::runtime_error("engine failure");
        setErrorCode(script_->error);
        captureLowLevelError();
        return script_->error == ErrorCode::None ? text : std::string();
    }

    std::shared_ptr<Script> script_;
};

// Installs a maker of scripted engines for the object's lifetime.
class ScriptedEngines {
  public:
    ScriptedEngines() : script(std::make_shared<Script>()) {
        auto shared = script;
        KorvaneAPI::setEngineMaker([shared] { return std::make_unique<ScriptedEngine>(shared); });
        PinCache::clearEveryOrigin();
    }
    ~ScriptedEngines() {
        KorvaneAPI::setEngineMaker(nullptr);
        PinCache::clearEveryOrigin();
    }

    std::shared_ptr<Script> script;
};

}  // namespace plugintest
