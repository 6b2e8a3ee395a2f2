// FakeBrowser: an in-process NPAPI browser double for unit and module tests.
//
// It hands the plug-in a real NPNetscapeFuncs table whose entries run on this object, and plays
// the page: a window with "document", "console" (its "log" records lines), the "Array" and
// "Object" constructors, one <object> element per instance, arrays with "length" and "push", and
// functions the test writes in C++. The page's objects are NPObjects of the fake's own class, so
// NPN_* calls treat them exactly like the plug-in's objects, whose NPClass callbacks they call.
//
// Book-keeping that makes faults visible:
// - every NPObject created through the table has a reference count kept by the fake; releasing an
//   object that is freed, or one the fake never made, is recorded as a problem and never touches
//   the object's memory;
// - every block from NPN_MemAlloc is tracked; NPN_MemFree of anything else is a problem;
// - every NPN_* call except NPN_MemAlloc, NPN_MemFree, NPN_MemFlush and NPN_PluginThreadAsyncCall
//   must come from the main thread (the thread that constructed the fake), and calls naming an
//   instance must name a live one; violations are problems and the call does nothing;
// - `check()` unloads the page (destroying live plug-in instances, dropping the page's
//   references) and then reports, besides the problems above, every object still alive (leaked)
//   and every allocation never freed.
// Use FakeBrowserTest (FakeBrowserTest.h) to assert at the end of every test that none was found.
//
// The table is made of plain C function pointers, so they find the browser through a static
// "current" pointer: only one FakeBrowser may exist at a time.
//
// Typical use:
//   FakeBrowser browser;                      // or a FakeBrowserTest fixture's `browser`
//   NPP npp = browser.createInstance();       // the browser's side of one <object> element
//   ... hand browser.funcs() to the code under test (a module: initializePlugin(NP_Initialize),
//       then newPluginInstance / scriptableObject / destroyPluginInstance) ...
//   browser.invoke(object, "echo", {"x"});    // the page calls a script object
//   browser.runTimers();                      // page timers set through the page call function
//   browser.runPostedCalls();                 // the main thread runs NPN_PluginThreadAsyncCall posts
//   EXPECT_THAT(browser.check(), IsEmpty());  // no leaks, over-releases or misuse
//
// Threads: the test's own thread is the browser's main thread. Worker threads may post with
// NPN_PluginThreadAsyncCall; the test runs posted calls with runPostedCalls() or pumpUntil().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "IdentifierTable.h"
#include "MemoryLedger.h"
#include "ObjectLedger.h"
#include "PageValue.h"
#include "PostedCallQueue.h"
#include "npapi/npapi/npfunctions.h"

namespace FB::Npapi {

namespace fakebrowser {
struct PageObject;
enum class PageKind { Object, Array, Function };
}  // namespace fakebrowser

struct FakeBrowserOptions {
    // The NPAPI minor version the table reports. Its `size` covers exactly the entries a
    // browser of that version has (448 bytes for 26 and later).
    uint16_t minorVersion = NP_VERSION_MINOR;
    // Entries beyond the version are filled with functions that record a problem when called,
    // so that a plug-in reading them without looking at the version is caught. When false
    // they are null.
    bool poisonAbsentEntries = true;
    // Entries (by field name, e.g. "pluginthreadasynccall") left null although the version
    // has them. Tests may also null entries of funcs() directly.
    std::vector<std::string> missingEntries;
    std::string userAgent = "Mozilla/5.0 (X11; Linux x86_64) KorvaneFakeBrowser/1.0";
    // Answer to NPNVdocumentOrigin; none: the variable is refused.
    std::optional<std::string> documentOrigin = std::string("http://localhost");
    // The `size` written into the plug-in table before NP_Initialize / NP_GetEntryPoints.
    uint16_t pluginFuncsSize = sizeof(NPPluginFuncs);
    // Browsers drop calls still queued for an instance when it is destroyed.
    bool dropCallsOfDestroyedInstances = true;
    // Browsers invalidate the plug-in's script objects of an instance when it is destroyed.
    bool invalidateObjectsOfDestroyedInstances = true;

    // What QtWebKit 5.212 gives: minor version 26 (448 bytes), no timer entries, a "Safari"
    // user agent, no document origin, a 160-byte plug-in table.
    static FakeBrowserOptions qtWebKit();
};

class FakeBrowser {
  public:
    using Options = FakeBrowserOptions;

