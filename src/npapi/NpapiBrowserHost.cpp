#include "npapi/NpapiBrowserHost.h"

#include <cstring>
#include <functional>
#include <typeinfo>
#include <vector>

#include "core/Log.h"
#include "core/UrlScheme.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiStream.h"
#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB::Npapi {

namespace {

constexpr const char* kLogSource = "NpapiBrowserHost";

}  // namespace

NpapiBrowserHost::NpapiBrowserHost(NpapiPluginModule* module, NPP npp) : module_(module), npp_(npp) {}

NpapiBrowserHost::~NpapiBrowserHost() {
    // Objects still queued are given back while the browser can take them.
    if (onMainThread()) {
        deferredRelease();
    }
}

// ---- Start-up and shutdown --------------------------------------------------------------------

void NpapiBrowserHost::takeBrowserTable(const NPNetscapeFuncs* table) {
    if (table != nullptr) {
        NpapiPluginModule::copyBrowserTable(funcs_, *table);
    }
    asyncCall_.store(funcs_.pluginthreadasynccall);

    NPObject* window = nullptr;
    NPObject* element = nullptr;
    try {
        if (funcs_.getvalue != nullptr) {
            funcs_.getvalue(npp_, NPNVWindowNPObject, &window);
            funcs_.getvalue(npp_, NPNVPluginElementNPObject, &element);
        }
        // A browser that gives no window or element leaves them missing, so that their users hear
        // so rather than hand the browser a null object.
        if (window != nullptr) {
            pageWindow_ = std::make_shared<NPObjectAPI>(window, sharedHost());
        }
        if (element != nullptr) {
            pluginElement_ = std::make_shared<NPObjectAPI>(element, sharedHost());
        }
    } catch (const std::exception& e) {
        Log::info(kLogSource, std::string("Finding the page objects failed: ") + e.what());
    }
    module_->releaseObject(window);
    module_->releaseObject(element);

    if (pageWindow_) {
        try {
            pageDocument_ = pageWindow_->getProperty("document").convert<JSObjectPtr>();
        } catch (const std::exception& e) {
            Log::info(kLogSource, std::string("Finding the page document failed: ") + e.what());
        }
    }
}

void NpapiBrowserHost::shutdown() {
    // From here on every browser call through this host is a silent no-op.
    asyncCall_.store(nullptr);
    funcs_ = NPNetscapeFuncs{};
    BrowserHost::shutdown();
    pageWindow_.reset();
    pluginElement_.reset();
    pageDocument_.reset();
}

// ---- Page objects ------------------------------------------------------------------------------

DOM::DocumentPtr NpapiBrowserHost::getPageDocument() {
    if (!pageDocument_) {
        throw std::runtime_error("Cannot find HTML document");
    }
    return wrapDocument(pageDocument_);
}

DOM::WindowPtr NpapiBrowserHost::getPageWindow() {
    if (!pageWindow_) {
        throw std::runtime_error("Cannot find HTML window");
    }
    return wrapWindow(pageWindow_);
}

DOM::ElementPtr NpapiBrowserHost::getPluginElement() {
    if (!pluginElement_) {
        throw std::runtime_error("Cannot find HTML window");
    }
    return wrapElement(pluginElement_);
}

void NpapiBrowserHost::navigate(const std::string& url, const std::string& target) {
    pushPopupsEnabledState(true);
    // An empty target means no window at all.
    getURL(url.c_str(), target.empty() ? nullptr : target.c_str());
    popPopupsEnabledState();
}

void NpapiBrowserHost::evaluateScript(const std::string& script) {
    if (!pageWindow_) {
        throw std::runtime_error("Cannot find HTML window");
    }
    NPVariant text;
    VOID_TO_NPVARIANT(text);
    toNPVariant(variant(script), text);
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    auto* window = static_cast<NPObjectAPI*>(pageWindow_.get());
    bool ok = text.type == NPVariantType_String &&
              evaluate(window->getNPObject(), &text.value.stringValue, &result);
    // The script text is ours, in browser memory: give it back whatever the outcome.
    module_->releaseVariantValue(&text);
    if (!ok) {
        throw script_error("Error executing JavaScript code");
    }
    module_->releaseVariantValue(&result);
}

// ---- Conversions -------------------------------------------------------------------------------

