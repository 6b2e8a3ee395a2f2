#include "npapi/NpapiEntryPoints.h"

#include <cstddef>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "core/PluginApplication.h"

namespace FB::Npapi {

namespace {

// Null for a bad instance: no NPP, or one without a record.
NpapiInstanceRecord* recordOf(NPP instance) {
    return instance != nullptr ? static_cast<NpapiInstanceRecord*>(instance->pdata) : nullptr;
}

// Runs call on the instance object, held for the length of the call so that nothing the call sets off
// can destroy it under our feet. badInstance answers a bad instance, noPlugin a record without an
// instance object. No exception crosses into the browser: one that escapes gives failed.
template <class Result, class Call>
Result forward(NPP instance, Result badInstance, Result noPlugin, Result failed, Call&& call) {
    auto* record = recordOf(instance);
    if (record == nullptr) {
        return badInstance;
    }
    NpapiPluginPtr plugin = record->plugin;
    if (!plugin) {
        return noPlugin;
    }
    try {
        return call(*plugin);
    } catch (const std::exception&) {
        return failed;
    }
}

// Shuts the host and the instance object down, in that order, and frees the record.
void tearDown(NPP instance) {
    auto* record = recordOf(instance);
    if (record == nullptr) {
        return;
    }
    NpapiBrowserHostPtr host = record->host;
    NpapiPluginPtr plugin = record->plugin;
    // The record goes whatever happens: the browser forgets the instance after this.
    try {
        if (host) {
            host->shutdown();
        }
        if (plugin) {
            plugin->shutdown();
        }
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    }
    instance->pdata = nullptr;
    delete record;
}

}  // namespace

// ---- Module entry points -----------------------------------------------------------------------

void fillPluginFuncs(NPPluginFuncs& pluginFuncs) {
    const std::size_t size = pluginFuncs.size;
    // Browsers hand over tables of their own vintage; nothing past `size` belongs to us.
#define KORVANE_FILL_ENTRY(field, function)                                   \
    if (offsetof(NPPluginFuncs, field) + sizeof(pluginFuncs.field) <= size) { \
        pluginFuncs.field = function;                                         \
    }
    KORVANE_FILL_ENTRY(newp, NPP_New)
    KORVANE_FILL_ENTRY(destroy, NPP_Destroy)
    KORVANE_FILL_ENTRY(setwindow, NPP_SetWindow)
    KORVANE_FILL_ENTRY(newstream, NPP_NewStream)
    KORVANE_FILL_ENTRY(destroystream, NPP_DestroyStream)
    KORVANE_FILL_ENTRY(asfile, NPP_StreamAsFile)
    KORVANE_FILL_ENTRY(writeready, NPP_WriteReady)
    KORVANE_FILL_ENTRY(write, NPP_Write)
    KORVANE_FILL_ENTRY(print, NPP_Print)
    KORVANE_FILL_ENTRY(event, NPP_HandleEvent)
    KORVANE_FILL_ENTRY(urlnotify, NPP_URLNotify)
    KORVANE_FILL_ENTRY(getvalue, NPP_GetValue)
    KORVANE_FILL_ENTRY(setvalue, NPP_SetValue)
#undef KORVANE_FILL_ENTRY
}

NPError getEntryPoints(NPPluginFuncs* pluginFuncs) {
    if (pluginFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    NpapiPluginModule::acquire();
    fillPluginFuncs(*pluginFuncs);
    return NPERR_NO_ERROR;
}

NPError initialize(NPNetscapeFuncs* browserFuncs) {
    if (browserFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    NpapiPluginModule::acquire()->takeBrowserTable(*browserFuncs);
    return NPERR_NO_ERROR;
}

NPError shutdown() {
    NpapiPluginModule::release();
    return NPERR_NO_ERROR;
}

const char* moduleName() {
    static const std::string name = nameOfPlugin();
    return name.c_str();
}

const char* moduleDescription() {
    // An instance describes its own MIME type; without one there is none to describe.
    static const std::string description = descriptionForMime("");
    return description.c_str();
}

void registerInstanceMaker() {
    static const bool registered = [] {
        FactoryBase::setNpapiInstanceMaker(platformInstanceMaker());
        return true;
    }();
    (void)registered;
}

// ---- Instance callbacks ------------------------------------------------------------------------

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t /*mode*/, int16_t argc, char* argn[],
                char* argv[], NPSavedData* /*saved*/) {
    if (instance == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    NpapiBrowserHostPtr host;
    bool recordStored = false;
    // The browser never destroys an instance whose creation failed: nothing may stay behind, and the
    // host must let go of the page objects it fetched.
    auto undo = [&] {
        if (recordStored) {
            tearDown(instance);
        } else if (host) {
            host->shutdown();
        }
    };
    try {
        NpapiPluginModule* module = NpapiPluginModule::acquire();
        try {
            host = makeBrowserHost(*module, instance);
        } catch (const std::exception& e) {
            std::printf("%s\n", e.what());
        }
        if (!host) {
            return NPERR_GENERIC_ERROR;
        }
        host->takeBrowserTable(&module->funcs());

        registerInstanceMaker();
        const std::string mimeType = pluginType != nullptr ? pluginType : "";
        NpapiPluginPtr plugin = processFactory()->makeNpapiInstance(host, mimeType);
        if (!plugin) {
            undo();
            return NPERR_OUT_OF_MEMORY_ERROR;
        }
        instance->pdata = new NpapiInstanceRecord{host, plugin};
        recordStored = true;
        plugin->init(mimeType, argc, argn, argv);
        return NPERR_NO_ERROR;
    } catch (const std::bad_alloc& e) {
        std::printf("%s\n", e.what());
        undo();
        return NPERR_OUT_OF_MEMORY_ERROR;
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        undo();
        return NPERR_GENERIC_ERROR;
    }
}

NPError NPP_Destroy(NPP instance, NPSavedData** /*save*/) {
    if (recordOf(instance) == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    tearDown(instance);
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* /*window*/) {
    if (recordOf(instance) == nullptr) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    // The instance is windowless and draws nothing; the window is not passed on.
    return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype) {
    return forward<NPError>(
        instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR, NPERR_GENERIC_ERROR,
        [&](NpapiPlugin& plugin) { return plugin.NewStream(type, stream, seekable, stype); });
}

NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason) {
    return forward<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR, NPERR_GENERIC_ERROR,
                            [&](NpapiPlugin& plugin) { return plugin.DestroyStream(stream, reason); });
}

void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname) {
    forward<int>(instance, 0, 0, 0, [&](NpapiPlugin& plugin) {
        plugin.StreamAsFile(stream, fname);
        return 0;
    });
}

// NPP_WriteReady and NPP_Write give the error numbers as byte counts; a failure is -1, which makes the
// browser end the stream.
int32_t NPP_WriteReady(NPP instance, NPStream* stream) {
    return forward<int32_t>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR, -1,
                            [&](NpapiPlugin& plugin) { return plugin.WriteReady(stream); });
}

