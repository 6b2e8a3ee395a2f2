#pragma once

#include <memory>
#include <string>

#include "core/FactoryBase.h"
#include "core/PluginApplication.h"

// The module's factory: every instance the browser embeds becomes a Korvane.
class PluginFactory : public FB::FactoryBase {
  public:
    FB::PluginCorePtr makePlugin(const std::string& mimetype) override;
    void globalPluginInitialize() override {}
    // The module is being unloaded: the engines' shared state goes with it.
    void globalPluginDeinitialize() override;
};
