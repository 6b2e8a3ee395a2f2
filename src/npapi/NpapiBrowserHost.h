#pragma once

// The browser host of one NPAPI plug-in instance: its copy of the browser's function table, the
// value conversions between NPVariant and variant, the cache of browser wrappers of the plug-in's
// scriptable objects, and the release of browser objects on the main thread.
//
// Threads: NPN_* calls are made on the browser's main thread only. Other threads may post calls
// (postToMainThread) and queue objects for release (releaseLater); the release queue has its own
// lock. The wrapper cache, the table and the page objects are used on the main thread only.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/BrowserHost.h"
#include "npapi/NPJavascriptObject.h"
#include "npapi/NpapiPluginModule.h"
#include "npapi/npapi/npfunctions.h"

namespace FB::Npapi {

class NPObjectAPI;
using NPObjectAPIPtr = std::shared_ptr<NPObjectAPI>;

class NpapiBrowserHost : public BrowserHost {
  public:
    NpapiBrowserHost(NpapiPluginModule* module, NPP npp);
    ~NpapiBrowserHost() override;

    // Copies the browser's table (version-gated) and finds the page's window, the plug-in's element
    // and the document.
    void takeBrowserTable(const NPNetscapeFuncs* table);

    NPP npp() const { return npp_; }
    NpapiPluginModule& module() const { return *module_; }
    const NPNetscapeFuncs& funcs() const { return funcs_; }

    // Conversions. toNPVariant leaves `out` untouched for a type it has no converter for.
    variant toVariant(const NPVariant& value);
    void toNPVariant(const variant& value, NPVariant& out);
    NPVariant toNPVariant(const variant& value);
    // The text of a name identifier; empty for an integer identifier. Kept by the module.
    const std::string& identifierText(NPIdentifier identifier) const;

    // The browser wrapper of api: the cached one (retained once more) while it lives, else a new one
    // whose creation reference is the caller's. Null when the browser makes none.
    NPJavascriptObject* wrapperFor(const JSAPIWeakPtr& api);
    std::size_t wrapperCacheSize() const { return wrappers_.size(); }

    // Releases object on the main thread: now when called there, else at the next deferredRelease.
    virtual void releaseLater(NPObject* object);
    std::size_t pendingReleases() const;

    // BrowserHost
    void* contextIdentity() const override { return npp_; }
    DOM::DocumentPtr getPageDocument() override;
    DOM::WindowPtr getPageWindow() override;
    DOM::ElementPtr getPluginElement() override;
    void navigate(const std::string& url, const std::string& target) override;
    using BrowserHost::evaluateScript;
    void evaluateScript(const std::string& script) override;
    void shutdown() override;
    void deferredRelease() override;
    bool detectProxySettings(const std::string& url, std::map<std::string, std::string>& settings) override;
    bool postToMainThread(MainThreadFunction func, void* userData) override;

    // Thin callers of the browser's functions, through this host's table and with this instance.
    // Calls on a null object fail without reaching the browser.
    // A missing entry gives NPERR_INCOMPATIBLE_VERSION_ERROR for getValueForURL,
    // NPERR_GENERIC_ERROR for the NPError calls, and false, null or 0 otherwise.
    NPError getValue(NPNVariable variable, void* value) const;
    NPError setValue(NPPVariable variable, void* value) const;
    NPError getURL(const char* url, const char* target) const;
    NPError getURLNotify(const char* url, const char* target, void* notifyData) const;
    NPError postURL(const char* url, const char* target, uint32_t length, const char* body, bool file) const;
    NPError postURLNotify(const char* url, const char* target, uint32_t length, const char* body, bool file,
                          void* notifyData) const;
    NPError destroyStream(NPStream* stream, NPReason reason) const;
    void status(const char* message) const;
    const char* userAgent() const;
    void invalidateRect(NPRect* rect) const;
    void forceRedraw() const;
    NPObject* createObject(NPClass* npClass) const;
    bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                NPVariant* result) const;
    bool invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) const;
    bool evaluate(NPObject* object, NPString* script, NPVariant* result) const;
    bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result) const;
    bool setProperty(NPObject* object, NPIdentifier name, const NPVariant* value) const;
    bool removeProperty(NPObject* object, NPIdentifier name) const;
    bool hasProperty(NPObject* object, NPIdentifier name) const;
    bool hasMethod(NPObject* object, NPIdentifier name) const;
    bool enumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count) const;
    bool construct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) const;
    void setException(NPObject* object, const char* message) const;
    void pushPopupsEnabledState(bool enabled) const;
    void popPopupsEnabledState() const;
    NPError getValueForURL(NPNURLVariable variable, const char* url, char** value, uint32_t* length) const;
    uint32_t scheduleTimer(uint32_t interval, bool repeat, void (*timerFunc)(NPP, uint32_t)) const;
    void unscheduleTimer(uint32_t timerId) const;

    std::shared_ptr<NpapiBrowserHost> sharedHost() {
        return std::static_pointer_cast<NpapiBrowserHost>(shared_from_this());
    }

  protected:
    BrowserStreamPtr makeStream(const BrowserStreamRequest& request) override;
    BrowserStreamPtr makePostStream(const BrowserStreamRequest& request) override;

  private:
    // A copy of text in browser memory, as the browser expects strings it is handed to own.
    bool browserString(const std::string& text, NPVariant& out) const;
    void arrayToNPVariant(const VariantList& list, NPVariant& out);
    void mapToNPVariant(const VariantMap& map, NPVariant& out);
    void apiToNPVariant(const JSAPIPtr& api, bool retain, NPVariant& out);
    void objectToNPVariant(const JSObjectPtr& object, NPVariant& out);
    BrowserStreamPtr openStream(const BrowserStreamRequest& request, bool post);

    NPNetscapeFuncs funcs_{};
    // The posting entry as well, read from any thread; cleared by shutdown.
    std::atomic<NPN_PluginThreadAsyncCallProcPtr> asyncCall_{nullptr};
    NpapiPluginModule* module_;
    NPP npp_;
    JSObjectPtr pageDocument_;
    JSObjectPtr pageWindow_;
    JSObjectPtr pluginElement_;
    mutable std::mutex releaseLock_;
    std::deque<NPObject*> releaseQueue_;
    std::map<const JSAPI*, NPJavascriptObject::WeakReference> wrappers_;
};

}  // namespace FB::Npapi
