#include "npapi/NPJavascriptObject.h"

#include <string>
#include <typeinfo>
#include <vector>

#include "npapi/NpapiBrowserHost.h"
#include "scripting/JSFunction.h"
#include "scripting/script_error.h"

namespace FB::Npapi {

namespace {

const std::string kAddEventListener = "addEventListener";
const std::string kRemoveEventListener = "removeEventListener";
const std::string kGetLastException = "getLastException";
// The name of a call to the object itself.
const std::string kUnnamed;

// Shared by every object of the process; the browser calls on its main thread only.
variant& processLastException() {
    static variant last;
    return last;
}

bool isBuiltInName(const std::string& name) {
    return name == kAddEventListener || name == kRemoveEventListener || name == kGetLastException;
}

// The built-in members. They hold their owner only weakly: a page may keep `obj.addEventListener`
// after the owner's NPObject has been deallocated, and the call must then fail, not touch it.
// They live as long as that NPObject and keep no state of their own: attributes and handlers are
// refused, since a page object stored on one would stay alive with it or close a reference cycle
// through the owner.
class BuiltInMember : public JSFunction {
  public:
    BuiltInMember(NPJavascriptObject::WeakReference owner, const std::string& methodName)
        : JSFunction(JSAPIWeakPtr(), methodName), owner_(std::move(owner)) {
        setAllowDynamicAttributes(false);
    }

    using JSFunction::addEventHandler;
    using JSFunction::setProperty;

    void setProperty(const std::string& name, const variant&) override { refuse(name); }
    void setProperty(int index, const variant&) override { refuse(std::to_string(index)); }
    void setAttribute(const std::string& name, const variant&) override { refuse(name); }
    void addAttribute(const std::string& name, const variant&, bool) override { refuse(name); }
    void addEventHandler(const std::string& name, const JSObjectPtr&) override { refuse(name); }
    void addEventInterface(const JSObjectPtr&) override { refuse("event interface"); }

  protected:
    // The owner's JSAPI when the owner lives, is valid and still has its JSAPI and host.
    JSAPIPtr ownerApi() const {
        NPJavascriptObject* owner = lockReference(owner_);
        if (owner == nullptr || !owner->isValid() || owner->apiGone() || owner->hostGone()) {
            return nullptr;
        }
        return owner->api().lock();
    }

    // The event name and handler of an add or remove call, checked.
    std::pair<std::string, JSObjectPtr> listenerArguments(const VariantList& args) const {
        if (args.size() < 2 || args.size() > 3) {
            throw invalid_arguments();
        }
        try {
            return {"on" + args[0].convert<std::string>(), args[1].convert<JSObjectPtr>()};
        } catch (const std::bad_cast& e) {
            throw invalid_arguments(e.what());
        }
    }

  private:
    [[noreturn]] void refuse(const std::string& name) const {
        throw script_error("A built-in member takes no properties or handlers: " + name);
    }

    NPJavascriptObject::WeakReference owner_;
};

// "addEventListener" and "removeEventListener": the owner's handler for "on" + the event name is added
// or removed.
class EventListenerMember : public BuiltInMember {
  public:
    using Change = void (JSAPI::*)(const std::string&, const JSObjectPtr&);

    EventListenerMember(NPJavascriptObject::WeakReference owner, const std::string& methodName, Change change)
        : BuiltInMember(std::move(owner), methodName), change_(change) {}

    variant exec(const VariantList& args) override {
        JSAPIPtr api = ownerApi();
        if (!api) {
            throw invalid_arguments();
        }
        auto [name, handler] = listenerArguments(args);
        ((*api).*change_)(name, handler);
        return {};
    }

  private:
    Change change_;
};

class GetLastExceptionMember : public BuiltInMember {
  public:
    explicit GetLastExceptionMember(NPJavascriptObject::WeakReference owner)
        : BuiltInMember(std::move(owner), "getLastException") {}