variant NpapiBrowserHost::toVariant(const NPVariant& value) {
    // Read as a plain number: a browser may hand over a type this enumeration does not name.
    int type = 0;
    static_assert(sizeof(value.type) == sizeof(type));
    std::memcpy(&type, &value.type, sizeof(type));
    switch (type) {
        case NPVariantType_Void:
            return {};
        case NPVariantType_Null:
            return variant(variant_detail::null());
        case NPVariantType_Bool:
            return value.value.boolValue;
        case NPVariantType_Int32:
            return static_cast<int>(value.value.intValue);
        case NPVariantType_Double:
            return value.value.doubleValue;
        case NPVariantType_String: {
            const NPString& text = value.value.stringValue;
            std::string chars;
            if (text.UTF8Characters != nullptr) {
                chars.assign(text.UTF8Characters, text.UTF8Length);
            }
            variant result(std::move(chars));
            // A short text moved out leaves its characters after the first behind; the text may be a
            // PIN, so none of it stays on the stack.
            chars.assign(chars.capacity(), 'X');
            return result;
        }
        case NPVariantType_Object:
            return JSObjectPtr(std::make_shared<NPObjectAPI>(value.value.objectValue, sharedHost()));
        default:
            return {};
    }
}

NPVariant NpapiBrowserHost::toNPVariant(const variant& value) {
    NPVariant out;
    VOID_TO_NPVARIANT(out);
    toNPVariant(value, out);
    return out;
}

bool NpapiBrowserHost::browserString(const std::string& text, NPVariant& out) const {
    auto* buffer = static_cast<char*>(module_->memAlloc(static_cast<uint32_t>(text.size() + 1)));
    if (buffer == nullptr) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    STRINGN_TO_NPVARIANT(buffer, text.size(), out);
    return true;
}

namespace {

using Converter = void (*)(NpapiBrowserHost&, const variant&, NPVariant&);

struct ConverterEntry {
    const void* tag;
    const std::type_info* type;
    Converter convert;
};

template <class T>
ConverterEntry converterFor(Converter convert) {
    return {variant::typeTagOf<T>(), &typeid(T), convert};
}

}  // namespace

void NpapiBrowserHost::toNPVariant(const variant& value, NPVariant& out) {
    auto toInt = [](NpapiBrowserHost&, const variant& v, NPVariant& o) {
        INT32_TO_NPVARIANT(v.convert<int>(), o);
    };
    auto toText = [](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
        host.browserString(v.convert<std::string>(), o);
    };
    auto toDouble = [](NpapiBrowserHost&, const variant& v, NPVariant& o) {
        DOUBLE_TO_NPVARIANT(v.convert<double>(), o);
    };
    // Built once per process; the stored type's tag picks the converter, the commonest types first.
    static const std::vector<ConverterEntry> converters = {
        converterFor<std::string>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            host.browserString(*v.peek<std::string>(), o);
        }),
        converterFor<bool>([](NpapiBrowserHost&, const variant& v, NPVariant& o) {
            BOOLEAN_TO_NPVARIANT(*v.peek<bool>(), o);
        }),
        converterFor<int>(toInt),
        converterFor<double>(toDouble),
        converterFor<variant_detail::empty>(
            [](NpapiBrowserHost&, const variant&, NPVariant& o) { VOID_TO_NPVARIANT(o); }),
        converterFor<JSAPIPtr>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            host.apiToNPVariant(*v.peek<JSAPIPtr>(), true, o);
        }),
        converterFor<JSObjectPtr>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            host.apiToNPVariant(*v.peek<JSObjectPtr>(), true, o);
        }),
        converterFor<JSAPIWeakPtr>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            JSAPIPtr api = v.peek<JSAPIWeakPtr>()->lock();
            host.apiToNPVariant(api, false, o);
        }),
        converterFor<variant_detail::null>(
            [](NpapiBrowserHost&, const variant&, NPVariant& o) { NULL_TO_NPVARIANT(o); }),
        converterFor<VariantList>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            host.arrayToNPVariant(*v.peek<VariantList>(), o);
        }),
        converterFor<VariantMap>([](NpapiBrowserHost& host, const variant& v, NPVariant& o) {
            host.mapToNPVariant(*v.peek<VariantMap>(), o);
        }),
        converterFor<std::wstring>(toText),
        converterFor<long>(toInt),
        converterFor<char>(toInt),
        converterFor<unsigned char>(toInt),
        converterFor<short>(toInt),
        converterFor<unsigned short>(toInt),
        converterFor<unsigned int>(toText),
        converterFor<unsigned long>(toText),
        converterFor<long long>(toText),
        converterFor<unsigned long long>(toText),
        converterFor<float>(toDouble),
    };
    const void* tag = value.typeTag();
    for (const ConverterEntry& entry : converters) {
        if (entry.tag == tag) {
            entry.convert(*this, value, out);
            return;
        }
    }
    // A variant made in another module carries another tag for a known type.
    const std::type_info& type = value.type();
    for (const ConverterEntry& entry : converters) {
        if (*entry.type == type) {
            entry.convert(*this, value, out);
            return;
        }
    }
}