    // Functions the test supplies to the page. `self` is the object the function was called on
    // (null for a plain call or a construction). Throw ScriptError to make the call fail as a
    // page exception would.
    using Function = std::function<PageValue(NPObject* self, const std::vector<PageValue>& args)>;
    struct ScriptError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Outcome of a page action on an object: whether the browser call succeeded, its value, and
    // the message of NPN_SetException if the object set one during the call.
    struct CallResult {
        bool ok = false;
        PageValue value;
        std::optional<std::string> exception;
        explicit operator bool() const { return ok; }
    };

    struct RecordedException {
        NPObject* object;
        std::string message;
    };

    // A page timer set by the page call function "__FB_CALL_<id>".
    struct PageTimer {
        int32_t id;
        int32_t delay;
        PageValue target;
        PageValue arguments;                // the argument list as the page passed it
        std::optional<std::string> method;  // set unless called with exactly three arguments
    };

    struct UrlRequest {
        std::string entry;  // "NPN_GetURL", "NPN_GetURLNotify", "NPN_PostURL", "NPN_PostURLNotify"
        NPP npp;
        std::string url;
        std::optional<std::string> target;
        std::string body;
        bool file = false;
        void* notifyData = nullptr;
    };

    // What the plug-in told the browser about one instance through NPN_SetValue.
    struct InstanceState {
        int number = 0;
        bool destroyed = false;
        bool pluginCreated = false;
        std::optional<bool> windowed;     // NPPVpluginWindowBool
        std::optional<bool> transparent;  // NPPVpluginTransparentBool
        std::vector<std::pair<NPPVariable, void*>> setValues;
    };

    using Param = std::pair<std::string, std::optional<std::string>>;

    explicit FakeBrowser(Options options = Options());
    ~FakeBrowser();
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    static FakeBrowser* current() { return current_.load(); }
    const Options& options() const { return options_; }
    std::thread::id mainThread() const { return mainThread_; }
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }

    // ---- Tables -------------------------------------------------------------------------------
    // The browser table handed to the plug-in. Tests may null entries before handing it over to
    // play a browser without them.
    NPNetscapeFuncs* funcs() { return &funcs_; }
    // The plug-in table the fake hands to NP_Initialize / NP_GetEntryPoints.
    NPPluginFuncs* pluginFuncs() { return &pluginFuncs_; }
    // Calls the plug-in's Unix NP_Initialize with both tables, or NP_GetEntryPoints, with
    // `size` and `version` preset; a plug-in that writes beyond `size` is a problem.
    NPError initializePlugin(NPError (*initialize)(NPNetscapeFuncs*, NPPluginFuncs*));
    NPError getEntryPoints(NPError (*getEntryPoints)(NPPluginFuncs*));
    // The Windows NP_Initialize, which takes the browser table only.
    NPError initializePlugin(NPError (*initialize)(NPNetscapeFuncs*));
    // Starts a module the way the platform's browsers do: Unix browsers hand both tables to
    // NP_Initialize; Windows browsers ask NP_GetEntryPoints for the plug-in table, then hand the
    // browser table to NP_Initialize.
    template <class Initialize>
    NPError startPlugin(Initialize initialize, NPError (*getEntryPointsFunc)(NPPluginFuncs*)) {
        if constexpr (std::is_invocable_v<Initialize, NPNetscapeFuncs*, NPPluginFuncs*>) {
            return initializePlugin(initialize);
        } else {
            NPError result = getEntryPoints(getEntryPointsFunc);
            return result != NPERR_NO_ERROR ? result : initializePlugin(initialize);
        }
    }
    // The table size a browser of the given minor version has.
    static uint16_t tableSizeFor(uint16_t minorVersion);

    // ---- Instances ----------------------------------------------------------------------------
    // A browser-side instance record (NPP_t with its own element) without calling the plug-in.
    NPP createInstance();
    // Creates an instance and calls the plug-in's NPP_New with the parameters (a value of
    // nullopt passes a null pointer). The instance is written to `*npp` even on failure.
    NPError newPluginInstance(NPP* npp, const std::string& mimeType, const std::vector<Param>& params = {},
                              uint16_t mode = NP_EMBED);
    // Calls the plug-in's NPP_Destroy, then destroyInstance.
    NPError destroyPluginInstance(NPP npp);
    // The browser forgets the instance: later calls naming it are problems, its queued calls are
    // dropped and its plug-in objects invalidated (as the options say).
    void destroyInstance(NPP npp);
    // The plug-in's scriptable object through NPP_GetValue(NPPVpluginScriptableNPObject); the
    // returned reference is taken over. Null when the plug-in gives none.
    PageValue scriptableObject(NPP npp);
    const InstanceState& instanceState(NPP npp) const;