    variant exec(const VariantList& /*args*/) override { return processLastException(); }
};

void voidResult(NPVariant* result) {
    if (result != nullptr) {
        VOID_TO_NPVARIANT(*result);
    }
}

}  // namespace

// ---- Class record and recovery --------------------------------------------------------------

NPClass* NPJavascriptObject::npClass() {
    static NPClass record = [] {
        NPClass c{};
        c.structVersion = NP_CLASS_STRUCT_VERSION_CTOR;
        c.allocate = &NPJavascriptObject::allocate;
        c.deallocate = &NPJavascriptObject::deallocate;
        c.invalidate = &NPJavascriptObject::invalidateCallback;
        c.hasMethod = &NPJavascriptObject::hasMethodCallback;
        c.invoke = &NPJavascriptObject::invokeCallback;
        c.invokeDefault = &NPJavascriptObject::invokeDefaultCallback;
        c.hasProperty = &NPJavascriptObject::hasPropertyCallback;
        c.getProperty = &NPJavascriptObject::getPropertyCallback;
        c.setProperty = &NPJavascriptObject::setPropertyCallback;
        c.removeProperty = &NPJavascriptObject::removePropertyCallback;
        c.enumerate = &NPJavascriptObject::enumerateCallback;
        c.construct = &NPJavascriptObject::constructCallback;
        return c;
    }();
    return &record;
}

bool NPJavascriptObject::isOwnObject(const NPObject* object) {
    return object != nullptr && object->_class == npClass();
}

NPJavascriptObject* NPJavascriptObject::fromNPObject(NPObject* object) {
    return isOwnObject(object) ? static_cast<NPJavascriptObject*>(object) : nullptr;
}

NPJavascriptObject::NPJavascriptObject(NPP /*npp*/) : NPObject{} {
    selfRef_ = std::make_shared<ShareableReference<NPJavascriptObject>>(this);
    addEventListener_ = std::make_shared<EventListenerMember>(
        selfRef_, "attachEvent", static_cast<EventListenerMember::Change>(&JSAPI::addEventHandler));
    removeEventListener_ = std::make_shared<EventListenerMember>(
        selfRef_, "detachEvent", static_cast<EventListenerMember::Change>(&JSAPI::removeEventHandler));
    getLastException_ = std::make_shared<GetLastExceptionMember>(selfRef_);
}

NPJavascriptObject::~NPJavascriptObject() {
    // Gone from the wrapper cache's point of view before anything below can walk the cache.
    selfRef_.reset();
    if (releaseOnDestroy_ && holdsRetention_) {
        JSAPIPtr api = api_.lock();
        NpapiBrowserHostPtr host = host_.lock();
        if (api && host) {
            host->releaseObject(api);
        }
    }
}

NPJavascriptObject* NPJavascriptObject::createWrapper(const NpapiBrowserHostPtr& host,
                                                      const JSAPIWeakPtr& api, bool releaseOnDestroy) {
    NPObject* object = host->createObject(npClass());
    NPJavascriptObject* wrapper = fromNPObject(object);
    if (wrapper == nullptr) {
        return nullptr;
    }
    wrapper->bindTo(api, host);
    wrapper->releaseOnDestroy_ = releaseOnDestroy;
    return wrapper;
}

bool NPJavascriptObject::takeRetention() {
    if (!releaseOnDestroy_ || holdsRetention_) {
        return false;
    }
    holdsRetention_ = true;
    return true;
}

void NPJavascriptObject::bindTo(const JSAPIWeakPtr& api, const NpapiBrowserHostWeakPtr& host) {
    api_ = api;
    host_ = host;
}

void NPJavascriptObject::invalidate() {
    valid_ = false;
    try {
        if (JSAPIPtr api = api_.lock()) {
            api->invalidate();
        }
    } catch (const std::bad_cast&) {
    }
}

const variant& NPJavascriptObject::lastException() {
    return processLastException();
}

// ---- Common frame ------------------------------------------------------------------------------

template <class Operation>
bool NPJavascriptObject::frame(NPVariant* result, Operation&& operation) {
    voidResult(result);
    if (!valid_) {
        return false;
    }
    // Each reference taken once, held for the whole call.
    NpapiBrowserHostPtr host = host_.lock();
    JSAPIPtr api = host ? api_.lock() : nullptr;
    if (!api) {
        return false;
    }
    try {
        return operation(*host, *api);
    } catch (const script_error& e) {
        reportScriptError(e.what());
        return false;
    } catch (const std::bad_cast&) {
        return false;
    } catch (...) {
        // Nothing may unwind into the browser's C frames; any other failure is a plain false.
        return false;
    }
}

void NPJavascriptObject::reportScriptError(const char* message) {
    if (NpapiBrowserHostPtr host = host_.lock()) {
        host->setException(this, message);
    }
    processLastException() = std::string(message);
}

VariantList NPJavascriptObject::argumentList(NpapiBrowserHost& host, const NPVariant* args,
                                             uint32_t argCount) const {
    VariantList list;
    list.reserve(argCount);
    for (uint32_t i = 0; i < argCount; ++i) {
        list.push_back(host.toVariant(args[i]));
    }
    return list;
}

// ---- Operations --------------------------------------------------------------------------------

bool NPJavascriptObject::hasMethod(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name) {
    return hasMethod(api, host.identifierText(name));
}

bool NPJavascriptObject::hasMethod(JSAPI& api, const std::string& text) {
    if (text == "toString") {
        return true;
    }
    return !api.hasMethodHandle(text) && api.hasMethod(text);
}

bool NPJavascriptObject::hasProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name) {
    const NpapiPluginModule::Identifier& id = host.module().identifier(name);
    if (!id.isString) {
        return api.hasProperty(static_cast<int>(id.number));
    }
    const std::string& text = id.text;
    if (isBuiltInName(text)) {
        return true;
    }
    if (text == "toString" && api.hasMethodHandle(text)) {
        return true;
    }
    if (hasMethod(api, text)) {
        return false;
    }
    return api.hasProperty(text);
}

