#include "npapi/NpapiPluginModule.h"

#include <cstddef>
#include <map>

#include "core/PluginApplication.h"

namespace FB::Npapi {

namespace {

// The entry points always use the null key, so in practice there is one module.
std::map<const void*, std::unique_ptr<NpapiPluginModule>>& registry() {
    static std::map<const void*, std::unique_ptr<NpapiPluginModule>> modules;
    return modules;
}

std::uint32_t count = 0;

// Browser timers came with minor version 23.
constexpr std::uint16_t kTimersVersion = 23;

NpapiPluginModule::FactorySource& factorySource() {
    static NpapiPluginModule::FactorySource source;
    return source;
}

FactoryBasePtr currentFactory() {
    if (factorySource()) {
        return factorySource()();
    }
    return processFactory();
}

}  // namespace

NpapiPluginModule::NpapiPluginModule() = default;
NpapiPluginModule::~NpapiPluginModule() = default;

NpapiPluginModule* NpapiPluginModule::acquire() {
    if (count == 0) {
        if (FactoryBasePtr factory = currentFactory()) {
            factory->globalPluginInitialize();
        }
    }
    auto& modules = registry();
    auto found = modules.find(nullptr);
    if (found != modules.end()) {
        return found->second.get();
    }
    auto inserted = modules.emplace(nullptr, std::make_unique<NpapiPluginModule>());
    ++count;
    return inserted.first->second.get();
}

void NpapiPluginModule::release() {
    auto& modules = registry();
    auto found = modules.find(nullptr);
    if (found != modules.end()) {
        std::unique_ptr<NpapiPluginModule> gone = std::move(found->second);
        modules.erase(found);
        --count;
    }
    if (count == 0) {
        if (FactoryBasePtr factory = currentFactory()) {
            factory->globalPluginDeinitialize();
        }
    }
}

std::uint32_t NpapiPluginModule::moduleCount() {
    return count;
}

void NpapiPluginModule::setFactorySource(FactorySource source) {
    factorySource() = std::move(source);
}

void NpapiPluginModule::copyBrowserTable(NPNetscapeFuncs& destination, const NPNetscapeFuncs& browser) {
    destination = NPNetscapeFuncs{};
    destination.size = browser.size;
    destination.version = browser.version;
    const std::uint16_t version = browser.version;
    // An entry is read only when the browser's version has it and its table reaches that far, so a
    // table shorter than its version claims is never read past its end either.
    auto has = [&](std::size_t offset, std::uint16_t since) {
        return version >= since && offset + sizeof(void*) <= browser.size;
    };
#define KORVANE_COPY_ENTRY(field, since)                \
    if (has(offsetof(NPNetscapeFuncs, field), since)) { \
        destination.field = browser.field;              \
    }
    KORVANE_COPY_ENTRY(geturl, 0)
    KORVANE_COPY_ENTRY(posturl, 0)
    KORVANE_COPY_ENTRY(requestread, 0)
    KORVANE_COPY_ENTRY(newstream, 0)
    KORVANE_COPY_ENTRY(write, 0)
    KORVANE_COPY_ENTRY(destroystream, 0)
    KORVANE_COPY_ENTRY(status, 0)
    KORVANE_COPY_ENTRY(uagent, 0)
    KORVANE_COPY_ENTRY(memalloc, 0)
    KORVANE_COPY_ENTRY(memfree, 0)
    KORVANE_COPY_ENTRY(memflush, 0)
    KORVANE_COPY_ENTRY(reloadplugins, 0)
    // getJavaEnv and getJavaPeer are never used and never copied.
    KORVANE_COPY_ENTRY(geturlnotify, 0)
    KORVANE_COPY_ENTRY(posturlnotify, 0)
    KORVANE_COPY_ENTRY(getvalue, 0)
    KORVANE_COPY_ENTRY(setvalue, 0)
    KORVANE_COPY_ENTRY(invalidaterect, 0)
    KORVANE_COPY_ENTRY(invalidateregion, 0)
    KORVANE_COPY_ENTRY(forceredraw, 0)
    KORVANE_COPY_ENTRY(getstringidentifier, 0)
    KORVANE_COPY_ENTRY(getstringidentifiers, 0)
    KORVANE_COPY_ENTRY(getintidentifier, 0)
    KORVANE_COPY_ENTRY(identifierisstring, 0)
    KORVANE_COPY_ENTRY(utf8fromidentifier, 0)
    KORVANE_COPY_ENTRY(intfromidentifier, 0)
    KORVANE_COPY_ENTRY(createobject, 0)
    KORVANE_COPY_ENTRY(retainobject, 0)
    KORVANE_COPY_ENTRY(releaseobject, 0)
    KORVANE_COPY_ENTRY(invoke, 0)
    KORVANE_COPY_ENTRY(invokeDefault, 0)
    KORVANE_COPY_ENTRY(evaluate, 0)
    KORVANE_COPY_ENTRY(getproperty, 0)
    KORVANE_COPY_ENTRY(setproperty, 0)
    KORVANE_COPY_ENTRY(removeproperty, 0)
    KORVANE_COPY_ENTRY(hasproperty, 0)
    KORVANE_COPY_ENTRY(hasmethod, 0)
    KORVANE_COPY_ENTRY(releasevariantvalue, 0)
    KORVANE_COPY_ENTRY(setexception, 0)
    KORVANE_COPY_ENTRY(pushpopupsenabledstate, NPVERS_HAS_POPUPS_ENABLED_STATE)
    KORVANE_COPY_ENTRY(poppopupsenabledstate, NPVERS_HAS_POPUPS_ENABLED_STATE)
    KORVANE_COPY_ENTRY(enumerate, NPVERS_HAS_NPOBJECT_ENUM)
    KORVANE_COPY_ENTRY(pluginthreadasynccall, NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL)
    // construct sits after pluginthreadasynccall and came with the same version.
    KORVANE_COPY_ENTRY(construct, NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL)
    KORVANE_COPY_ENTRY(getvalueforurl, NPVERS_HAS_URL_AND_AUTH_INFO)
    KORVANE_COPY_ENTRY(setvalueforurl, NPVERS_HAS_URL_AND_AUTH_INFO)
    KORVANE_COPY_ENTRY(getauthenticationinfo, NPVERS_HAS_URL_AND_AUTH_INFO)
    KORVANE_COPY_ENTRY(scheduletimer, kTimersVersion)
    KORVANE_COPY_ENTRY(unscheduletimer, kTimersVersion)
#undef KORVANE_COPY_ENTRY
}

void NpapiPluginModule::takeBrowserTable(const NPNetscapeFuncs& browser) {
    copyBrowserTable(funcs_, browser);
    recent_ = {};
    identifiers_.clear();
}

const NpapiPluginModule::Identifier& NpapiPluginModule::identifier(NPIdentifier identifier) const {
    RecentIdentifier& slot = recent_[(reinterpret_cast<std::uintptr_t>(identifier) >> 3) % recent_.size()];
    if (slot.identifier == identifier && slot.entry != nullptr) {
        return *slot.entry;
    }
    auto found = identifiers_.find(identifier);
    if (found != identifiers_.end()) {
        slot = {identifier, &found->second};
        return found->second;
    }
    Identifier entry;
    entry.isString = identifierIsString(identifier);
    if (NPUTF8* text = utf8FromIdentifier(identifier)) {
        entry.text = text;
        memFree(text);
    }
    if (!entry.isString) {
        entry.number = intFromIdentifier(identifier);
    }
    const Identifier& stored = identifiers_.emplace(identifier, std::move(entry)).first->second;
    slot = {identifier, &stored};
    return stored;
}

NPIdentifier NpapiPluginModule::getStringIdentifier(const std::string& name) const {
    return funcs_.getstringidentifier ? funcs_.getstringidentifier(name.c_str()) : nullptr;
}

NPIdentifier NpapiPluginModule::getIntIdentifier(std::int32_t value) const {
    return funcs_.getintidentifier ? funcs_.getintidentifier(value) : nullptr;
}

bool NpapiPluginModule::identifierIsString(NPIdentifier identifier) const {
    return funcs_.identifierisstring ? funcs_.identifierisstring(identifier) : true;
}

NPUTF8* NpapiPluginModule::utf8FromIdentifier(NPIdentifier identifier) const {
    return funcs_.utf8fromidentifier ? funcs_.utf8fromidentifier(identifier) : nullptr;
}

std::int32_t NpapiPluginModule::intFromIdentifier(NPIdentifier identifier) const {
    return funcs_.intfromidentifier ? funcs_.intfromidentifier(identifier) : 0;
}

void* NpapiPluginModule::memAlloc(std::uint32_t size) const {
    return funcs_.memalloc ? funcs_.memalloc(size) : nullptr;
}

void NpapiPluginModule::memFree(void* block) const {
    if (funcs_.memfree && block) {
        funcs_.memfree(block);
    }
}

NPObject* NpapiPluginModule::retainObject(NPObject* object) const {
    return funcs_.retainobject && object ? funcs_.retainobject(object) : object;
}

void NpapiPluginModule::releaseObject(NPObject* object) const {
    if (funcs_.releaseobject && object) {
        funcs_.releaseobject(object);
    }
}

void NpapiPluginModule::releaseVariantValue(NPVariant* value) const {
    if (funcs_.releasevariantvalue && value) {
        funcs_.releasevariantvalue(value);
    }
}

const char* NpapiPluginModule::userAgent(NPP npp) const {
    return funcs_.uagent ? funcs_.uagent(npp) : nullptr;
}

}  // namespace FB::Npapi
