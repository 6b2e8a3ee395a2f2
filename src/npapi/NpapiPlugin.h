#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "npapi/BrowserPlugin.h"
#include "npapi/NpapiBrowserHost.h"
#include "npapi/npapi/npapi.h"

namespace FB::Npapi {

class NpapiPlugin;
using NpapiPluginPtr = std::shared_ptr<NpapiPlugin>;

// The NPAPI instance object of one embedded element: turns the browser's NPP_* calls into operations
// on the plug-in core, hands the browser the instance's scriptable object and serves the streams the
// plug-in opened through the browser.
//
// Threads: every operation runs on the browser's main thread.
class NpapiPlugin : public BrowserPlugin {
  public:
    NpapiPlugin(FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype);
    // Gives back the browser reference to the scriptable object.
    ~NpapiPlugin() override;

    // The core leaves its window and runs its shutdown hook.
    void shutdown() override;

    // Delivers the element's parameters (argc as the browser's signed 16-bit count; a pair with a null
    // value is left out, a repeated name keeps its later value), declares the instance windowless and
    // transparent, and signals readiness.
    virtual void init(const std::string& mimetype, int16_t argc, char* argn[], char* argv[]);
    // Tells the core the instance is ready, once: false without a call when already ready.
    virtual bool markReady();

    virtual NPError SetWindow(NPWindow* window);
    virtual NPError NewStream(NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
    virtual NPError DestroyStream(NPStream* stream, NPReason reason);
    virtual int32_t WriteReady(NPStream* stream);
    virtual int32_t Write(NPStream* stream, int32_t offset, int32_t len, void* buffer);
    virtual void StreamAsFile(NPStream* stream, const char* fname);
    virtual void Print(NPPrint* platformPrint);
    virtual int16_t HandleEvent(void* event);
    virtual void URLNotify(const char* url, NPReason reason, void* notifyData);
    virtual NPError GetValue(NPPVariable variable, void* value);
    virtual NPError SetValue(NPNVariable variable, void* value);

    const NpapiBrowserHostPtr& host() const { return host_; }
    bool isReady() const { return ready_; }
    const std::string& mimeType() const { return mimeType_; }
    const std::string& pluginName() const { return pluginName_; }
    const std::string& pluginDescription() const { return pluginDescription_; }
    // The browser object made for the root scriptable object; null until the browser asked for it.
    NPObject* scriptableObject() const { return scriptableObject_; }
    void setRetainReturnedObject(bool retain) { retainReturnedObject_ = retain; }

  private:
    NPObject* getScriptableObject();

    NPObject* scriptableObject_ = nullptr;
    NpapiBrowserHostPtr host_;
    bool retainReturnedObject_ = true;
    bool ready_ = false;
    std::string mimeType_;
    std::string pluginName_;
    std::string pluginDescription_;
};

}  // namespace FB::Npapi
