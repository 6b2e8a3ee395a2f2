// The browser table's entries. Each finds the current FakeBrowser, checks the thread and the
// instance it was given, and does what a browser does, recording what the tests look at.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "FakeBrowser.h"
#include "PageObject.h"

namespace FB::Npapi {

namespace {
// A string literal usable as a template argument, to name an absent entry in its report.
template <size_t N>
struct EntryName {
    char text[N];
    constexpr EntryName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

char* copyText(FakeBrowser& browser, const std::string& text) {
    auto* copy = static_cast<char*>(browser.memAlloc(static_cast<uint32_t>(text.size() + 1)));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

std::string textOf(const char* text) {
    return text == nullptr ? std::string("(null)") : std::string(text);
}
}  // namespace

#define FAKEBROWSER_NPN_ENTRIES(X) \
    X(geturl)                      \
    X(posturl)                     \
    X(requestread)                 \
    X(newstream)                   \
    X(write)                       \
    X(destroystream)               \
    X(status)                      \
    X(uagent)                      \
    X(memalloc)                    \
    X(memfree)                     \
    X(memflush)                    \
    X(reloadplugins)               \
    X(getJavaEnv)                  \
    X(getJavaPeer)                 \
    X(geturlnotify)                \
    X(posturlnotify)               \
    X(getvalue)                    \
    X(setvalue)                    \
    X(invalidaterect)              \
    X(invalidateregion)            \
    X(forceredraw)                 \
    X(getstringidentifier)         \
    X(getstringidentifiers)        \
    X(getintidentifier)            \
    X(identifierisstring)          \
    X(utf8fromidentifier)          \
    X(intfromidentifier)           \
    X(createobject)                \
    X(retainobject)                \
    X(releaseobject)               \
    X(invoke)                      \
    X(invokeDefault)               \
    X(evaluate)                    \
    X(getproperty)                 \
    X(setproperty)                 \
    X(removeproperty)              \
    X(hasproperty)                 \
    X(hasmethod)                   \
    X(releasevariantvalue)         \
    X(setexception)                \
    X(pushpopupsenabledstate)      \
    X(poppopupsenabledstate)       \
    X(enumerate)                   \
    X(pluginthreadasynccall)       \
    X(construct)                   \
    X(getvalueforurl)              \
    X(setvalueforurl)              \
    X(getauthenticationinfo)       \
    X(scheduletimer)               \
    X(unscheduletimer)             \
    X(popupcontextmenu)            \
    X(convertpoint)                \
    X(handleevent)                 \
    X(unfocusinstance)             \
    X(urlredirectresponse)

struct FakeBrowser::Entries {
    // The browser for an entry: none (after a problem is recorded) when the call must not go on.
    static FakeBrowser* enter(const char* entry, bool anyThread = false) {
        FakeBrowser* browser = current();
        if (browser == nullptr) {
            std::fprintf(stderr, "FakeBrowser: %s called while no browser exists\n", entry);
            return nullptr;
        }
        if (!anyThread && !browser->onMainThread()) {
            browser->problem(std::string(entry) + " called off the main thread");
            return nullptr;
        }
        return browser;
    }

    static void absent(const char* field) {
        if (FakeBrowser* browser = current()) {
            browser->problem("the plug-in called table entry '" + std::string(field) +
                             "', which a browser of minor version " +
                             std::to_string(browser->options_.minorVersion) + " does not have");
        }
    }

    // Stand-in for an entry beyond the browser's version: records the call, returns a zero value.
    template <EntryName Name, typename F>
    struct Absent;
    template <EntryName Name, typename R, typename... A>
    struct Absent<Name, R (*)(A...)> {
        static R call(A...) {
            absent(Name.text);
            if constexpr (!std::is_void_v<R>) {
                return R{};
            }
        }
    };

    static void log(FakeBrowser& b, std::string line) { b.callLog_.push_back(std::move(line)); }

    static NPError urlRequest(FakeBrowser& b, const char* entry, NPP npp, const char* url, const char* target,
                              std::string body, bool file, void* notifyData) {
        if (!b.instanceUsable(npp, entry)) {
            return NPERR_INVALID_INSTANCE_ERROR;
        }
        if (url == nullptr) {
            return NPERR_INVALID_URL;
        }
        UrlRequest request{entry, npp, url, std::nullopt, std::move(body), file, notifyData};
        if (target != nullptr) {
            request.target = target;
        }
        log(b, std::string(entry) + " " + url + " " + textOf(target));
        b.urlRequests_.push_back(std::move(request));
        return b.urlResult_;
    }

