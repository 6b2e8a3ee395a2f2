// The smallest scriptable NPAPI plug-in: the browser's own cost of a page call, against which the
// page benchmark measures Korvane. Its object answers one property, "version", and one method,
// "echo", with no framework in between: identifiers are compared by address, texts are copied once
// into browser memory. It answers to its own MIME type, so that it loads next to npKorvane.

#include <cstring>

#include "npapi/npapi/npapi.h"
#include "npapi/npapi/npfunctions.h"
#include "npapi/npapi/npruntime.h"

namespace {

constexpr const char* kMimeDescription = "application/x-korvane-minimal::Minimal bench plug-in";
constexpr const char* kVersion = "1.1.0.0";

NPNetscapeFuncs* browser = nullptr;
NPIdentifier versionId = nullptr;
NPIdentifier echoId = nullptr;

bool textResult(const char* text, uint32_t length, NPVariant* result) {
    auto* copy = static_cast<char*>(browser->memalloc(length + 1));
    if (copy == nullptr) {
        return false;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    STRINGN_TO_NPVARIANT(copy, length, *result);
    return true;
}

bool hasMethod(NPObject*, NPIdentifier name) {
    return name == echoId;
}

bool invoke(NPObject*, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
    if (name != echoId || argCount < 1 || !NPVARIANT_IS_STRING(args[0])) {
        return false;
    }
    const NPString& text = NPVARIANT_TO_STRING(args[0]);
    return textResult(text.UTF8Characters, text.UTF8Length, result);
}

bool hasProperty(NPObject*, NPIdentifier name) {
    return name == versionId;
}

bool getProperty(NPObject*, NPIdentifier name, NPVariant* result) {
    if (name != versionId) {
        return false;
    }
    return textResult(kVersion, static_cast<uint32_t>(std::strlen(kVersion)), result);
}

NPClass scriptableClass = [] {
    NPClass c{};
    c.structVersion = NP_CLASS_STRUCT_VERSION_CTOR;
    c.hasMethod = &hasMethod;
    c.invoke = &invoke;
    c.hasProperty = &hasProperty;
    c.getProperty = &getProperty;
    return c;
}();

NPError newInstance(NPMIMEType, NPP instance, uint16_t, int16_t, char**, char**, NPSavedData*) {
    instance->pdata = nullptr;
    browser->setvalue(instance, NPPVpluginWindowBool, nullptr);
    return NPERR_NO_ERROR;
}

NPError destroyInstance(NPP instance, NPSavedData**) {
    if (instance->pdata != nullptr) {
        browser->releaseobject(static_cast<NPObject*>(instance->pdata));
        instance->pdata = nullptr;
    }
    return NPERR_NO_ERROR;
}

NPError setWindow(NPP, NPWindow*) {
    return NPERR_NO_ERROR;
}

NPError instanceValue(NPP instance, NPPVariable variable, void* value) {
    if (variable != NPPVpluginScriptableNPObject) {
        return NPERR_GENERIC_ERROR;
    }
    // One object per instance, kept until the instance goes; the browser gets a reference of its own.
    if (instance->pdata == nullptr) {
        instance->pdata = browser->createobject(instance, &scriptableClass);
    }
    auto* object = static_cast<NPObject*>(instance->pdata);
    if (object == nullptr) {
        return NPERR_OUT_OF_MEMORY_ERROR;
    }
    *static_cast<NPObject**>(value) = browser->retainobject(object);
    return NPERR_NO_ERROR;
}

}  // namespace

extern "C" {

NP_EXPORT(const char*) NP_GetMIMEDescription(void) {
    return kMimeDescription;
}

NP_EXPORT(NPError) NP_GetValue(void*, NPPVariable variable, void* value) {
    switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char**>(value) = "Korvane minimal bench plug-in";
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char**>(value) = "The browser's floor for page calls";
            return NPERR_NO_ERROR;
        default:
            return NPERR_GENERIC_ERROR;
    }
}

NP_EXPORT(NPError) OSCALL NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs) {
    if (browserFuncs == nullptr || pluginFuncs == nullptr) {
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    browser = browserFuncs;
    versionId = browser->getstringidentifier("version");
    echoId = browser->getstringidentifier("echo");
    pluginFuncs->version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    pluginFuncs->newp = &newInstance;
    pluginFuncs->destroy = &destroyInstance;
    pluginFuncs->setwindow = &setWindow;
    pluginFuncs->getvalue = &instanceValue;
    return NPERR_NO_ERROR;
}

NP_EXPORT(NPError) OSCALL NP_Shutdown(void) {
    browser = nullptr;
    return NPERR_NO_ERROR;
}

}  // extern "C"
