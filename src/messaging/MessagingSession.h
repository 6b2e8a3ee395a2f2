#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/ConfirmedSigner.h"
#include "core/FactoryBase.h"
#include "core/PluginCore.h"
#include "messaging/MessagingBrowserHost.h"
#include "scripting/JSAPI.h"
#include "scripting/variant.h"

namespace FB {

// One page's plug-in instance behind a native-messaging connection: made by the module's factory, as
// the NPAPI adapter makes it, with the page's parameters and a MessagingBrowserHost for the pinned
// origin. Members of its root scriptable object are called by name; the events it fires go to
// sendEvent once the posted calls run.
//
// Entered from the connection's thread only, which is the instance's main thread.
class MessagingSession {
  public:
    using EventSender = std::function<void(const std::string& name, const VariantList& args)>;

    // Raises std::runtime_error when the factory makes no instance or the instance no object.
    MessagingSession(FactoryBase& factory, const std::string& mimeType, const std::string& origin,
                     const VariantMap& params, EventSender sendEvent);
    ~MessagingSession();
    MessagingSession(const MessagingSession&) = delete;
    MessagingSession& operator=(const MessagingSession&) = delete;

    // Raise invalid_member for a name that was not a method (invoke) or a property (get, set) of the
    // object when the session began: a page cannot add members here, nor reach method objects. The
    // object's own script errors and exceptions pass through.
    variant invoke(const std::string& member, const VariantList& args);
    variant get(const std::string& member);
    void set(const std::string& member, const variant& value);

    // The object as a signer for the extension's own requests; null when it is none.
    ConfirmedSigner* signer() const { return signer_; }

    // The listed properties the object has, read now; one whose read fails is left out.
    VariantMap state(const std::vector<std::string>& members);

    // Delivers the events and other calls posted while the last request ran.
    void runPostedCalls() { host_->runPostedCalls(); }

  private:
    std::shared_ptr<MessagingBrowserHost> host_;
    PluginCorePtr plugin_;
    JSAPIPtr api_;
    ConfirmedSigner* signer_ = nullptr;  // api_ itself, seen as a signer
    JSObjectPtr eventSink_;
    std::set<std::string> methods_;
    std::set<std::string> properties_;
};

}  // namespace FB
