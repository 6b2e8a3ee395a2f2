#include "HostSetup.h"

#include "plugin/PluginFactory.h"
#include "plugin/PluginIdentity.h"

namespace HostSetup {

FB::FactoryBasePtr pluginFactory() {
    return processFactory();
}

FB::MessagingOptions options(bool allowLoopback) {
    FB::MessagingOptions options;
    options.version = PluginIdentity::kVersion;
    options.mimeType = PluginIdentity::kMimeType;
    options.stateMembers = {"version",          "lastError",     "lastLowLevelError",
                            "lastErrorMessage", "pinLength",     "isPinMissing",
                            "isPinInvalid",     "pinModuleName", "pinRetryCount"};
    options.allowLoopback = allowLoopback;
    return options;
}

HostArguments::Allowed allowedCallers() {
    return {{KORVANE_CHROMIUM_EXTENSION_ID}, {KORVANE_GECKO_EXTENSION_ID}};
}

}  // namespace HostSetup
