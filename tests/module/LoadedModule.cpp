#include "LoadedModule.h"

#include <dlfcn.h>

#include <stdexcept>

namespace moduletest {

namespace {

template <class Function>
Function entry(void* handle, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("npKorvane.so has no ") + name);
    }
    return reinterpret_cast<Function>(symbol);
}

}  // namespace

std::string modulePath() {
    return KORVANE_MODULE_PATH;
}

const LoadedModule& loadedModule() {
    static const LoadedModule module = [] {
        void* handle = dlopen(KORVANE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw std::runtime_error(std::string("cannot load npKorvane.so: ") + dlerror());
        }
        LoadedModule m;
        m.getMIMEDescription = entry<NP_GetMIMEDescriptionFunc>(handle, "NP_GetMIMEDescription");
        m.getValue = entry<NP_GetValueFunc>(handle, "NP_GetValue");
        m.initialize = entry<NP_InitializeFunc>(handle, "NP_Initialize");
        m.getEntryPoints = entry<NP_GetEntryPointsFunc>(handle, "NP_GetEntryPoints");
        m.shutdown = entry<NP_ShutdownFunc>(handle, "NP_Shutdown");
        return m;
    }();
    return module;
}

}  // namespace moduletest
