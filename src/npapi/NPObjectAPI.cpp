#include "npapi/NPObjectAPI.h"

#include <stdexcept>
#include <utility>

#include "core/FunctorCall.h"
#include "npapi/NPJavascriptObject.h"
#include "npapi/NpapiBrowserHost.h"
#include "scripting/script_error.h"

namespace FB::Npapi {

NPObjectAPI::NPObjectAPI(NPObject* object, const std::shared_ptr<NpapiBrowserHost>& host)
    : JSObject(host), host_(host), object_(object) {
    if (object_ == nullptr) {
        return;
    }
    host->module().retainObject(object_);
    if (NPJavascriptObject* own = NPJavascriptObject::fromNPObject(object_)) {
        wrapsOwnObject_ = true;
        ownApi_ = own->api();
    }
}

NPObjectAPI::~NPObjectAPI() {
    if (auto host = host_.lock()) {
        if (object_ != nullptr) {
            host->releaseLater(object_);
        }
    }
    object_ = nullptr;
}

std::shared_ptr<NPObjectAPI> NPObjectAPI::self() {
    return std::static_pointer_cast<NPObjectAPI>(shared_from_this());
}

template <class R, class Operation>
R NPObjectAPI::marshal(NpapiBrowserHost& host, Operation operation) {
    // The call owns everything it touches, so a caller that stops waiting leaves nothing dangling.
    return host.runOnMainThread<R>(
        makeFunctorCall([self = self(), operation = std::move(operation)]() { return operation(*self); }));
}

// Each operation: the default when the host has gone; marshalled when off the main thread; straight
// to the own object's JSAPI when wrapping one of ours; otherwise the browser calls.

bool NPObjectAPI::hasMethod(const std::string& name) {
    auto host = host_.lock();
    if (!host) {
        return false;
    }
    if (!host->onMainThread()) {
        return marshal<bool>(*host, [name](NPObjectAPI& o) { return o.hasMethod(name); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->hasMethod(name) : false;
    }
    return host->hasMethod(object_, host->module().getStringIdentifier(name));
}

bool NPObjectAPI::hasProperty(const std::string& name) {
    auto host = host_.lock();
    if (!host) {
        return false;
    }
    if (!host->onMainThread()) {
        return marshal<bool>(*host, [name](NPObjectAPI& o) { return o.hasProperty(name); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->hasProperty(name) : false;
    }
    return host->hasProperty(object_, host->module().getStringIdentifier(name));
}

bool NPObjectAPI::hasProperty(int index) {
    auto host = host_.lock();
    if (!host) {
        return false;
    }
    if (!host->onMainThread()) {
        return marshal<bool>(*host, [index](NPObjectAPI& o) { return o.hasProperty(index); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->hasProperty(index) : false;
    }
    return host->hasProperty(object_, host->module().getIntIdentifier(index));
}

variant NPObjectAPI::getProperty(const std::string& name) {
    auto host = host_.lock();
    if (!host) {
        return {};
    }
    if (!host->onMainThread()) {
        return marshal<variant>(*host, [name](NPObjectAPI& o) { return o.getProperty(name); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->getProperty(name) : variant(false);
    }
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    if (!host->getProperty(object_, host->module().getStringIdentifier(name), &result)) {
        throw script_error(name);
    }
    variant value = host->toVariant(result);
    host->module().releaseVariantValue(&result);
    return value;
}

variant NPObjectAPI::getProperty(int index) {
    auto host = host_.lock();
    if (!host) {
        return {};
    }
    if (!host->onMainThread()) {
        return marshal<variant>(*host, [index](NPObjectAPI& o) { return o.getProperty(index); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->getProperty(index) : variant(false);
    }
    return getProperty(std::to_string(index));
}

void NPObjectAPI::setProperty(const std::string& name, const variant& value) {
    auto host = host_.lock();
    if (!host) {
        return;
    }
    if (!host->onMainThread()) {
        return marshal<void>(*host, [name, value](NPObjectAPI& o) { o.setProperty(name, value); });
    }
    if (wrapsOwnObject_) {
        if (JSAPIPtr api = ownApi_.lock()) {
            api->setProperty(name, value);
        }
        return;
    }
    NPVariant converted;
    VOID_TO_NPVARIANT(converted);
    host->toNPVariant(value, converted);
    bool ok = host->setProperty(object_, host->module().getStringIdentifier(name), &converted);
    host->module().releaseVariantValue(&converted);
    if (!ok) {
        throw script_error(name);
    }
}

void NPObjectAPI::setProperty(int index, const variant& value) {
    auto host = host_.lock();
    if (!host) {
        return;
    }
    if (!host->onMainThread()) {
        return marshal<void>(*host, [index, value](NPObjectAPI& o) { o.setProperty(index, value); });
    }
    if (wrapsOwnObject_) {
        if (JSAPIPtr api = ownApi_.lock()) {
            api->setProperty(index, value);
        }
        return;
    }
    setProperty(std::to_string(index), value);
}

void NPObjectAPI::removeProperty(const std::string& name) {
    auto host = host_.lock();
    if (!host) {
        return;
    }
    if (!host->onMainThread()) {
        return marshal<void>(*host, [name](NPObjectAPI& o) { o.removeProperty(name); });
    }
    if (wrapsOwnObject_) {
        if (JSAPIPtr api = ownApi_.lock()) {
            api->removeProperty(name);
        }
        return;
    }
    if (!host->removeProperty(object_, host->module().getStringIdentifier(name))) {
        throw script_error(name);
    }
}

void NPObjectAPI::removeProperty(int index) {
    auto host = host_.lock();
    if (!host) {
        return;
    }
    if (!host->onMainThread()) {
        return marshal<void>(*host, [index](NPObjectAPI& o) { o.removeProperty(index); });
    }
    if (wrapsOwnObject_) {
        if (JSAPIPtr api = ownApi_.lock()) {
            api->removeProperty(index);
        }
        return;
    }
    removeProperty(std::to_string(index));
}

namespace {

// Arguments converted for one browser call, released with it.
class ConvertedArguments {
  public:
    ConvertedArguments(NpapiBrowserHost& host, const VariantList& args) : host_(host) {
        values_.reserve(args.size());
        for (const variant& arg : args) {
            NPVariant value;
            VOID_TO_NPVARIANT(value);
            values_.push_back(value);
            host_.toNPVariant(arg, values_.back());
        }
    }
    ~ConvertedArguments() {
        for (NPVariant& value : values_) {
            host_.module().releaseVariantValue(&value);
        }
    }
    ConvertedArguments(const ConvertedArguments&) = delete;
    ConvertedArguments& operator=(const ConvertedArguments&) = delete;

    const NPVariant* data() const { return values_.empty() ? nullptr : values_.data(); }
    uint32_t size() const { return static_cast<uint32_t>(values_.size()); }

  private:
    NpapiBrowserHost& host_;
    std::vector<NPVariant> values_;
};

}  // namespace

variant NPObjectAPI::invoke(const std::string& name, const VariantList& args) {
    auto host = host_.lock();
    if (!host) {
        return false;
    }
    if (!host->onMainThread()) {
        return marshal<variant>(*host, [name, args](NPObjectAPI& o) { return o.invoke(name, args); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->invoke(name, args) : variant(false);
    }
    ConvertedArguments converted(*host, args);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    bool ok = name.empty() ? host->invokeDefault(object_, converted.data(), converted.size(), &result)
                           : host->invoke(object_, host->module().getStringIdentifier(name), converted.data(),
                                          converted.size(), &result);
    if (!ok) {
        host->module().releaseVariantValue(&result);
        throw script_error(name);
    }
    variant value = host->toVariant(result);
    host->module().releaseVariantValue(&result);
    return value;
}

variant NPObjectAPI::construct(const VariantList& args) {
    auto host = host_.lock();
    if (!host) {
        return false;
    }
    if (!host->onMainThread()) {
        return marshal<variant>(*host, [args](NPObjectAPI& o) { return o.construct(args); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->construct(args) : variant(false);
    }
    ConvertedArguments converted(*host, args);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    if (!host->construct(object_, converted.data(), converted.size(), &result)) {
        host->module().releaseVariantValue(&result);
        throw script_error("constructor");
    }
    variant value = host->toVariant(result);
    host->module().releaseVariantValue(&result);
    return value;
}

void NPObjectAPI::listMemberNames(std::vector<std::string>& names) {
    auto host = host_.lock();
    if (!host) {
        return;
    }
    if (!host->onMainThread()) {
        // The names come back by value: the waiting caller's list is never touched from the main thread.
        auto found = marshal<std::vector<std::string>>(*host, [](NPObjectAPI& o) {
            std::vector<std::string> list;
            o.listMemberNames(list);
            return list;
        });
        names.insert(names.end(), found.begin(), found.end());
        return;
    }
    if (wrapsOwnObject_) {
        if (JSAPIPtr api = ownApi_.lock()) {
            api->listMemberNames(names);
        }
        return;
    }
    NPIdentifier* identifiers = nullptr;
    uint32_t count = 0;
    if (!host->enumerate(object_, &identifiers, &count)) {
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        names.push_back(host->identifierText(identifiers[i]));
    }
    host->module().memFree(identifiers);
}

std::size_t NPObjectAPI::countMembers() {
    auto host = host_.lock();
    if (!host) {
        return 0;
    }
    if (!host->onMainThread()) {
        return marshal<std::size_t>(*host, [](NPObjectAPI& o) { return o.countMembers(); });
    }
    if (wrapsOwnObject_) {
        JSAPIPtr api = ownApi_.lock();
        return api ? api->countMembers() : 0;
    }
    NPIdentifier* identifiers = nullptr;
    uint32_t count = 0;
    if (!host->enumerate(object_, &identifiers, &count)) {
        return 0;
    }
    host->module().memFree(identifiers);
    return count;
}

bool NPObjectAPI::isValid() const {
    return !host_.expired();
}

JSAPIPtr NPObjectAPI::getWrappedAPI() const {
    return wrapsOwnObject_ ? ownApi_.lock() : nullptr;
}

void* NPObjectAPI::eventContextOf() const {
    auto host = host_.lock();
    return host ? host->contextIdentity() : nullptr;
}

void NPObjectAPI::callThroughPage(NpapiBrowserHost& host, NPObject* callFunction,
                                  const std::vector<NPVariant>& args) {
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    host.invokeDefault(callFunction, args.data(), static_cast<uint32_t>(args.size()), &result);
    host.module().releaseVariantValue(&result);
}

void NPObjectAPI::deliverEventBatch(const std::string& name, const VariantList& args,
                                    const std::vector<JSObjectPtr>& handlers,
                                    const std::vector<JSObjectPtr>& interfaces) {
    if (!isValid()) {
        throw script_error("Error calling handlers");
    }
    auto host = host_.lock();
    if (!host) {
        throw script_error("Error calling handlers");
    }
    if (!host->onMainThread()) {
        host->queueBoundCall(makeFunctorCall([self = self(), name, args, handlers, interfaces]() {
            self->deliverEventBatch(name, args, handlers, interfaces);
        }));
        return;
    }
    std::shared_ptr<NPObjectAPI> callFunction;
    try {
        callFunction = std::dynamic_pointer_cast<NPObjectAPI>(host->getCallFunction());
    } catch (const std::runtime_error&) {
        // No page window to find it on: the same as no call function.
    }
    if (!callFunction || callFunction->getNPObject() == nullptr) {
        throw script_error("Error calling handlers (delegate disappeared)");
    }

    NPVariant pageArgs;
    VOID_TO_NPVARIANT(pageArgs);
    host->toNPVariant(variant(args), pageArgs);
    NPVariant delay;
    INT32_TO_NPVARIANT(0, delay);

    // The own object's JSAPI behind a handler, when the handler is one of ours and still there.
    auto ownApiOf = [](const JSObjectPtr& handler) -> JSAPIPtr {
        auto page = std::dynamic_pointer_cast<NPObjectAPI>(handler);
        return page && page->wrapsOwnObject_ ? page->ownApi_.lock() : nullptr;
    };
    auto asArgument = [](const JSObjectPtr& handler) {
        NPVariant value;
        auto page = std::dynamic_pointer_cast<NPObjectAPI>(handler);
        if (page && page->getNPObject() != nullptr) {
            OBJECT_TO_NPVARIANT(page->getNPObject(), value);
        } else {
            NULL_TO_NPVARIANT(value);
        }
        return value;
    };

    try {
        for (const JSObjectPtr& handler : handlers) {
            if (!handler) {
                continue;
            }
            if (JSAPIPtr api = ownApiOf(handler)) {
                api->invoke(std::string(), args);
            } else {
                callThroughPage(*host, callFunction->getNPObject(), {delay, asArgument(handler), pageArgs});
            }
        }
        NPVariant eventName;
        STRINGN_TO_NPVARIANT(name.data(), name.size(), eventName);
        for (const JSObjectPtr& target : interfaces) {
            if (!target) {
                continue;
            }
            if (JSAPIPtr api = ownApiOf(target)) {
                api->invoke(name, args);
            } else {
                callThroughPage(*host, callFunction->getNPObject(),
                                {delay, asArgument(target), pageArgs, eventName});
            }
        }
    } catch (...) {
        host->module().releaseVariantValue(&pageArgs);
        throw;
    }
    host->module().releaseVariantValue(&pageArgs);
}

}  // namespace FB::Npapi
