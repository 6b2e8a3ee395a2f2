#include "messaging/MessagingSession.h"

#include <stdexcept>

#include "scripting/JSObject.h"
#include "scripting/script_error.h"

namespace FB {

namespace {

// Registered as the object's event interface: every event the object fires is called on it as a method
// of the event's name, on the main thread, and leaves as a message.
class EventSink : public JSObject {
  public:
    EventSink(std::weak_ptr<ScriptHost> host, MessagingSession::EventSender send)
        : JSObject(std::move(host)), send_(std::move(send)) {}

    variant invoke(const std::string& name, const VariantList& args) override {
        if (valid_ && send_)
            send_(name, args);
        return {};
    }
    void invalidate() override { valid_ = false; }
    bool isValid() const override { return valid_; }

    void listMemberNames(std::vector<std::string>& names) override { names.clear(); }
    std::size_t countMembers() override { return 0; }
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(int) override { return false; }
    bool hasProperty(const std::string&) override { return false; }
    variant getProperty(int) override { return {}; }
    variant getProperty(const std::string&) override { return {}; }
    void setProperty(int, const variant&) override {}
    void setProperty(const std::string&, const variant&) override {}
    void removeProperty(int) override {}
    void removeProperty(const std::string&) override {}
    variant construct(const VariantList&) override { return {}; }
    JSAPIPtr getWrappedAPI() const override { return nullptr; }

  private:
    MessagingSession::EventSender send_;
    bool valid_ = true;
};

}  // namespace

MessagingSession::MessagingSession(FactoryBase& factory, const std::string& mimeType,
                                   const std::string& origin, const VariantMap& params, EventSender sendEvent)
    : host_(std::make_shared<MessagingBrowserHost>(origin)) {
    plugin_ = factory.makePlugin(mimeType);
    if (!plugin_) {
        host_->shutdown();
        throw std::runtime_error("The plug-in could not be made");
    }
    plugin_->attachHost(host_);
    plugin_->storeParams(params);
    api_ = plugin_->getScriptObject();
    if (!api_) {
        host_->shutdown();
        throw std::runtime_error("The plug-in has no scriptable object");
    }
    signer_ = dynamic_cast<ConfirmedSigner*>(api_.get());
    std::vector<std::string> names;
    api_->listMemberNames(names);
    for (const auto& name : names)
        (api_->hasMethod(name) ? methods_ : properties_).insert(name);
    eventSink_ = std::make_shared<EventSink>(host_, std::move(sendEvent));
    api_->addEventInterface(eventSink_);
}

MessagingSession::~MessagingSession() {
    // As an embedded instance ends: no more events, the instance goes, then its host.
    eventSink_->invalidate();
    api_->removeEventInterface(eventSink_);
    api_.reset();
    plugin_->clearWindow();
    plugin_->onShutdown();
    plugin_.reset();
    host_->shutdown();
}

variant MessagingSession::invoke(const std::string& member, const VariantList& args) {
    if (methods_.count(member) == 0)
        throw invalid_member(member);
    return api_->invoke(member, args);
}

variant MessagingSession::get(const std::string& member) {
    if (properties_.count(member) == 0)
        throw invalid_member(member);
    return api_->getProperty(member);
}

void MessagingSession::set(const std::string& member, const variant& value) {
    if (properties_.count(member) == 0)
        throw invalid_member(member);
    api_->setProperty(member, value);
}

VariantMap MessagingSession::state(const std::vector<std::string>& members) {
    VariantMap values;
    for (const auto& member : members) {
        try {
            if (properties_.count(member) != 0)
                values[member] = api_->getProperty(member);
        } catch (const std::exception&) {
            // A property that cannot be read now is simply not reported.
        }
    }
    return values;
}

}  // namespace FB