    static NPError geturl(NPP npp, const char* url, const char* target) {
        FakeBrowser* b = enter("NPN_GetURL");
        return b ? urlRequest(*b, "NPN_GetURL", npp, url, target, {}, false, nullptr) : NPERR_GENERIC_ERROR;
    }

    static NPError posturl(NPP npp, const char* url, const char* target, uint32_t len, const char* buf,
                           NPBool file) {
        FakeBrowser* b = enter("NPN_PostURL");
        return b ? urlRequest(*b, "NPN_PostURL", npp, url, target,
                              buf ? std::string(buf, len) : std::string(), file != 0, nullptr)
                 : NPERR_GENERIC_ERROR;
    }

    static NPError geturlnotify(NPP npp, const char* url, const char* target, void* notifyData) {
        FakeBrowser* b = enter("NPN_GetURLNotify");
        return b ? urlRequest(*b, "NPN_GetURLNotify", npp, url, target, {}, false, notifyData)
                 : NPERR_GENERIC_ERROR;
    }

    static NPError posturlnotify(NPP npp, const char* url, const char* target, uint32_t len, const char* buf,
                                 NPBool file, void* notifyData) {
        FakeBrowser* b = enter("NPN_PostURLNotify");
        return b ? urlRequest(*b, "NPN_PostURLNotify", npp, url, target,
                              buf ? std::string(buf, len) : std::string(), file != 0, notifyData)
                 : NPERR_GENERIC_ERROR;
    }

    // Streams are not delivered by this browser.
    static NPError requestread(NPStream*, NPByteRange*) {
        if (FakeBrowser* b = enter("NPN_RequestRead")) {
            log(*b, "NPN_RequestRead");
        }
        return NPERR_GENERIC_ERROR;
    }

    static NPError newstream(NPP npp, NPMIMEType, const char*, NPStream** stream) {
        if (FakeBrowser* b = enter("NPN_NewStream"); b && b->instanceUsable(npp, "NPN_NewStream")) {
            log(*b, "NPN_NewStream");
        }
        if (stream != nullptr) {
            *stream = nullptr;
        }
        return NPERR_GENERIC_ERROR;
    }

    static int32_t write(NPP npp, NPStream*, int32_t, void*) {
        if (FakeBrowser* b = enter("NPN_Write"); b && b->instanceUsable(npp, "NPN_Write")) {
            log(*b, "NPN_Write");
        }
        return -1;
    }

    static NPError destroystream(NPP npp, NPStream*, NPReason) {
        if (FakeBrowser* b = enter("NPN_DestroyStream"); b && b->instanceUsable(npp, "NPN_DestroyStream")) {
            log(*b, "NPN_DestroyStream");
        }
        return NPERR_GENERIC_ERROR;
    }

    static void status(NPP npp, const char* message) {
        if (FakeBrowser* b = enter("NPN_Status"); b && b->instanceUsable(npp, "NPN_Status")) {
            log(*b, "NPN_Status " + textOf(message));
        }
    }

    static const char* uagent(NPP npp) {
        FakeBrowser* b = enter("NPN_UserAgent");
        if (b == nullptr) {
            return nullptr;
        }
        b->instanceUsable(npp, "NPN_UserAgent", true);
        return b->options_.userAgent.c_str();
    }

    static void* memalloc(uint32_t size) {
        FakeBrowser* b = enter("NPN_MemAlloc", true);
        return b ? b->memAlloc(size) : nullptr;
    }

    static void memfree(void* block) {
        if (FakeBrowser* b = enter("NPN_MemFree", true)) {
            b->memFree(block);
        }
    }

    static uint32_t memflush(uint32_t) {
        enter("NPN_MemFlush", true);
        return 0;
    }

    static void reloadplugins(NPBool reloadPages) {
        if (FakeBrowser* b = enter("NPN_ReloadPlugins")) {
            log(*b, "NPN_ReloadPlugins " + std::to_string(reloadPages));
        }
    }

    // A browser without Java.
    static void* getJavaEnv() {
        enter("NPN_GetJavaEnv");
        return nullptr;
    }

    static void* getJavaPeer(NPP) {
        enter("NPN_GetJavaPeer");
        return nullptr;
    }

