#include "npapi/platform/unix/NpapiPluginUnix.h"

#include <dlfcn.h>

namespace FB::Npapi {

NpapiPluginUnix::NpapiPluginUnix(FactoryBase& factory, const NpapiBrowserHostPtr& host,
                                 const std::string& mimetype)
    : NpapiPlugin(factory, host, mimetype) {
    PluginCore::recordPlatform("Linux", "NPAPI");
    setFilesystemPath(modulePath());
}

NPError NpapiPluginUnix::SetWindow(NPWindow* window) {
    // A window that is gone, or one without a handle that is not a drawable, leaves the core windowless.
    if (window == nullptr || (window->window == nullptr && window->type != NPWindowTypeDrawable)) {
        core()->clearWindow();
    }
    return NPERR_NO_ERROR;
}

std::string NpapiPluginUnix::modulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&NpapiPluginUnix::modulePath), &info) != 0 &&
        info.dli_fname != nullptr) {
        return info.dli_fname;
    }
    return {};
}

}  // namespace FB::Npapi
