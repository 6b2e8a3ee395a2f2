#include "LoadedModule.h"

#include <stdexcept>

namespace moduletest {

std::string modulePath() {
    return KORVANE_MODULE_PATH;
}

LoadedModule loadModule(const std::string& path) {
    std::string error;
    LoadedModule m;
    m.handle = testsys::loadModule(path, error);
    if (m.handle == nullptr) {
        throw std::runtime_error("cannot load " + path + ": " + error);
    }
    m.getEntryPoints = m.entry<NP_GetEntryPointsFunc>("NP_GetEntryPoints");
    m.initialize = m.entry<NP_InitializeFunc>("NP_Initialize");
    m.shutdown = m.entry<NP_ShutdownFunc>("NP_Shutdown");
    if (m.getEntryPoints == nullptr || m.initialize == nullptr || m.shutdown == nullptr) {
        throw std::runtime_error(path + " lacks one of NP_GetEntryPoints, NP_Initialize, NP_Shutdown");
    }
    return m;
}

const LoadedModule& loadedModule() {
    static const LoadedModule module = loadModule(KORVANE_MODULE_PATH);
    return module;
}

}  // namespace moduletest