    static NPError getvalue(NPP npp, NPNVariable variable, void* value) {
        FakeBrowser* b = enter("NPN_GetValue");
        if (b == nullptr) {
            return NPERR_GENERIC_ERROR;
        }
        if (value == nullptr) {
            b->problem("NPN_GetValue without a place for the value");
            return NPERR_INVALID_PARAM;
        }
        bool perInstance = variable == NPNVWindowNPObject || variable == NPNVPluginElementNPObject ||
                           variable == NPNVdocumentOrigin;
        if (!b->instanceUsable(npp, "NPN_GetValue", !perInstance)) {
            return NPERR_INVALID_INSTANCE_ERROR;
        }
        if (b->refusedValues_.count(variable) != 0) {
            return NPERR_GENERIC_ERROR;
        }
        switch (variable) {
            case NPNVWindowNPObject:
                *static_cast<NPObject**>(value) = b->retain(b->window_);
                return NPERR_NO_ERROR;
            case NPNVPluginElementNPObject:
                *static_cast<NPObject**>(value) = b->retain(b->pluginElement(npp));
                return NPERR_NO_ERROR;
            case NPNVToolkit:
                *static_cast<NPNToolkitType*>(value) = NPToolkitGTK2;
                return NPERR_NO_ERROR;
            case NPNVSupportsXEmbedBool:
            case NPNVSupportsWindowless:
            case NPNVjavascriptEnabledBool:
                *static_cast<NPBool*>(value) = 1;
                return NPERR_NO_ERROR;
            case NPNVasdEnabledBool:
            case NPNVisOfflineBool:
            case NPNVprivateModeBool:
                *static_cast<NPBool*>(value) = 0;
                return NPERR_NO_ERROR;
            case NPNVdocumentOrigin:
                if (!b->options_.documentOrigin) {
                    return NPERR_GENERIC_ERROR;
                }
                *static_cast<char**>(value) = copyText(*b, *b->options_.documentOrigin);
                return NPERR_NO_ERROR;
            default:
                return NPERR_GENERIC_ERROR;
        }
    }

    static NPError setvalue(NPP npp, NPPVariable variable, void* value) {
        FakeBrowser* b = enter("NPN_SetValue");
        if (b == nullptr || !b->instanceUsable(npp, "NPN_SetValue")) {
            return NPERR_INVALID_INSTANCE_ERROR;
        }
        InstanceState& state = b->findInstance(npp)->state;
        state.setValues.emplace_back(variable, value);
        // Boolean variables travel as the pointer value itself.
        if (variable == NPPVpluginWindowBool) {
            state.windowed = value != nullptr;
        } else if (variable == NPPVpluginTransparentBool) {
            state.transparent = value != nullptr;
        }
        return NPERR_NO_ERROR;
    }

    static void invalidaterect(NPP npp, NPRect*) {
        if (FakeBrowser* b = enter("NPN_InvalidateRect"); b && b->instanceUsable(npp, "NPN_InvalidateRect")) {
            log(*b, "NPN_InvalidateRect");
        }
    }

    static void invalidateregion(NPP npp, NPRegion) {
        if (FakeBrowser* b = enter("NPN_InvalidateRegion");
            b && b->instanceUsable(npp, "NPN_InvalidateRegion")) {
            log(*b, "NPN_InvalidateRegion");
        }
    }

    static void forceredraw(NPP npp) {
        if (FakeBrowser* b = enter("NPN_ForceRedraw"); b && b->instanceUsable(npp, "NPN_ForceRedraw")) {
            log(*b, "NPN_ForceRedraw");
        }
    }

    static NPIdentifier getstringidentifier(const NPUTF8* name) {
        FakeBrowser* b = enter("NPN_GetStringIdentifier");
        if (b == nullptr) {
            return nullptr;
        }
        if (name == nullptr) {
            b->problem("NPN_GetStringIdentifier of a null name");
            return nullptr;
        }
        return b->identifiers_.forName(name);
    }

    static void getstringidentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) {
        FakeBrowser* b = enter("NPN_GetStringIdentifiers");
        if (b == nullptr || names == nullptr || ids == nullptr) {
            return;
        }
        for (int32_t i = 0; i < count; ++i) {
            ids[i] = names[i] ? b->identifiers_.forName(names[i]) : nullptr;
        }
    }