    // ---- The page -----------------------------------------------------------------------------
    NPObject* window() const { return window_; }
    NPObject* document() const { return document_; }
    NPObject* pluginElement(NPP npp) const;
    PageValue newObject();
    PageValue newArray(const std::vector<PageValue>& elements = {});
    PageValue newFunction(const std::string& name, Function function);
    bool isPageObject(const NPObject* object) const;
    // Elements of a page array; none when the object is not one.
    std::optional<std::vector<PageValue>> arrayElements(const NPObject* object) const;
    // Property names of a page object in the order they were first set.
    std::vector<std::string> propertyNames(const NPObject* object) const;

    const std::vector<std::string>& consoleLines() const { return consoleLines_; }
    // Failures inside the page: exceptions of page functions, failed timer calls, scripts the
    // page could not run.
    const std::vector<std::string>& pageErrors() const { return pageErrors_; }
    const std::vector<std::string>& evaluatedScripts() const { return evaluatedScripts_; }
    // Handles scripts other than the page call function definition; returning nothing makes
    // NPN_Evaluate fail.
    void setEvaluator(std::function<std::optional<PageValue>(const std::string& script)> evaluator);

    const std::vector<PageTimer>& pendingTimers() const { return timers_; }
    // Runs the pending page timers in order of delay, then of creation, including timers they
    // set. Returns how many ran.
    size_t runTimers();

    // ---- Page actions on any object (page or plug-in), as script would do them -------------
    bool hasProperty(NPObject* object, const std::string& name);
    bool hasProperty(NPObject* object, int32_t index);
    bool hasMethod(NPObject* object, const std::string& name);
    CallResult getProperty(NPObject* object, const std::string& name);
    CallResult getProperty(NPObject* object, int32_t index);
    CallResult setProperty(NPObject* object, const std::string& name, const PageValue& value);
    CallResult setProperty(NPObject* object, int32_t index, const PageValue& value);
    CallResult removeProperty(NPObject* object, const std::string& name);
    CallResult invoke(NPObject* object, const std::string& name, const std::vector<PageValue>& args = {});
    CallResult invokeDefault(NPObject* object, const std::vector<PageValue>& args = {});
    CallResult construct(NPObject* object, const std::vector<PageValue>& args = {});
    // Names from the object's enumerate (integers as decimal text); none when it fails.
    std::optional<std::vector<std::string>> enumerate(NPObject* object);
    // Calls the object's NPClass invalidate, as a browser does when the page goes away.
    void invalidate(NPObject* object);

    // ---- Identifiers, memory, objects -------------------------------------------------------
    NPIdentifier stringIdentifier(const std::string& name) { return identifiers_.forName(name); }
    NPIdentifier intIdentifier(int32_t value) { return identifiers_.forInt(value); }
    size_t identifierCount() const { return identifiers_.size(); }
    // Same as NPN_MemAlloc / NPN_MemFree.
    void* memAlloc(uint32_t size);
    void memFree(void* block);
    size_t outstandingAllocations() const { return memory_.outstanding(); }

    // Same as NPN_RetainObject / NPN_ReleaseObject / NPN_ReleaseVariantValue.
    NPObject* retain(NPObject* object);
    void release(NPObject* object);
    void releaseVariant(NPVariant* variant);
    // The reference count the fake keeps; -1 for an object that is not alive.
    int64_t refCount(const NPObject* object) const;
    bool isAlive(const NPObject* object) const;
    size_t liveObjectCount() const { return objects_.live().size(); }
    std::vector<NPObject*> liveObjectsOfClass(const NPClass* objectClass) const;
    uint64_t createdObjectCount() const { return objects_.createdCount(); }

    // ---- What the plug-in did -----------------------------------------------------------------
    const std::vector<RecordedException>& exceptions() const { return exceptions_; }
    void clearExceptions() { exceptions_.clear(); }
    // Calls without a richer record: "NPN_Status <text>", "NPN_GetURL <url> <target>",
    // "NPN_PushPopupsEnabledState 1", "NPN_PopPopupsEnabledState", "NPN_InvalidateRect", ...
    const std::vector<std::string>& callLog() const { return callLog_; }
    const std::vector<UrlRequest>& urlRequests() const { return urlRequests_; }
    // Result of the URL request entries (default NPERR_NO_ERROR). Streams are never delivered.
    void setUrlResult(NPError result) { urlResult_ = result; }
    // Answer of NPN_GetValueForURL(NPNURLVProxy) (default NPERR_NO_ERROR with "DIRECT").
    void setProxyAnswer(NPError result, std::string answer = {});
    // NPN_GetValue refuses the variable (NPERR_GENERIC_ERROR) from now on.
    void refuseValue(NPNVariable variable) { refusedValues_.insert(variable); }

