// The built npKorvane.so, loaded once per process with dlopen and reached only through the entry points
// it exports, as a browser reaches it. The module stays loaded until the process ends, so that leak
// reports can still name its code.
#pragma once

#include <string>

#include "npapi/npapi/npfunctions.h"

namespace moduletest {

struct LoadedModule {
    NP_GetMIMEDescriptionFunc getMIMEDescription = nullptr;
    NP_GetValueFunc getValue = nullptr;
    NP_InitializeFunc initialize = nullptr;
    NP_GetEntryPointsFunc getEntryPoints = nullptr;
    NP_ShutdownFunc shutdown = nullptr;
};

// The module at KORVANE_MODULE_PATH; raises std::runtime_error with the loader's message when it
// cannot be loaded or lacks an entry point.
const LoadedModule& loadedModule();
std::string modulePath();

}  // namespace moduletest
