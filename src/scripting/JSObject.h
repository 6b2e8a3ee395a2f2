#pragma once

// The plug-in's handle on an object that lives in the page's script engine (a page function given
// as an event handler, an array or object passed as an argument, the page window). The browser
// adapter implements the operations; this class adds asynchronous calls through the browser host
// and the readers that turn a page array or object into a VariantList or VariantMap.

#include <memory>
#include <string>
#include <vector>

#include "scripting/JSAPI.h"
#include "scripting/ScriptHost.h"

namespace FB {

class JSObject : public JSAPI {
  public:
    explicit JSObject(std::weak_ptr<ScriptHost> host) : host_(std::move(host)) {}
    ~JSObject() override;

    // Identity of this handler object, used to recognise the same page function twice. When a
    // subclass reports none, the object's own address stands in for it.
    virtual void* eventIdentity() const { return nullptr; }
    // The script context (page) the object belongs to; event handlers are filed under it.
    virtual void* eventContextOf() const { return nullptr; }
    // Whether deliverEventBatch can carry one event to many handlers of one context at once.
    virtual bool acceptsEventBatches() const { return false; }
    // Delivers one event to `handlers` (called as functions) and `interfaces` (their method `name`
    // is called), all of this object's context, in one request.
    virtual void deliverEventBatch(const std::string& name, const VariantList& args,
                                   const std::vector<JSObjectPtr>& handlers,
                                   const std::vector<JSObjectPtr>& interfaces) {}

    // Whether the page object can still be used.
    virtual bool isValid() const = 0;

    // Schedules invoke(name, args) on the browser's main thread, keeping this object alive until it
    // runs. Raises std::runtime_error "Cannot invoke asynchronously" when the host is gone.
    virtual void invokeLater(const std::string& name, const VariantList& args);
    // Schedules setProperty(name, value) the same way.
    virtual void setPropertyLater(const std::string& name, const variant& value);

    // When this page object is the browser's wrapper of one of the plug-in's own scriptable objects,
    // that object; else null.
    virtual JSAPIPtr getWrappedAPI() const = 0;

    std::weak_ptr<ScriptHost> scriptHost() const { return host_; }

  protected:
    // The main-thread steps of invokeLater and setPropertyLater: hand the call to the host.
    virtual void invokeOnMainThread(const std::string& name, const VariantList& args);
    virtual void setPropertyOnMainThread(const std::string& name, const variant& value);

    JSObjectPtr sharedSelf();

  private:
    std::weak_ptr<ScriptHost> host_;
};

// Appends the page array's elements 0 .. length - 1 to `values`; nothing for a null object.
void readArrayValues(const JSObjectPtr& object, VariantList& values);
// The same for an array of at most `maxLength` elements: a longer "length" raises invalid_arguments
// before any element is read.
void readArrayValues(const JSObjectPtr& object, VariantList& values, std::size_t maxLength);
// Inserts every enumerated member of the page object with its value; nothing for a null object.
void readObjectValues(const JSObjectPtr& object, VariantMap& values);

}  // namespace FB