    // ---- Posted calls -------------------------------------------------------------------------
    // Runs the queued calls on this (main) thread until the queue is empty; returns how many ran.
    size_t runPostedCalls();
    // Runs posted calls as they arrive until `done` returns true or the timeout passes; returns
    // the last value of `done`.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    size_t pendingPostedCalls() const { return posted_.pending(); }
    size_t postedCallCount() const { return posted_.postedTotal(); }
    size_t droppedPostedCalls() const { return droppedPostedCalls_.load(); }

    // ---- Reports ------------------------------------------------------------------------------
    // Misuse found so far (thread, instance, reference and memory faults), without the leak check.
    std::vector<std::string> problems() const;
    // Forgets the problems found so far; for tests that provoke them on purpose.
    void clearProblems();
    // Unloads the page once and returns every problem: misuse, leaked objects with their counts,
    // allocations never freed. Later calls return the same list.
    std::vector<std::string> check();

  private:
    struct Entries;    // the NPN_* table entries (FakeBrowserEntries.cpp)
    struct PageClass;  // the NPClass of the page's objects (FakeBrowserPage.cpp)
    struct Instance {
        NPP_t npp{};
        InstanceState state;
        NPObject* element = nullptr;
    };

    void fillTable();
    void buildPage();
    void unloadPage();
    void problem(std::string text) const;
    Instance* findInstance(NPP npp) const;
    // Checks an NPP passed to an entry; null is allowed where `allowNull`.
    bool instanceUsable(NPP npp, const char* entry, bool allowNull = false) const;
    bool objectUsable(const NPObject* object, const char* entry) const;

    fakebrowser::PageObject* makePageObject(fakebrowser::PageKind kind, std::string label);
    PageValue makeCallFunction(const std::string& name);
    PageValue callPageFunction(fakebrowser::PageObject* function, NPObject* self,
                               const std::vector<PageValue>& args, bool& ok);
    std::vector<PageValue> argumentsFrom(const PageValue& list);

    NPObject* createObject(NPP npp, NPClass* objectClass, std::string label);
    void freeObject(NPObject* object);

    // Generic dispatch through the object's class, shared by the table and the page actions.
    bool doHasMethod(NPObject* object, NPIdentifier name);
    bool doHasProperty(NPObject* object, NPIdentifier name);
    bool doGetProperty(NPObject* object, NPIdentifier name, NPVariant* result);
    bool doSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value);
    bool doRemoveProperty(NPObject* object, NPIdentifier name);
    bool doInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                  NPVariant* result);
    bool doInvokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result);
    bool doConstruct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result);
    bool doEnumerate(NPObject* object, NPIdentifier** ids, uint32_t* count);
    bool doEvaluate(NPObject* object, const std::string& script, NPVariant* result);

    template <typename Call>
    CallResult pageAction(NPObject* object, const char* what, Call call);

    static std::atomic<FakeBrowser*> current_;

    Options options_;
    std::thread::id mainThread_;
    NPNetscapeFuncs funcs_{};
    NPPluginFuncs pluginFuncs_{};

    fakebrowser::ObjectLedger objects_;
    fakebrowser::MemoryLedger memory_;
    fakebrowser::IdentifierTable identifiers_;
    fakebrowser::PostedCallQueue posted_;
    std::atomic<size_t> droppedPostedCalls_{0};

    mutable std::mutex problemsMutex_;
    mutable std::vector<std::string> problems_;

    std::vector<std::unique_ptr<Instance>> instances_;
    NPObject* window_ = nullptr;
    NPObject* document_ = nullptr;
    NPObject* console_ = nullptr;

    std::vector<PageTimer> timers_;
    int32_t nextTimerId_ = 1;
    std::vector<std::string> consoleLines_;
    std::vector<std::string> pageErrors_;
    std::vector<std::string> evaluatedScripts_;
    std::function<std::optional<PageValue>(const std::string&)> evaluator_;

    std::vector<RecordedException> exceptions_;
    std::vector<std::string> callLog_;
    std::vector<UrlRequest> urlRequests_;
    NPError urlResult_ = NPERR_NO_ERROR;
    NPError proxyResult_ = NPERR_NO_ERROR;
    std::string proxyAnswer_ = "DIRECT";
    std::set<NPNVariable> refusedValues_;

    bool unloaded_ = false;
    std::optional<std::vector<std::string>> report_;
};

}  // namespace FB::Npapi
