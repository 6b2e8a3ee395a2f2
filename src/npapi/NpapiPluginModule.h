#pragma once

// The process-wide NPAPI module object: the browser's function table as the browser handed it over,
// and the bracket around the plug-in factory's life (its global initialisation hook on the first
// acquisition, its global shutdown hook on the release that leaves no module).
//
// Threads: the registry and every call through the module's table are used on the browser's main
// thread only, so nothing here is locked.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "core/FactoryBase.h"
#include "npapi/npapi/npfunctions.h"

namespace FB::Npapi {

class NpapiPluginModule {
  public:
    // Where acquisition and release find the process-wide factory.
    using FactorySource = std::function<FactoryBasePtr()>;

    NpapiPluginModule();
    virtual ~NpapiPluginModule();
    NpapiPluginModule(const NpapiPluginModule&) = delete;
    NpapiPluginModule& operator=(const NpapiPluginModule&) = delete;

    // The module (made when there is none); runs the factory's global initialisation hook first
    // when no module exists.
    static NpapiPluginModule* acquire();
    // Destroys the module, if any; runs the factory's global shutdown hook when none is left.
    static void release();
    // Modules made and not yet released.
    static std::uint32_t moduleCount();
    // Replaces the factory source (the application's processFactory by default); an empty
    // source restores the default.
    static void setFactorySource(FactorySource source);

    // Copies the entries of `browser` that a browser of its minor version has and that its `size`
    // covers into `destination`; everything else in `destination` is null.
    static void copyBrowserTable(NPNetscapeFuncs& destination, const NPNetscapeFuncs& browser);

    // A new table comes from another browser, whose identifiers are other ones.
    void takeBrowserTable(const NPNetscapeFuncs& browser);
    const NPNetscapeFuncs& funcs() const { return funcs_; }
    // Removes NPN_PluginThreadAsyncCall from the table, for browsers whose entry must not be used.
    void withdrawPluginThreadAsyncCall() { funcs_.pluginthreadasynccall = nullptr; }

    // Identifier, memory, retain and release calls. A missing entry gives null, 0 or nothing.
    NPIdentifier getStringIdentifier(const std::string& name) const;
    NPIdentifier getIntIdentifier(std::int32_t value) const;
    // A browser without the entry is taken to give names only.
    bool identifierIsString(NPIdentifier identifier) const;
    NPUTF8* utf8FromIdentifier(NPIdentifier identifier) const;
    std::int32_t intFromIdentifier(NPIdentifier identifier) const;
    void* memAlloc(std::uint32_t size) const;
    void memFree(void* block) const;
    NPObject* retainObject(NPObject* object) const;
    void releaseObject(NPObject* object) const;
    void releaseVariantValue(NPVariant* value) const;
    const char* userAgent(NPP npp) const;

    // What the browser says of an identifier: whether it is a name, its text (empty for an integer)
    // and its integer. Browser identifiers live as long as the process, so each is asked once and
    // kept; the entry stays put until the browser table is replaced. Main thread only, like the
    // rest of the module.
    struct Identifier {
        bool isString = true;
        std::string text;
        std::int32_t number = 0;
    };
    const Identifier& identifier(NPIdentifier identifier) const;

  private:
    NPNetscapeFuncs funcs_{};
    mutable std::unordered_map<NPIdentifier, Identifier> identifiers_;
    // In front of the map: the last identifier seen in each of a few slots chosen by its address, so
    // that the names a page uses all the time are found without a hash search.
    struct RecentIdentifier {
        NPIdentifier identifier = nullptr;
        const Identifier* entry = nullptr;
    };
    mutable std::array<RecentIdentifier, 64> recent_{};
};

}  // namespace FB::Npapi
