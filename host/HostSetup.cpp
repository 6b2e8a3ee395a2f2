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
    options.stateMembers = {"version",       "lastError",    "lastLowLevelError", "lastErrorMessage",
                            "pinLength",     "isPinMissing", "isPinInvalid",      "pinModuleName",
                            "pinRetryCount", "pinState"};
    options.pinMethods = {"processPinChar", "deletePinChar"};
    options.pinProperties = {"pin"};
    options.pinRefusal =
        "Korvane asks for the PIN in its own window: a page cannot type, delete or set PIN characters on "
        "this "
        "path. Call signPkcs1 without a PIN; only setting \"pin\" to \"\" (to clear) is accepted.";
    options.allowLoopback = allowLoopback;
    return options;
}

HostArguments::Allowed allowedCallers() {
    return {{KORVANE_CHROMIUM_EXTENSION_ID}, {KORVANE_GECKO_EXTENSION_ID}};
}

}  // namespace HostSetup