void NpapiBrowserHost::objectToNPVariant(const JSObjectPtr& object, NPVariant& out) {
    // Only a browser object can be handed to the browser; anything else leaves `out` as it was.
    auto page = std::dynamic_pointer_cast<NPObjectAPI>(object);
    if (page && page->getNPObject() != nullptr) {
        OBJECT_TO_NPVARIANT(module_->retainObject(page->getNPObject()), out);
    }
}

void NpapiBrowserHost::arrayToNPVariant(const VariantList& list, NPVariant& out) {
    if (!pageWindow_) {
        return;
    }
    JSObjectPtr array = pageWindow_->invoke("Array", VariantList{}).convert<JSObjectPtr>();
    if (!array) {
        return;
    }
    for (const variant& element : list) {
        array->invoke("push", VariantList{element});
    }
    objectToNPVariant(array, out);
}

void NpapiBrowserHost::mapToNPVariant(const VariantMap& map, NPVariant& out) {
    if (!pageWindow_) {
        return;
    }
    JSObjectPtr object = pageWindow_->invoke("Object", VariantList{}).convert<JSObjectPtr>();
    if (!object) {
        return;
    }
    for (const auto& [key, value] : map) {
        object->setProperty(key, value);
    }
    objectToNPVariant(object, out);
}

void NpapiBrowserHost::apiToNPVariant(const JSAPIPtr& api, bool retain, NPVariant& out) {
    if (!api) {
        NULL_TO_NPVARIANT(out);
        return;
    }
    if (auto* page = dynamic_cast<NPObjectAPI*>(api.get())) {
        if (page->getNPObject() != nullptr) {
            OBJECT_TO_NPVARIANT(module_->retainObject(page->getNPObject()), out);
        } else {
            NULL_TO_NPVARIANT(out);
        }
        return;
    }
    NPJavascriptObject* wrapper = wrapperFor(api);
    if (wrapper == nullptr) {
        NULL_TO_NPVARIANT(out);
        return;
    }
    // The object stays alive while its wrapper does: retained once, when the wrapper first
    // carries it, not once per conversion (that would grow the host's list with every read).
    if (retain && wrapper->takeRetention()) {
        retainObject(api);
    }
    OBJECT_TO_NPVARIANT(wrapper, out);
}

const std::string& NpapiBrowserHost::identifierText(NPIdentifier identifier) const {
    return module_->identifier(identifier).text;
}

// ---- Wrapper cache and deferred release ------------------------------------------------------

NPJavascriptObject* NpapiBrowserHost::wrapperFor(const JSAPIWeakPtr& api) {
    JSAPIPtr live = api.lock();
    if (!live) {
        return NPJavascriptObject::createWrapper(sharedHost(), api, false);
    }
    const JSAPI* key = live.get();
    auto found = wrappers_.find(key);
    if (found != wrappers_.end()) {
        // A live wrapper bound to another object means the cached object died and its address was
        // reused: that entry is stale.
        NPJavascriptObject* wrapper = lockReference(found->second);
        if (wrapper != nullptr && wrapper->bindsTo(live)) {
            module_->retainObject(wrapper);
            return wrapper;
        }
        wrappers_.erase(found);
    }
    NPJavascriptObject* wrapper = NPJavascriptObject::createWrapper(sharedHost(), api, true);
    if (wrapper != nullptr) {
        wrappers_[key] = wrapper->weakReference();
    }
    return wrapper;
}

void NpapiBrowserHost::releaseLater(NPObject* object) {
    {
        std::lock_guard lock(releaseLock_);
        releaseQueue_.push_back(object);
    }
    if (onMainThread()) {
        deferredRelease();
    }
}

std::size_t NpapiBrowserHost::pendingReleases() const {
    std::lock_guard lock(releaseLock_);
    return releaseQueue_.size();
}

