#pragma once

#include <memory>
#include <string>

#include "core/FactoryBase.h"
#include "core/PluginCore.h"

namespace FB {

// Base of a browser adapter's instance object: it owns the plug-in core of one embedded element and
// knows the file the module was loaded from.
class BrowserPlugin {
  public:
    // Asks factory for the plug-in core that serves mimetype.
    BrowserPlugin(FactoryBase& factory, const std::string& mimetype);
    virtual ~BrowserPlugin();
    BrowserPlugin(const BrowserPlugin&) = delete;
    BrowserPlugin& operator=(const BrowserPlugin&) = delete;

    // Tears the instance down when the browser destroys it.
    virtual void shutdown() = 0;
    // Records the module's path here and in the core.
    virtual void setFilesystemPath(const std::string& path);

    const std::string& filesystemPath() const { return filesystemPath_; }
    const PluginCorePtr& core() const { return core_; }

  private:
    std::string filesystemPath_;

  protected:
    PluginCorePtr core_;
};

}  // namespace FB
