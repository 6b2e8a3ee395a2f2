#pragma once

#include <memory>
#include <string>

#include "core/FactoryBase.h"

// The module's factory: every instance the browser embeds becomes a Korvane.
class PluginFactory : public FB::FactoryBase {
  public:
    FB::PluginCorePtr makePlugin(const std::string& mimetype) override;
    void globalPluginInitialize() override {}
    void globalPluginDeinitialize() override {}
};

// The one factory of the process, made on the first call and kept until the module is unloaded.
std::shared_ptr<PluginFactory> processFactory();
