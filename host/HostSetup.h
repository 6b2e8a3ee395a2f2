#pragma once

#include "HostArguments.h"
#include "core/FactoryBase.h"
#include "messaging/MessagingConnection.h"

// What korvane-host serves: the signing plug-in, made by the module's own factory, with the state a page
// of the plug-in reads after each call, for the extension ids it was built for.
namespace HostSetup {

FB::FactoryBasePtr pluginFactory();
FB::MessagingOptions options(bool allowLoopback);
HostArguments::Allowed allowedCallers();

}  // namespace HostSetup
