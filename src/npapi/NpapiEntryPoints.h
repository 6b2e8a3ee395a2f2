#pragma once

// The module's NPAPI face: the NPP_* callbacks it hands the browser, the per-instance record kept in
// NPP->pdata, and the steps of the module entry points (NP_GetEntryPoints, NP_Initialize,
// NP_Shutdown), which each platform exports under its own calling sequence.
//
// Threads: the browser calls all of these on its main thread, one at a time; nothing here locks.

#include <cstdint>
#include <memory>

#include "npapi/NpapiBrowserHost.h"
#include "npapi/NpapiPlugin.h"
#include "npapi/NpapiPluginModule.h"
#include "npapi/npapi/npfunctions.h"

namespace FB::Npapi {

// What NPP->pdata points to from a successful NPP_New until NPP_Destroy.
struct NpapiInstanceRecord {
    NpapiBrowserHostPtr host;
    NpapiPluginPtr plugin;
};

// Module entry point steps. A null table is refused with NPERR_INVALID_FUNCTABLE_ERROR.
NPError getEntryPoints(NPPluginFuncs* pluginFuncs);
NPError initialize(NPNetscapeFuncs* browserFuncs);
NPError shutdown();

// Writes the thirteen callbacks into the browser's table, only those its `size` covers; `size`,
// `version` and `javaClass` stay as the browser set them.
void fillPluginFuncs(NPPluginFuncs& pluginFuncs);

// The plug-in's name and description for callers without an instance, computed once and kept.
const char* moduleName();
const char* moduleDescription();

// The instance callbacks.
NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NPP_Print(NPP instance, NPPrint* platformPrint);
int16_t NPP_HandleEvent(NPP instance, void* event);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value);
NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value);

// Supplied by the platform folder: the browser host kind of this platform for one instance, and how
// the factory makes this platform's instance objects.
NpapiBrowserHostPtr makeBrowserHost(NpapiPluginModule& module, NPP instance);
FactoryBase::NpapiInstanceMaker platformInstanceMaker();
// Registers platformInstanceMaker with the factory, once per process.
void registerInstanceMaker();

}  // namespace FB::Npapi