int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    return forward<int32_t>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR, -1,
                            [&](NpapiPlugin& plugin) { return plugin.Write(stream, offset, len, buffer); });
}

void NPP_Print(NPP instance, NPPrint* platformPrint) {
    forward<int>(instance, 0, 0, 0, [&](NpapiPlugin& plugin) {
        plugin.Print(platformPrint);
        return 0;
    });
}

int16_t NPP_HandleEvent(NPP instance, void* event) {
    return forward<int16_t>(instance, 0, 0, 0,
                            [&](NpapiPlugin& plugin) { return plugin.HandleEvent(event); });
}

void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData) {
    forward<int>(instance, 0, 0, 0, [&](NpapiPlugin& plugin) {
        plugin.URLNotify(url, reason, notifyData);
        return 0;
    });
}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
    if (value == nullptr) {
        return NPERR_INVALID_PARAM;
    }
    if (recordOf(instance) == nullptr) {
        switch (variable) {
            case NPPVpluginNameString:
                *static_cast<const char**>(value) = moduleName();
                return NPERR_NO_ERROR;
            case NPPVpluginDescriptionString:
                *static_cast<const char**>(value) = moduleDescription();
                return NPERR_NO_ERROR;
            default:
                return NPERR_GENERIC_ERROR;
        }
    }
    // A record without an instance object answers nothing and leaves value alone.
    return forward<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_NO_ERROR, NPERR_GENERIC_ERROR,
                            [&](NpapiPlugin& plugin) { return plugin.GetValue(variable, value); });
}

NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value) {
    return forward<NPError>(instance, NPERR_INVALID_INSTANCE_ERROR, NPERR_GENERIC_ERROR, NPERR_GENERIC_ERROR,
                            [&](NpapiPlugin& plugin) { return plugin.SetValue(variable, value); });
}

}  // namespace FB::Npapi
