#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/BrowserHost.h"
#include "core/ConfirmedSigner.h"
#include "plugin/PinBuffer.h"
#include "scripting/JSAPIAuto.h"
#include "signature/DigitalSignatureUtil.h"

class Korvane;

// The scriptable object a page sees for one embedded signing plug-in. It forwards listing, certificate
// retrieval and signing to the engine, holds the PIN the page types until the next engine call hands it
// to the PIN cache of the page's origin, and exposes the engine's error and PIN state as read-only
// properties. The PIN state it reports and clears is that of its own origin only.
// Engine refusals never raise script exceptions: the call returns the engine's text and the page reads
// the error properties. As a ConfirmedSigner it also serves an adapter whose user types the PIN outside
// the page, one signature per PIN.
//
// Entered only on the browser's main thread, one call at a time; takes no lock of its own.
class KorvaneAPI : public FB::JSAPIAuto, public FB::ConfirmedSigner {
  public:
    // Makes the engine on first use; tests replace it, the default is the platform's engine.
    using EngineMaker = std::function<std::unique_ptr<DigitalSignatureUtil>()>;
    static void setEngineMaker(EngineMaker maker);

    KorvaneAPI(const std::shared_ptr<Korvane>& plugin, const FB::BrowserHostPtr& host);
    ~KorvaneAPI() override;

    // Script methods.
    FB::variant echo(const FB::variant& message);
    void testEvent();
    std::string getDigitalSignatureCertificates();
    std::string getCertificate(const std::string& id);
    std::string signPkcs1(const std::string& id, const std::string& data);
    void processPinChar(char c);
    void deletePinChar();

    std::optional<Summary> describeSignature(const std::string& id, const std::string& data) override;
    std::string signOnce(const std::string& id, const std::string& data, std::string& pin) override;

    // Script properties.
    std::string testString() const { return testString_; }
    void setTestString(const std::string& value) { testString_ = value; }
    std::string version() const;
    // Never gives the PIN back.
    std::string pin() const { return {}; }
    void setPin(const std::string& value);

    // The PIN's page calls ("processPinChar" and writes of "pin") arrive as variants that the bridge
    // releases afterwards; their text is overwritten here once the call is over, however it ends.
    using FB::JSAPIAuto::invoke;
    using FB::JSAPIAuto::setProperty;
    FB::variant invoke(const std::string& name, const FB::VariantList& args) override;
    void setProperty(const std::string& name, const FB::variant& value) override;
    std::int32_t lastError() const { return lastError_; }
    long lastLowLevelError() const { return lastLowLevelError_; }
    std::string lastErrorMessage() const { return lastErrorMessage_; }
    std::int32_t pinLength() const { return static_cast<std::int32_t>(pinBuffer_.size()); }
    bool isPinMissing() const { return pinMissing_; }
    bool isPinInvalid() const { return pinInvalid_; }
    std::string pinModuleName() const { return pinModuleName_; }
    std::int32_t pinRetryCount();
    // "ok", "finalTry", "locked" or "unknown": the token of the certificate the last signature asked for.
    std::string pinState() const { return pinState_; }

  private:
    void registerMembers();
    // The "pin" write, reading the page's text where it is instead of converting it to a copy.
    void setPinValue(const FB::variant& value);
    DigitalSignatureUtil& engine();
    // Gives a typed PIN to the engine's cache under the module that asked for it, then wipes it here.
    void handOverPin();
    // Copies the engine's PIN state and error values after an engine operation. When the PIN of the
    // call's own certificate is refused or missing, that certificate is the PIN module named.
    void refreshPinState(const std::string& callModule = {});
    // The PIN state of the token of certificate id, for "pinState".
    void refreshCardState(const std::string& id);
    void copyErrors();
    std::string paramValue(const std::string& name) const;

    std::weak_ptr<Korvane> plugin_;
    FB::BrowserHostPtr host_;
    std::string pinOrigin_;
    std::string testString_;
    PinBuffer pinBuffer_;
    std::int32_t lastError_ = 0;
    std::int32_t lastLowLevelError_ = 0;
    std::string lastErrorMessage_;
    std::string pinModuleName_;
    bool pinMissing_ = false;
    bool pinInvalid_ = false;
    std::string pinState_ = pinStateText(PinState::Unknown);
    std::unique_ptr<DigitalSignatureUtil> engine_;
};
