#pragma once

// What the application built on this framework supplies to the browser adapters: its factory and the
// names and descriptions the browser shows. The adapters only declare a need for them; the application
// (src/plugin) defines them, and only the loadable module links the two together.

#include <memory>
#include <string>

namespace FB {
class FactoryBase;
}

// The one factory of the process, made on the first call and kept until the module is unloaded.
std::shared_ptr<FB::FactoryBase> processFactory();

// The plug-in's name, as the browser lists it.
std::string nameOfPlugin();

// The description registered for mimetype in the MIME description string; empty for a type it does not
// list, "Unknown Description" if the lookup itself fails.
std::string descriptionForMime(const std::string& mimetype);

// Every MIME type the plug-in serves, as "type:extensions:description" entries each ended by ";".
const char* pluginMimeDescription();

// The module's own description, as the browser lists the module.
const char* pluginModuleDescription();
