#pragma once

// Shows one browser NPObject (a page object or function) to the plug-in as a JSObject. Every
// operation becomes NPN_* calls on the browser's main thread; from other threads it is marshalled
// there and waited for. When the NPObject is one of the plug-in's own NPJavascriptObjects, the
// operations go straight to its JSAPI instead.
//
// Threads: any thread may use the object; the browser is only ever called on the main thread. The
// browser reference is given back on the main thread (through the host's releaseLater).

#include <memory>
#include <string>
#include <vector>

#include "npapi/npapi/npruntime.h"
#include "scripting/JSObject.h"

namespace FB::Npapi {

class NpapiBrowserHost;

class NPObjectAPI : public JSObject {
  public:
    // Retains object (null is allowed and gives an object that wraps nothing).
    NPObjectAPI(NPObject* object, const std::shared_ptr<NpapiBrowserHost>& host);
    ~NPObjectAPI() override;

    using JSAPI::getProperty;
    using JSAPI::hasMethod;
    using JSAPI::hasProperty;
    using JSAPI::invoke;
    using JSAPI::listMemberNames;
    using JSAPI::removeProperty;
    using JSAPI::setProperty;

    NPObject* getNPObject() const { return object_; }
    bool wrapsOwnObject() const { return wrapsOwnObject_; }

    // JSAPI
    void invalidate() override {}
    void listMemberNames(std::vector<std::string>& names) override;
    std::size_t countMembers() override;
    bool hasMethod(const std::string& name) override;
    bool hasProperty(int index) override;
    bool hasProperty(const std::string& name) override;
    variant getProperty(int index) override;
    variant getProperty(const std::string& name) override;
    void setProperty(int index, const variant& value) override;
    void setProperty(const std::string& name, const variant& value) override;
    void removeProperty(int index) override;
    void removeProperty(const std::string& name) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant construct(const VariantList& args) override;

    // JSObject
    bool isValid() const override;
    JSAPIPtr getWrappedAPI() const override;
    void* eventIdentity() const override { return object_; }
    void* eventContextOf() const override;
    bool acceptsEventBatches() const override { return true; }
    void deliverEventBatch(const std::string& name, const VariantList& args,
                           const std::vector<JSObjectPtr>& handlers,
                           const std::vector<JSObjectPtr>& interfaces) override;

  private:
    std::shared_ptr<NPObjectAPI> self();
    // Runs operation(*this) on the host's main thread and waits for its result.
    template <class R, class Operation>
    R marshal(NpapiBrowserHost& host, Operation operation);
    // Calls the page's call function with the given arguments; the result is dropped.
    void callThroughPage(NpapiBrowserHost& host, NPObject* callFunction, const std::vector<NPVariant>& args);

    std::weak_ptr<NpapiBrowserHost> host_;
    NPObject* object_ = nullptr;
    bool wrapsOwnObject_ = false;
    JSAPIWeakPtr ownApi_;
};

using NPObjectAPIPtr = std::shared_ptr<NPObjectAPI>;

}  // namespace FB::Npapi
