// The Unix module entry points. Browsers on Unix ask for the MIME description and the plug-in's name
// and description before initialising, and pass both function tables to NP_Initialize.

#include "core/PluginApplication.h"
#include "npapi/NpapiEntryPoints.h"
#include "npapi/platform/unix/NpapiPluginUnix.h"

namespace FB::Npapi {

NpapiBrowserHostPtr makeBrowserHost(NpapiPluginModule& module, NPP instance) {
    // Linux browsers post to the main thread with NPN_PluginThreadAsyncCall: always the plain host.
    return std::make_shared<NpapiBrowserHost>(&module, instance);
}

FactoryBase::NpapiInstanceMaker platformInstanceMaker() {
    return [](FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype) {
        return std::make_shared<NpapiPluginUnix>(factory, host, mimetype);
    };
}

}  // namespace FB::Npapi

extern "C" {

NP_EXPORT(const char*) NP_GetMIMEDescription(void) {
    return pluginMimeDescription();
}

NP_EXPORT(NPError) NP_GetValue(void* /*future*/, NPPVariable variable, void* value) {
    if (value == nullptr) {
        return NPERR_INVALID_PARAM;
    }
    switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char**>(value) = FB::Npapi::moduleName();
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char**>(value) = pluginModuleDescription();
            return NPERR_NO_ERROR;
        default:
            return NPERR_GENERIC_ERROR;
    }
}

NP_EXPORT(NPError) OSCALL NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs) {
    NPError result = FB::Npapi::initialize(browserFuncs);
    if (result != NPERR_NO_ERROR) {
        return result;
    }
    return FB::Npapi::getEntryPoints(pluginFuncs);
}

NP_EXPORT(NPError) OSCALL NP_GetEntryPoints(NPPluginFuncs* pluginFuncs) {
    return FB::Npapi::getEntryPoints(pluginFuncs);
}

NP_EXPORT(NPError) OSCALL NP_Shutdown(void) {
    return FB::Npapi::shutdown();
}

}  // extern "C"