void NpapiBrowserHost::deferredRelease() {
    // One at a time outside the lock: a release may run plug-in code that queues more.
    for (;;) {
        NPObject* object = nullptr;
        {
            std::lock_guard lock(releaseLock_);
            if (releaseQueue_.empty()) {
                break;
            }
            object = releaseQueue_.front();
            releaseQueue_.pop_front();
        }
        module_->releaseObject(object);
    }
    for (auto it = wrappers_.begin(); it != wrappers_.end();) {
        if (it->second.expired()) {
            it = wrappers_.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Proxy, posting, streams -------------------------------------------------------------------

bool NpapiBrowserHost::detectProxySettings(const std::string& url,
                                           std::map<std::string, std::string>& settings) {
    char* value = nullptr;
    uint32_t length = 0;
    NPError result = getValueForURL(NPNURLVProxy, url.c_str(), &value, &length);
    if (result == NPERR_INCOMPATIBLE_VERSION_ERROR) {
        return BrowserHost::detectProxySettings(url, settings);
    }
    if (result != NPERR_NO_ERROR) {
        return false;
    }
    std::string answer = value != nullptr ? std::string(value, length) : std::string();
    module_->memFree(value);
    if (answer == "DIRECT") {
        return false;
    }
    settings.clear();
    std::string kind = answer;
    std::string address;
    if (auto blank = answer.find(' '); blank != std::string::npos) {
        kind = answer.substr(0, blank);
        address = answer.substr(blank + 1);
    }
    std::string host = address;
    std::string port;
    if (auto colon = address.find(':'); colon != std::string::npos) {
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
    }
    if (kind == "PROXY") {
        settings["type"] = urlScheme(url);
    } else if (kind == "SOCKS") {
        settings["type"] = "socks";
    } else {
        settings["type"] = kind;
    }
    settings["hostname"] = host;
    settings["port"] = port;
    return true;
}

bool NpapiBrowserHost::postToMainThread(MainThreadFunction func, void* userData) {
    if (isShutDown()) {
        return false;
    }
    // Without the entry a posted call would never run, so that is a failure to post.
    NPN_PluginThreadAsyncCallProcPtr post = asyncCall_.load();
    if (post == nullptr) {
        return false;
    }
    post(npp_, func, userData);
    return true;
}

BrowserStreamPtr NpapiBrowserHost::makeStream(const BrowserStreamRequest& request) {
    return openStream(request, false);
}

BrowserStreamPtr NpapiBrowserHost::makePostStream(const BrowserStreamRequest& request) {
    return openStream(request, true);
}

BrowserStreamPtr NpapiBrowserHost::openStream(const BrowserStreamRequest& request, bool post) {
    auto stream = std::make_shared<NpapiStream>(request.url, request.cache, request.seekable,
                                                request.internalBufferSize, sharedHost());
    if (request.callback) {
        stream->attachObserver(request.callback);
    }
    NPError result = NPERR_GENERIC_ERROR;
    if (post) {
        std::string body = "Content-type: application/x-www-form-urlencoded\n";
        body += "Content-Length: " + std::to_string(request.postData.size()) + "\n\n";
        body += request.postData;
        result = postURLNotify(request.url.c_str(), nullptr, static_cast<uint32_t>(body.size()), body.data(),
                               false, stream.get());
    } else {
        result = getURLNotify(request.url.c_str(), nullptr, stream.get());
    }
    if (result != NPERR_NO_ERROR) {
        return nullptr;
    }
    stream->keepAlive();
    StreamCreatedEvent created;
    stream->sendEvent(&created);
    return stream;
}

// ---- Thin callers ------------------------------------------------------------------------------

NPError NpapiBrowserHost::getValue(NPNVariable variable, void* value) const {
    return funcs_.getvalue ? funcs_.getvalue(npp_, variable, value) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::setValue(NPPVariable variable, void* value) const {
    return funcs_.setvalue ? funcs_.setvalue(npp_, variable, value) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::getURL(const char* url, const char* target) const {
    return funcs_.geturl ? funcs_.geturl(npp_, url, target) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::getURLNotify(const char* url, const char* target, void* notifyData) const {
    return funcs_.geturlnotify ? funcs_.geturlnotify(npp_, url, target, notifyData) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::postURL(const char* url, const char* target, uint32_t length, const char* body,
                                  bool file) const {
    return funcs_.posturl ? funcs_.posturl(npp_, url, target, length, body, file) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::postURLNotify(const char* url, const char* target, uint32_t length,
                                        const char* body, bool file, void* notifyData) const {
    return funcs_.posturlnotify ? funcs_.posturlnotify(npp_, url, target, length, body, file, notifyData)
                                : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::destroyStream(NPStream* stream, NPReason reason) const {
    return funcs_.destroystream ? funcs_.destroystream(npp_, stream, reason) : NPERR_GENERIC_ERROR;
}

void NpapiBrowserHost::status(const char* message) const {
    if (funcs_.status) {
        funcs_.status(npp_, message);
    }
}

const char* NpapiBrowserHost::userAgent() const {
    return funcs_.uagent ? funcs_.uagent(npp_) : nullptr;
}

void NpapiBrowserHost::invalidateRect(NPRect* rect) const {
    if (funcs_.invalidaterect) {
        funcs_.invalidaterect(npp_, rect);
    }
}

void NpapiBrowserHost::forceRedraw() const {
    if (funcs_.forceredraw) {
        funcs_.forceredraw(npp_);
    }
}

NPObject* NpapiBrowserHost::createObject(NPClass* npClass) const {
    return funcs_.createobject ? funcs_.createobject(npp_, npClass) : nullptr;
}

bool NpapiBrowserHost::invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                              NPVariant* result) const {
    return object != nullptr && funcs_.invoke && funcs_.invoke(npp_, object, name, args, count, result);
}

bool NpapiBrowserHost::invokeDefault(NPObject* object, const NPVariant* args, uint32_t count,
                                     NPVariant* result) const {
    return object != nullptr && funcs_.invokeDefault &&
           funcs_.invokeDefault(npp_, object, args, count, result);
}

bool NpapiBrowserHost::evaluate(NPObject* object, NPString* script, NPVariant* result) const {
    return object != nullptr && funcs_.evaluate && funcs_.evaluate(npp_, object, script, result);
}

bool NpapiBrowserHost::getProperty(NPObject* object, NPIdentifier name, NPVariant* result) const {
    return object != nullptr && funcs_.getproperty && funcs_.getproperty(npp_, object, name, result);
}

bool NpapiBrowserHost::setProperty(NPObject* object, NPIdentifier name, const NPVariant* value) const {
    return object != nullptr && funcs_.setproperty && funcs_.setproperty(npp_, object, name, value);
}

bool NpapiBrowserHost::removeProperty(NPObject* object, NPIdentifier name) const {
    return object != nullptr && funcs_.removeproperty && funcs_.removeproperty(npp_, object, name);
}

bool NpapiBrowserHost::hasProperty(NPObject* object, NPIdentifier name) const {
    return object != nullptr && funcs_.hasproperty && funcs_.hasproperty(npp_, object, name);
}

bool NpapiBrowserHost::hasMethod(NPObject* object, NPIdentifier name) const {
    return object != nullptr && funcs_.hasmethod && funcs_.hasmethod(npp_, object, name);
}

bool NpapiBrowserHost::enumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count) const {
    return object != nullptr && funcs_.enumerate && funcs_.enumerate(npp_, object, identifiers, count);
}

bool NpapiBrowserHost::construct(NPObject* object, const NPVariant* args, uint32_t count,
                                 NPVariant* result) const {
    return object != nullptr && funcs_.construct && funcs_.construct(npp_, object, args, count, result);
}

void NpapiBrowserHost::setException(NPObject* object, const char* message) const {
    if (funcs_.setexception) {
        funcs_.setexception(object, message);
    }
}

void NpapiBrowserHost::pushPopupsEnabledState(bool enabled) const {
    if (funcs_.pushpopupsenabledstate) {
        funcs_.pushpopupsenabledstate(npp_, enabled);
    }
}

void NpapiBrowserHost::popPopupsEnabledState() const {
    if (funcs_.poppopupsenabledstate) {
        funcs_.poppopupsenabledstate(npp_);
    }
}

NPError NpapiBrowserHost::getValueForURL(NPNURLVariable variable, const char* url, char** value,
                                         uint32_t* length) const {
    return funcs_.getvalueforurl ? funcs_.getvalueforurl(npp_, variable, url, value, length)
                                 : NPERR_INCOMPATIBLE_VERSION_ERROR;
}

uint32_t NpapiBrowserHost::scheduleTimer(uint32_t interval, bool repeat,
                                         void (*timerFunc)(NPP, uint32_t)) const {
    return funcs_.scheduletimer ? funcs_.scheduletimer(npp_, interval, repeat, timerFunc) : 0;
}

void NpapiBrowserHost::unscheduleTimer(uint32_t timerId) const {
    if (funcs_.unscheduletimer) {
        funcs_.unscheduletimer(npp_, timerId);
    }
}

}  // namespace FB::Npapi
