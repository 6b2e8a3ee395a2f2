#pragma once

#include <memory>
#include <string>

#include "npapi/NpapiPlugin.h"

namespace FB::Npapi {

// The NPAPI instance object on Linux: records the platform, knows the module file it was loaded from,
// and lets go of the core's window when the browser takes its window away.
class NpapiPluginUnix : public NpapiPlugin {
  public:
    NpapiPluginUnix(FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype);

    NPError SetWindow(NPWindow* window) override;

    // The path of the loaded module file that holds this code; empty when the loader cannot tell.
    static std::string modulePath();
};

}  // namespace FB::Npapi
