#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Log.h"
#include "core/PluginCore.h"
#include "core/PluginWindow.h"

namespace FB {

namespace Npapi {
class NpapiPlugin;
class NpapiBrowserHost;
}  // namespace Npapi

class FactoryBase;
using FactoryBasePtr = std::shared_ptr<FactoryBase>;

// Base of the module-wide factory that makes plug-in instances and the browser adapters' instance
// objects around them.
class FactoryBase : public std::enable_shared_from_this<FactoryBase> {
  public:
    // Made by the NPAPI adapter: its instance object for a host and a MIME type.
    using NpapiInstanceMaker = std::function<std::shared_ptr<Npapi::NpapiPlugin>(
        FactoryBase& factory, const std::shared_ptr<Npapi::NpapiBrowserHost>& host,
        const std::string& mimetype)>;

    virtual ~FactoryBase() = default;

    virtual PluginCorePtr makePlugin(const std::string& mimetype) = 0;

    // Called when the NPAPI module makes its first module object, and when it releases its last one.
    virtual void globalPluginInitialize() {}
    virtual void globalPluginDeinitialize() {}

    // The NPAPI instance object for host and mimetype. The core does not know the NPAPI adapter; the
    // adapter registers how its instance objects are made (setNpapiInstanceMaker), and without that
    // this raises std::logic_error.
    virtual std::shared_ptr<Npapi::NpapiPlugin> makeNpapiInstance(
        const std::shared_ptr<Npapi::NpapiBrowserHost>& host, const std::string& mimetype);
    static void setNpapiInstanceMaker(NpapiInstanceMaker maker);

    // Log output methods to install; none in this product, so nothing is ever printed.
    virtual void getLoggingMethods(std::vector<Log::Output>& outputs) {}
    virtual LogLevel getLogLevel() { return LogLevel::Info; }

    virtual std::unique_ptr<PluginWindow> createPluginWindow(const WindowContext& context);
    virtual std::unique_ptr<PluginWindowlessWindow> createPluginWindowlessWindow(
        const WindowlessWindowContext& context);
};

}  // namespace FB
