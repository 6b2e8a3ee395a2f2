// The Windows module entry points: the browser calls NP_GetEntryPoints and NP_Initialize (in either
// order), which takes only the browser's table, and NP_Shutdown last. The module learns its MIME type
// and names from the version resource, not from calls.

#include <cstring>
#include <optional>

#include "npapi/NpapiEntryPoints.h"
#include "npapi/platform/win/NpapiBrowserHostAsyncWin.h"
#include "npapi/platform/win/NpapiPluginWin.h"

namespace FB::Npapi {

namespace {

// The first browser version whose NPN_PluginThreadAsyncCall can be relied on.
constexpr uint16_t kAsyncCallVersion = 19;

// Made once per loaded module at the first NPP_New: whether instances get the message-window host.
std::optional<bool> messageWindowHostChosen;

bool chooseMessageWindowHost(NpapiPluginModule& module, NPP instance) {
    // WebKit browsers run posted calls unreliably, and old browsers lack the entry altogether.
    const char* agent = module.userAgent(instance);
    if (agent != nullptr && std::strstr(agent, "Safari") != nullptr) {
        return true;
    }
    return module.funcs().version < kAsyncCallVersion;
}

}  // namespace

NpapiBrowserHostPtr makeBrowserHost(NpapiPluginModule& module, NPP instance) {
    if (!messageWindowHostChosen) {
        messageWindowHostChosen = chooseMessageWindowHost(module, instance);
    }
    if (*messageWindowHostChosen) {
        module.withdrawPluginThreadAsyncCall();
        return std::make_shared<NpapiBrowserHostAsyncWin>(&module, instance);
    }
    return std::make_shared<NpapiBrowserHost>(&module, instance);
}

FactoryBase::NpapiInstanceMaker platformInstanceMaker() {
    return [](FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype) {
        return std::make_shared<NpapiPluginWin>(factory, host, mimetype);
    };
}

}  // namespace FB::Npapi

extern "C" {

NPError OSCALL NP_GetEntryPoints(NPPluginFuncs* pluginFuncs) {
    return FB::Npapi::getEntryPoints(pluginFuncs);
}

NPError OSCALL NP_Initialize(NPNetscapeFuncs* browserFuncs) {
    return FB::Npapi::initialize(browserFuncs);
}

NPError OSCALL NP_Shutdown(void) {
    return FB::Npapi::shutdown();
}

}  // extern "C"
