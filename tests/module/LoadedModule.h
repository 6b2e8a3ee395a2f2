// The built module (npKorvane.so or npKorvane.dll), loaded with the platform's loader and reached only
// through the entry points it exports, as a browser reaches it. The process-wide copy stays loaded
// until the process ends, so that leak reports can still name its code.
#pragma once

#include <string>

#include "SystemServices.h"
#include "npapi/npapi/npfunctions.h"

namespace moduletest {

struct LoadedModule {
    void* handle = nullptr;
    NP_GetEntryPointsFunc getEntryPoints = nullptr;
    // The platform's NP_Initialize: both tables on Unix, the browser table only on Windows.
    NP_InitializeFunc initialize = nullptr;
    NP_ShutdownFunc shutdown = nullptr;

    // Any other export, or null.
    template <class Function>
    Function entry(const char* name) const {
        return reinterpret_cast<Function>(testsys::moduleEntry(handle, name));
    }
};

// Loads the module at path; raises std::runtime_error with the loader's message when it cannot be
// loaded or lacks one of the three entry points.
LoadedModule loadModule(const std::string& path);
// The module at KORVANE_MODULE_PATH, loaded once per process.
const LoadedModule& loadedModule();
std::string modulePath();

}  // namespace moduletest