    static NPIdentifier getintidentifier(int32_t value) {
        FakeBrowser* b = enter("NPN_GetIntIdentifier");
        return b ? b->identifiers_.forInt(value) : nullptr;
    }

    static bool knownIdentifier(FakeBrowser& b, NPIdentifier id, const char* entry) {
        if (!b.identifiers_.known(id)) {
            b.problem(std::string(entry) + " of an identifier the browser never made");
            return false;
        }
        return true;
    }

    static bool identifierisstring(NPIdentifier id) {
        FakeBrowser* b = enter("NPN_IdentifierIsString");
        return b && knownIdentifier(*b, id, "NPN_IdentifierIsString") && b->identifiers_.isString(id);
    }

    // Integer identifiers have no text: null, as browsers give.
    static NPUTF8* utf8fromidentifier(NPIdentifier id) {
        FakeBrowser* b = enter("NPN_UTF8FromIdentifier");
        if (b == nullptr || !knownIdentifier(*b, id, "NPN_UTF8FromIdentifier")) {
            return nullptr;
        }
        auto name = b->identifiers_.name(id);
        return name ? copyText(*b, *name) : nullptr;
    }

    // A string identifier gives 0, as WebKit does.
    static int32_t intfromidentifier(NPIdentifier id) {
        FakeBrowser* b = enter("NPN_IntFromIdentifier");
        if (b == nullptr || !knownIdentifier(*b, id, "NPN_IntFromIdentifier")) {
            return 0;
        }
        return b->identifiers_.number(id).value_or(0);
    }

    static NPObject* createobject(NPP npp, NPClass* objectClass) {
        FakeBrowser* b = enter("NPN_CreateObject");
        if (b == nullptr || !b->instanceUsable(npp, "NPN_CreateObject")) {
            return nullptr;
        }
        if (objectClass == nullptr) {
            b->problem("NPN_CreateObject without a class");
            return nullptr;
        }
        return b->createObject(npp, objectClass, "plug-in object");
    }

    static NPObject* retainobject(NPObject* object) {
        FakeBrowser* b = enter("NPN_RetainObject");
        return b ? b->retain(object) : object;
    }

    static void releaseobject(NPObject* object) {
        if (FakeBrowser* b = enter("NPN_ReleaseObject")) {
            b->release(object);
        }
    }

    // Common checks of the script entries; `result` is set to void first where given.
    static FakeBrowser* scriptEntry(const char* entry, NPP npp, NPObject* object, NPVariant* result,
                                    bool needsResult) {
        if (result != nullptr) {
            result->type = NPVariantType_Void;
            result->value.objectValue = nullptr;
        }
        FakeBrowser* b = enter(entry);
        if (b == nullptr || !b->instanceUsable(npp, entry) || !b->objectUsable(object, entry)) {
            return nullptr;
        }
        if (needsResult && result == nullptr) {
            b->problem(std::string(entry) + " without a result variant");
            return nullptr;
        }
        return b;
    }

    static bool argumentsUsable(FakeBrowser& b, const char* entry, const NPVariant* args, uint32_t count) {
        if (count > 0 && args == nullptr) {
            b.problem(std::string(entry) + " with arguments missing");
            return false;
        }
        return true;
    }

    static bool invoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                       NPVariant* result) {
        FakeBrowser* b = scriptEntry("NPN_Invoke", npp, object, result, true);
        return b && knownIdentifier(*b, name, "NPN_Invoke") &&
               argumentsUsable(*b, "NPN_Invoke", args, count) &&
               b->doInvoke(object, name, args, count, result);
    }

    static bool invokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t count,
                              NPVariant* result) {
        FakeBrowser* b = scriptEntry("NPN_InvokeDefault", npp, object, result, true);
        return b && argumentsUsable(*b, "NPN_InvokeDefault", args, count) &&
               b->doInvokeDefault(object, args, count, result);
    }

    static bool construct(NPP npp, NPObject* object, const NPVariant* args, uint32_t count,
                          NPVariant* result) {
        FakeBrowser* b = scriptEntry("NPN_Construct", npp, object, result, true);
        return b && argumentsUsable(*b, "NPN_Construct", args, count) &&
               b->doConstruct(object, args, count, result);
    }