bool NPJavascriptObject::getProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name,
                                     NPVariant* result) {
    const NpapiPluginModule::Identifier& id = host.module().identifier(name);
    const variant value = [&]() -> variant {
        if (!id.isString) {
            return api.getProperty(static_cast<int>(id.number));
        }
        const std::string& text = id.text;
        if (text == kAddEventListener) {
            return addEventListener_;
        }
        if (text == kRemoveEventListener) {
            return removeEventListener_;
        }
        if (text == kGetLastException) {
            return getLastException_;
        }
        // The method object when the name has one, else the property.
        return api.memberValue(text);
    }();
    host.toNPVariant(value, *result);
    return true;
}

bool NPJavascriptObject::setProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name,
                                     const NPVariant* value) {
    variant converted = host.toVariant(*value);
    const NpapiPluginModule::Identifier& id = host.module().identifier(name);
    if (!id.isString) {
        api.setProperty(static_cast<int>(id.number), converted);
        return true;
    }
    if (api.hasMethodHandle(id.text)) {
        throw script_error("This property cannot be changed");
    }
    api.setProperty(id.text, converted);
    return true;
}

bool NPJavascriptObject::removeProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name) {
    const NpapiPluginModule::Identifier& id = host.module().identifier(name);
    if (!id.isString) {
        api.removeProperty(static_cast<int>(id.number));
    } else {
        api.removeProperty(id.text);
    }
    return true;
}

bool NPJavascriptObject::invoke(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name, const NPVariant* args,
                                uint32_t argCount, NPVariant* result) {
    const std::string& method = name != nullptr ? host.identifierText(name) : kUnnamed;
    VariantList list = argumentList(host, args, argCount);
    host.toNPVariant(api.invoke(method, list), *result);
    return true;
}

bool NPJavascriptObject::invokeDefault(NpapiBrowserHost& host, JSAPI& api, const NPVariant* args,
                                       uint32_t argCount, NPVariant* result) {
    VariantList list = argumentList(host, args, argCount);
    host.toNPVariant(api.invoke(kUnnamed, list), *result);
    return true;
}

bool NPJavascriptObject::construct(NpapiBrowserHost& host, JSAPI& api, const NPVariant* args,
                                   uint32_t argCount, NPVariant* result) {
    VariantList list = argumentList(host, args, argCount);
    host.toNPVariant(api.construct(list), *result);
    return true;
}

