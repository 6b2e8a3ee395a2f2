// korvane-host: the native-messaging host through which the browser extension reaches the signing
// plug-in. The browser starts it for one page connection and ends it by closing its input.

#include <cstdio>
#include <string>
#include <vector>

#include "HostArguments.h"
#include "HostRegistration.h"
#include "HostSetup.h"
#include "messaging/MessagingConnection.h"
#include "platform/StdioMode.h"
#include "plugin/PluginIdentity.h"

int main(int argc, char* argv[]) {
    const HostArguments arguments(std::vector<std::string>(argv + 1, argv + argc));
    if (arguments.printVersion()) {
        std::printf("korvane-host %s\n", PluginIdentity::kVersion);
        return 0;
    }
    if (!arguments.unknownOption().empty()) {
        std::fprintf(stderr, "korvane-host: unknown option %s\n", arguments.unknownOption().c_str());
        return 2;
    }
    const auto scope = arguments.machine() ? HostRegistration::Scope::Machine : HostRegistration::Scope::User;
    if (arguments.registerHost())
        return HostRegistration::registerHost(scope);
    if (arguments.unregisterHost())
        return HostRegistration::unregisterHost(scope);
    if (arguments.machine()) {
        std::fprintf(stderr, "korvane-host: --machine goes with --register or --unregister\n");
        return 2;
    }
    if (!arguments.callerAllowed(HostSetup::allowedCallers())) {
        std::fprintf(stderr, "korvane-host: not started by the Korvane extension (caller \"%s\")\n",
                     arguments.caller().c_str());
        return 1;
    }
    std::FILE* messages = prepareMessageStreams();
    if (messages == nullptr) {
        std::fprintf(stderr, "korvane-host: cannot prepare the message streams\n");
        return 1;
    }
    FB::MessagingConnection connection(HostSetup::pluginFactory(),
                                       HostSetup::options(arguments.allowLoopback()), stdin, messages);
    const int status = connection.run();
    std::fclose(messages);
    return status;
}
