#pragma once

// Shows one of the plug-in's scriptable objects (JSAPI) to the page as an NPObject. The browser
// calls the NPClass callbacks, which forward to the JSAPI through the browser host's conversions.
// Besides the JSAPI's own members every object offers "addEventListener", "removeEventListener"
// and "getLastException".
//
// Threads: the browser calls every callback on its main thread.

#include <memory>

#include "npapi/ShareableReference.h"
#include "npapi/npapi/npruntime.h"
#include "scripting/JSAPI.h"
#include "scripting/variant.h"

namespace FB::Npapi {

class NpapiBrowserHost;
using NpapiBrowserHostPtr = std::shared_ptr<NpapiBrowserHost>;
using NpapiBrowserHostWeakPtr = std::weak_ptr<NpapiBrowserHost>;

class NPJavascriptObject : public NPObject {
  public:
    using WeakReference = ShareableReferenceWeakPtr<NPJavascriptObject>;

    virtual ~NPJavascriptObject();
    NPJavascriptObject(const NPJavascriptObject&) = delete;
    NPJavascriptObject& operator=(const NPJavascriptObject&) = delete;

    // The class record shared by all these objects; an NPObject whose _class is this record is
    // one of ours.
    static NPClass* npClass();
    static bool isOwnObject(const NPObject* object);
    // The whole object behind one of our NPObjects; null for null or a foreign object.
    static NPJavascriptObject* fromNPObject(NPObject* object);

    // A new object made through the browser (null if it made none); its creation reference is the
    // caller's.
    static NPJavascriptObject* createWrapper(const NpapiBrowserHostPtr& host, const JSAPIWeakPtr& api,
                                             bool releaseOnDestroy);

    void bindTo(const JSAPIWeakPtr& api, const NpapiBrowserHostWeakPtr& host);
    bool apiGone() const { return api_.expired(); }
    bool hostGone() const { return host_.expired(); }
    bool isValid() const { return valid_; }
    void invalidate();

    JSAPIWeakPtr api() const { return api_; }
    // Whether this wrapper shows `api` (same owner), without taking a reference.
    bool bindsTo(const JSAPIPtr& api) const { return !api_.owner_before(api) && !api.owner_before(api_); }
    // True once, for a cached wrapper that does not yet hold the host's retention of its object: the
    // caller then retains the object, and the wrapper gives that retention back when it goes. One
    // retention per wrapper, however often the page reads the object.
    bool takeRetention();
    WeakReference weakReference() const { return selfRef_; }

    // The message of the last script error any of these objects reported; empty before any.
    static const variant& lastException();

  private:
    explicit NPJavascriptObject(NPP npp);

    // The steps behind the NPClass callbacks, run inside the common frame, which holds the host and
    // the JSAPI for the call.
    bool hasMethod(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name);
    bool hasProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name);
    bool getProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name, NPVariant* result);
    bool setProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name, const NPVariant* value);
    bool removeProperty(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name);
    bool invoke(NpapiBrowserHost& host, JSAPI& api, NPIdentifier name, const NPVariant* args,
                uint32_t argCount, NPVariant* result);
    bool invokeDefault(NpapiBrowserHost& host, JSAPI& api, const NPVariant* args, uint32_t argCount,
                       NPVariant* result);
    bool enumerate(NpapiBrowserHost& host, JSAPI& api, NPIdentifier** identifiers, uint32_t* count);
    bool construct(NpapiBrowserHost& host, JSAPI& api, const NPVariant* args, uint32_t argCount,
                   NPVariant* result);

    template <class Operation>
    bool frame(NPVariant* result, Operation&& operation);
    void reportScriptError(const char* message);
    static bool hasMethod(JSAPI& api, const std::string& text);
    VariantList argumentList(NpapiBrowserHost& host, const NPVariant* args, uint32_t argCount) const;

    static NPObject* allocate(NPP npp, NPClass* npClass);
    static void deallocate(NPObject* object);
    static void invalidateCallback(NPObject* object);
    static bool hasMethodCallback(NPObject* object, NPIdentifier name);
    static bool invokeCallback(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                               NPVariant* result);
    static bool invokeDefaultCallback(NPObject* object, const NPVariant* args, uint32_t argCount,
                                      NPVariant* result);
    static bool hasPropertyCallback(NPObject* object, NPIdentifier name);
    static bool getPropertyCallback(NPObject* object, NPIdentifier name, NPVariant* result);
    static bool setPropertyCallback(NPObject* object, NPIdentifier name, const NPVariant* value);
    static bool removePropertyCallback(NPObject* object, NPIdentifier name);
    static bool enumerateCallback(NPObject* object, NPIdentifier** identifiers, uint32_t* count);
    static bool constructCallback(NPObject* object, const NPVariant* args, uint32_t argCount,
                                  NPVariant* result);

    JSAPIWeakPtr api_;
    NpapiBrowserHostWeakPtr host_;
    bool valid_ = true;
    bool releaseOnDestroy_ = false;
    bool holdsRetention_ = false;
    ShareableReferencePtr<NPJavascriptObject> selfRef_;
    JSAPIPtr addEventListener_;
    JSAPIPtr removeEventListener_;
    JSAPIPtr getLastException_;
};

}  // namespace FB::Npapi