bool NPJavascriptObject::enumerate(NpapiBrowserHost& host, JSAPI& api, NPIdentifier** identifiers,
                                   uint32_t* count) {
    *count = 0;
    *identifiers = nullptr;
    std::vector<std::string> names;
    api.listMemberNames(names);
    names.insert(names.end(), {kAddEventListener, kRemoveEventListener, kGetLastException});
    NpapiPluginModule& module = host.module();
    auto* array = static_cast<NPIdentifier*>(
        module.memAlloc(static_cast<uint32_t>(sizeof(NPIdentifier) * names.size())));
    if (array == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        array[i] = module.getStringIdentifier(names[i]);
    }
    *identifiers = array;
    *count = static_cast<uint32_t>(names.size());
    return true;
}

// ---- NPClass callbacks -------------------------------------------------------------------------

NPObject* NPJavascriptObject::allocate(NPP npp, NPClass* /*npClass*/) {
    return new NPJavascriptObject(npp);
}

void NPJavascriptObject::deallocate(NPObject* object) {
    delete fromNPObject(object);
}

void NPJavascriptObject::invalidateCallback(NPObject* object) {
    if (NPJavascriptObject* self = fromNPObject(object)) {
        self->invalidate();
    }
}

bool NPJavascriptObject::hasMethodCallback(NPObject* object, NPIdentifier name) {
    NPJavascriptObject* self = fromNPObject(object);
    return self != nullptr && self->frame(nullptr, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->hasMethod(host, api, name);
    });
}

bool NPJavascriptObject::invokeCallback(NPObject* object, NPIdentifier name, const NPVariant* args,
                                        uint32_t argCount, NPVariant* result) {
    NPJavascriptObject* self = fromNPObject(object);
    if (self == nullptr) {
        voidResult(result);
        return false;
    }
    return self->frame(result, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->invoke(host, api, name, args, argCount, result);
    });
}

bool NPJavascriptObject::invokeDefaultCallback(NPObject* object, const NPVariant* args, uint32_t argCount,
                                               NPVariant* result) {
    NPJavascriptObject* self = fromNPObject(object);
    if (self == nullptr) {
        voidResult(result);
        return false;
    }
    return self->frame(result, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->invokeDefault(host, api, args, argCount, result);
    });
}

bool NPJavascriptObject::hasPropertyCallback(NPObject* object, NPIdentifier name) {
    NPJavascriptObject* self = fromNPObject(object);
    return self != nullptr && self->frame(nullptr, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->hasProperty(host, api, name);
    });
}

bool NPJavascriptObject::getPropertyCallback(NPObject* object, NPIdentifier name, NPVariant* result) {
    NPJavascriptObject* self = fromNPObject(object);
    if (self == nullptr) {
        voidResult(result);
        return false;
    }
    return self->frame(result, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->getProperty(host, api, name, result);
    });
}

bool NPJavascriptObject::setPropertyCallback(NPObject* object, NPIdentifier name, const NPVariant* value) {
    NPJavascriptObject* self = fromNPObject(object);
    return self != nullptr && self->frame(nullptr, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->setProperty(host, api, name, value);
    });
}

bool NPJavascriptObject::removePropertyCallback(NPObject* object, NPIdentifier name) {
    NPJavascriptObject* self = fromNPObject(object);
    return self != nullptr && self->frame(nullptr, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->removeProperty(host, api, name);
    });
}

bool NPJavascriptObject::enumerateCallback(NPObject* object, NPIdentifier** identifiers, uint32_t* count) {
    NPJavascriptObject* self = fromNPObject(object);
    if (self == nullptr) {
        return false;
    }
    bool ok = self->frame(nullptr, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->enumerate(host, api, identifiers, count);
    });
    if (!ok) {
        *count = 0;
    }
    return ok;
}

bool NPJavascriptObject::constructCallback(NPObject* object, const NPVariant* args, uint32_t argCount,
                                           NPVariant* result) {
    NPJavascriptObject* self = fromNPObject(object);
    if (self == nullptr) {
        voidResult(result);
        return false;
    }
    return self->frame(result, [&](NpapiBrowserHost& host, JSAPI& api) {
        return self->construct(host, api, args, argCount, result);
    });
}

}  // namespace FB::Npapi
