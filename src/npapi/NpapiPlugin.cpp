#include "npapi/NpapiPlugin.h"

#include <algorithm>

#include "npapi/NPJavascriptObject.h"
#include "npapi/NpapiStream.h"
#include "npapi/NpapiStreamEvents.h"
#include "core/PluginApplication.h"

namespace FB::Npapi {

namespace {

// The plug-in's stream object that a browser stream carries, if any: streams the plug-in opens pass
// their NpapiStream as notifyData.
NpapiStream* streamOf(const NPStream* stream) {
    return stream != nullptr ? static_cast<NpapiStream*>(stream->notifyData) : nullptr;
}

}  // namespace

NpapiPlugin::NpapiPlugin(FactoryBase& factory, const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : BrowserPlugin(factory, mimetype),
      host_(host),
      mimeType_(mimetype),
      pluginName_(nameOfPlugin()),
      pluginDescription_(descriptionForMime(mimetype)) {
    core_->attachHost(host_);
}

NpapiPlugin::~NpapiPlugin() {
    // Through the module's table: the host's own table is already zeroed by NPP_Destroy.
    if (scriptableObject_ != nullptr && host_) {
        host_->module().releaseObject(scriptableObject_);
    }
    scriptableObject_ = nullptr;
}

void NpapiPlugin::shutdown() {
    core_->clearWindow();
    core_->onShutdown();
}

void NpapiPlugin::init(const std::string& /*mimetype*/, int16_t argc, char* argn[], char* argv[]) {
    VariantMap params;
    for (int16_t i = 0; i < argc; ++i) {
        if (argv == nullptr || argv[i] == nullptr || argn == nullptr || argn[i] == nullptr) {
            continue;
        }
        params[argn[i]] = variant(std::string(argv[i]));
    }
    core_->storeParams(params);

    // Every instance draws nothing of its own: windowless and transparent. Results do not matter.
    host_->setValue(NPPVpluginWindowBool, reinterpret_cast<void*>(false));
    host_->setValue(NPPVpluginTransparentBool, reinterpret_cast<void*>(true));

    markReady();
}

bool NpapiPlugin::markReady() {
    if (ready_) {
        return false;
    }
    ready_ = core_->markReady();
    return ready_;
}

NPError NpapiPlugin::SetWindow(NPWindow* /*window*/) {
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::NewStream(NPMIMEType /*type*/, NPStream* stream, NPBool seekable, uint16_t* stype) {
    NpapiStream* s = streamOf(stream);
    if (s == nullptr) {
        return NPERR_NO_ERROR;
    }
    s->setStreamHandle(stream);
    if (s->seekable() && !seekable) {
        StreamOpenFailedEvent failed;
        s->sendEvent(&failed);
        s->setStreamHandle(nullptr);
        return NPERR_STREAM_NOT_SEEKABLE;
    }
    if (stype != nullptr) {
        if (s->seekable()) {
            *stype = NP_SEEK;
        } else if (s->cache()) {
            *stype = NP_ASFILE;
        } else {
            *stype = NP_NORMAL;
        }
    }
    if (!s->isOpen()) {
        s->opened();
    }
    return NPERR_NO_ERROR;
}

NPError NpapiPlugin::DestroyStream(NPStream* stream, NPReason /*reason*/) {
    NpapiStream* s = streamOf(stream);
    if (s == nullptr || s->streamHandle() == nullptr) {
        return NPERR_NO_ERROR;
    }
    // The stream learns of its end from NPP_URLNotify, which always follows for a request it made; it
    // stays alive until then.
    s->setStreamHandle(nullptr);
    stream->notifyData = nullptr;
    return NPERR_NO_ERROR;
}

int32_t NpapiPlugin::WriteReady(NPStream* stream) {
    NpapiStream* s = streamOf(stream);
    if (s == nullptr) {
        return -1;
    }
    return static_cast<int32_t>(std::min<std::size_t>(s->bufferSize(), INT32_MAX));
}

int32_t NpapiPlugin::Write(NPStream* stream, int32_t offset, int32_t len, void* buffer) {
    NpapiStream* s = streamOf(stream);
    if (s == nullptr) {
        return -1;
    }
    if (len <= 0 || buffer == nullptr) {
        return 0;
    }
    s->dataArrived(buffer, static_cast<std::size_t>(len), static_cast<std::size_t>(std::max(offset, 0)));
    return len;
}

void NpapiPlugin::StreamAsFile(NPStream* stream, const char* fname) {
    NpapiStream* s = streamOf(stream);
    if (s == nullptr || fname == nullptr) {
        return;
    }
    // Byte by byte, sign-extended: the browser's file name is handed on without decoding.
    std::wstring path;
    for (const char* c = fname; *c != '\0'; ++c) {
        path.push_back(static_cast<wchar_t>(static_cast<uint16_t>(static_cast<int16_t>(*c))));
    }
    StreamAsFileEvent event(std::move(path));
    s->sendEvent(&event);
}

void NpapiPlugin::Print(NPPrint* /*platformPrint*/) {}

int16_t NpapiPlugin::HandleEvent(void* /*event*/) {
    return 0;
}

void NpapiPlugin::URLNotify(const char* /*url*/, NPReason reason, void* notifyData) {
    if (notifyData == nullptr) {
        return;
    }
    // The request is over: the stream hears how it ended and lets go of itself.
    static_cast<NpapiStream*>(notifyData)->finished(reason == NPRES_DONE);
}

NPError NpapiPlugin::GetValue(NPPVariable variable, void* value) {
    switch (variable) {
        case NPPVpluginNameString:
            *static_cast<const char**>(value) = pluginName_.c_str();
            return NPERR_NO_ERROR;
        case NPPVpluginDescriptionString:
            *static_cast<const char**>(value) = pluginDescription_.c_str();
            return NPERR_NO_ERROR;
        case NPPVpluginScriptableNPObject:
            *static_cast<NPObject**>(value) = getScriptableObject();
            return NPERR_NO_ERROR;
        default:
            return NPERR_GENERIC_ERROR;
    }
}

NPError NpapiPlugin::SetValue(NPNVariable /*variable*/, void* /*value*/) {
    return NPERR_NO_ERROR;
}

NPObject* NpapiPlugin::getScriptableObject() {
    if (scriptableObject_ == nullptr) {
        JSAPIPtr root = core_->getScriptObject();
        // The instance keeps the creation reference; the page gets its own below.
        scriptableObject_ = NPJavascriptObject::createWrapper(host_, root, false);
    }
    if (retainReturnedObject_) {
        host_->module().retainObject(scriptableObject_);
    }
    return scriptableObject_;
}

}  // namespace FB::Npapi