    static bool evaluate(NPP npp, NPObject* object, NPString* script, NPVariant* result) {
        FakeBrowser* b = scriptEntry("NPN_Evaluate", npp, object, result, true);
        if (b == nullptr || script == nullptr || script->UTF8Characters == nullptr) {
            return false;
        }
        return b->doEvaluate(object, std::string(script->UTF8Characters, script->UTF8Length), result);
    }

    static bool getproperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result) {
        FakeBrowser* b = scriptEntry("NPN_GetProperty", npp, object, result, true);
        return b && knownIdentifier(*b, name, "NPN_GetProperty") && b->doGetProperty(object, name, result);
    }

    static bool setproperty(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* value) {
        FakeBrowser* b = scriptEntry("NPN_SetProperty", npp, object, nullptr, false);
        if (b == nullptr || !knownIdentifier(*b, name, "NPN_SetProperty")) {
            return false;
        }
        if (value == nullptr) {
            b->problem("NPN_SetProperty without a value");
            return false;
        }
        return b->doSetProperty(object, name, value);
    }

    static bool removeproperty(NPP npp, NPObject* object, NPIdentifier name) {
        FakeBrowser* b = scriptEntry("NPN_RemoveProperty", npp, object, nullptr, false);
        return b && knownIdentifier(*b, name, "NPN_RemoveProperty") && b->doRemoveProperty(object, name);
    }

    static bool hasproperty(NPP npp, NPObject* object, NPIdentifier name) {
        FakeBrowser* b = scriptEntry("NPN_HasProperty", npp, object, nullptr, false);
        return b && knownIdentifier(*b, name, "NPN_HasProperty") && b->doHasProperty(object, name);
    }

    static bool hasmethod(NPP npp, NPObject* object, NPIdentifier name) {
        FakeBrowser* b = scriptEntry("NPN_HasMethod", npp, object, nullptr, false);
        return b && knownIdentifier(*b, name, "NPN_HasMethod") && b->doHasMethod(object, name);
    }

    static bool enumerate(NPP npp, NPObject* object, NPIdentifier** ids, uint32_t* count) {
        FakeBrowser* b = scriptEntry("NPN_Enumerate", npp, object, nullptr, false);
        if (b == nullptr || ids == nullptr || count == nullptr) {
            return false;
        }
        return b->doEnumerate(object, ids, count);
    }

    static void releasevariantvalue(NPVariant* variant) {
        if (FakeBrowser* b = enter("NPN_ReleaseVariantValue")) {
            b->releaseVariant(variant);
        }
    }

    static void setexception(NPObject* object, const NPUTF8* message) {
        FakeBrowser* b = enter("NPN_SetException");
        if (b == nullptr || (object != nullptr && !b->objectUsable(object, "NPN_SetException"))) {
            return;
        }
        b->exceptions_.push_back(RecordedException{object, message ? message : ""});
    }

    static void pushpopupsenabledstate(NPP npp, NPBool enabled) {
        if (FakeBrowser* b = enter("NPN_PushPopupsEnabledState");
            b && b->instanceUsable(npp, "NPN_PushPopupsEnabledState")) {
            log(*b, "NPN_PushPopupsEnabledState " + std::to_string(enabled));
        }
    }

    static void poppopupsenabledstate(NPP npp) {
        if (FakeBrowser* b = enter("NPN_PopPopupsEnabledState");
            b && b->instanceUsable(npp, "NPN_PopPopupsEnabledState")) {
            log(*b, "NPN_PopPopupsEnabledState");
        }
    }

    static void pluginthreadasynccall(NPP npp, void (*function)(void*), void* data) {
        FakeBrowser* b = enter("NPN_PluginThreadAsyncCall", true);
        if (b == nullptr) {
            return;
        }
        if (function == nullptr) {
            b->problem("NPN_PluginThreadAsyncCall without a function");
            return;
        }
        using Outcome = fakebrowser::PostedCallQueue::Outcome;
        switch (b->posted_.post({npp, function, data, std::this_thread::get_id()})) {
            case Outcome::Queued:
                break;
            case Outcome::DestroyedInstance:
                ++b->droppedPostedCalls_;
                break;
            case Outcome::UnknownInstance:
                b->problem("NPN_PluginThreadAsyncCall with an instance the browser does not know");
                break;
        }
    }

    static NPError getvalueforurl(NPP npp, NPNURLVariable variable, const char* url, char** value,
                                  uint32_t* len) {
        FakeBrowser* b = enter("NPN_GetValueForURL");
        if (b == nullptr || !b->instanceUsable(npp, "NPN_GetValueForURL")) {
            return NPERR_INVALID_INSTANCE_ERROR;
        }
        log(*b, "NPN_GetValueForURL " + std::to_string(variable) + " " + textOf(url));
        if (url == nullptr || value == nullptr || len == nullptr) {
            return NPERR_INVALID_PARAM;
        }
        if (variable != NPNURLVProxy) {
            return NPERR_GENERIC_ERROR;
        }
        if (b->proxyResult_ != NPERR_NO_ERROR) {
            return b->proxyResult_;
        }
        *value = copyText(*b, b->proxyAnswer_);
        *len = static_cast<uint32_t>(b->proxyAnswer_.size());
        return NPERR_NO_ERROR;
    }

    static NPError setvalueforurl(NPP npp, NPNURLVariable variable, const char* url, const char*, uint32_t) {
        if (FakeBrowser* b = enter("NPN_SetValueForURL"); b && b->instanceUsable(npp, "NPN_SetValueForURL")) {
            log(*b, "NPN_SetValueForURL " + std::to_string(variable) + " " + textOf(url));
        }
        return NPERR_GENERIC_ERROR;
    }

    static NPError getauthenticationinfo(NPP npp, const char*, const char*, int32_t, const char*, const char*,
                                         char**, uint32_t*, char**, uint32_t*) {
        if (FakeBrowser* b = enter("NPN_GetAuthenticationInfo")) {
            b->instanceUsable(npp, "NPN_GetAuthenticationInfo");
        }
        return NPERR_GENERIC_ERROR;
    }

    // Plug-in timers are not run by this browser: scheduling fails.
    static uint32_t scheduletimer(NPP npp, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
        if (FakeBrowser* b = enter("NPN_ScheduleTimer"); b && b->instanceUsable(npp, "NPN_ScheduleTimer")) {
            log(*b, "NPN_ScheduleTimer");
        }
        return 0;
    }

    static void unscheduletimer(NPP npp, uint32_t) {
        if (FakeBrowser* b = enter("NPN_UnscheduleTimer");
            b && b->instanceUsable(npp, "NPN_UnscheduleTimer")) {
            log(*b, "NPN_UnscheduleTimer");
        }
    }

    static NPError popupcontextmenu(NPP, NPMenu*) {
        enter("NPN_PopUpContextMenu");
        return NPERR_GENERIC_ERROR;
    }

    static NPBool convertpoint(NPP, double, double, NPCoordinateSpace, double*, double*, NPCoordinateSpace) {
        enter("NPN_ConvertPoint");
        return 0;
    }

    static NPBool handleevent(NPP, void*, NPBool) {
        enter("NPN_HandleEvent");
        return 0;
    }

    static NPBool unfocusinstance(NPP, NPFocusDirection) {
        enter("NPN_UnfocusInstance");
        return 0;
    }

    static void urlredirectresponse(NPP npp, void*, NPBool allow) {
        if (FakeBrowser* b = enter("NPN_URLRedirectResponse");
            b && b->instanceUsable(npp, "NPN_URLRedirectResponse")) {
            log(*b, "NPN_URLRedirectResponse " + std::to_string(allow));
        }
    }
};

void FakeBrowser::fillTable() {
    std::set<std::string> missing(options_.missingEntries.begin(), options_.missingEntries.end());
    funcs_ = NPNetscapeFuncs{};
    funcs_.size = tableSizeFor(options_.minorVersion);
    funcs_.version = options_.minorVersion;
#define FAKEBROWSER_FILL(field)                                                   \
    if (missing.erase(#field) != 0) {                                             \
        funcs_.field = nullptr;                                                   \
    } else if (offsetof(NPNetscapeFuncs, field) + sizeof(void*) <= funcs_.size) { \
        funcs_.field = &Entries::field;                                           \
    } else if (options_.poisonAbsentEntries) {                                    \
        funcs_.field = &Entries::Absent<#field, decltype(funcs_.field)>::call;    \
    }
    FAKEBROWSER_NPN_ENTRIES(FAKEBROWSER_FILL)
#undef FAKEBROWSER_FILL
    if (!missing.empty()) {
        throw std::invalid_argument("FakeBrowser: no table entry named " + *missing.begin());
    }
}

}  // namespace FB::Npapi
