#pragma once

#include <memory>
#include <string>

#include "core/PluginWindow.h"
#include "npapi/NpapiPlugin.h"

namespace FB::Npapi {

// The NPAPI instance object on Windows: records the platform, knows the module file it was loaded from,
// and owns the plug-in window while one exists.
class NpapiPluginWin : public NpapiPlugin {
  public:
    NpapiPluginWin(FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype);

    // A window that is gone, or one without a handle that is not a drawable, leaves the instance
    // windowless.
    NPError SetWindow(NPWindow* window) override;
    // Windows events (NPEvent) go to a windowless plug-in window only; this plug-in makes none, so no
    // event is handled.
    int16_t HandleEvent(void* event) override;

    // The path of the module file (the DLL) that holds this code, in UTF-8; empty when it cannot be read.
    static std::string modulePath();

  private:
    std::unique_ptr<PluginWindow> window_;
};

}  // namespace FB::Npapi
