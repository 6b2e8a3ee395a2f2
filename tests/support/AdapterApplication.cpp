// The application side of the framework for adapter tests that do not link the signing plug-in. Those
// tests install their own factory (NpapiPluginModule::setFactorySource); without one there is none.

#include <memory>
#include <string>

#include "core/FactoryBase.h"
#include "core/PluginApplication.h"

std::shared_ptr<FB::FactoryBase> processFactory() {
    return nullptr;
}

std::string nameOfPlugin() {
    return "Adapter test plug-in";
}

std::string descriptionForMime(const std::string& mimetype) {
    return mimetype == "application/x-adapter-test" ? "Adapter test plug-in 1.0" : "";
}

const char* pluginMimeDescription() {
    return "application/x-adapter-test::Adapter test plug-in 1.0;";
}

const char* pluginModuleDescription() {
    return "Adapter test plug-in 1.0";
}
