#include "FakeBrowser.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "PageObject.h"

namespace FB::Npapi {

using fakebrowser::ObjectLedger;
using fakebrowser::PageKind;
using fakebrowser::PageObject;

std::atomic<FakeBrowser*> FakeBrowser::current_{nullptr};

FakeBrowserOptions FakeBrowserOptions::qtWebKit() {
    FakeBrowserOptions options;
    options.minorVersion = 26;
    options.userAgent =
        "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/602.1 (KHTML, like Gecko) Version/10.0 Safari/602.1";
    options.documentOrigin.reset();
    options.pluginFuncsSize = 160;
    options.missingEntries = {"scheduletimer", "unscheduletimer"};
    return options;
}

FakeBrowser::FakeBrowser(Options options)
    : options_(std::move(options)), mainThread_(std::this_thread::get_id()) {
    FakeBrowser* none = nullptr;
    if (!current_.compare_exchange_strong(none, this)) {
        throw std::logic_error("only one FakeBrowser may exist at a time");
    }
    try {
        fillTable();
        buildPage();
    } catch (...) {
        current_.store(nullptr);
        throw;
    }
}

FakeBrowser::~FakeBrowser() {
    check();
    current_.store(nullptr);
}

uint16_t FakeBrowser::tableSizeFor(uint16_t minorVersion) {
    // Each version's table ends with the last entry that version brought.
    auto end = [](size_t offset) { return static_cast<uint16_t>(offset + sizeof(void*)); };
    if (minorVersion >= NPVERS_HAS_URL_REDIRECT_HANDLING) {
        return end(offsetof(NPNetscapeFuncs, urlredirectresponse));
    }
    if (minorVersion >= NPVERS_HAS_ADVANCED_KEY_HANDLING) {
        return end(offsetof(NPNetscapeFuncs, unfocusinstance));
    }
    if (minorVersion >= NPVERS_MACOSX_HAS_COCOA_EVENTS) {
        return end(offsetof(NPNetscapeFuncs, convertpoint));
    }
    if (minorVersion >= NPVERS_HAS_URL_AND_AUTH_INFO) {
        return end(offsetof(NPNetscapeFuncs, getauthenticationinfo));
    }
    if (minorVersion >= NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL) {
        return end(offsetof(NPNetscapeFuncs, construct));
    }
    if (minorVersion >= NPVERS_HAS_NPOBJECT_ENUM) {
        return end(offsetof(NPNetscapeFuncs, enumerate));
    }
    if (minorVersion >= NPVERS_HAS_POPUPS_ENABLED_STATE) {
        return end(offsetof(NPNetscapeFuncs, poppopupsenabledstate));
    }
    return end(offsetof(NPNetscapeFuncs, setexception));
}

// ---- Plug-in table ------------------------------------------------------------------------------

namespace {
constexpr unsigned char kUnwritten = 0xA5;

// Fills the plug-in table for a call: zeroes what `size` covers and marks the rest, so that a
// plug-in writing past `size` shows.
void preparePluginTable(NPPluginFuncs& table, uint16_t size, uint16_t minorVersion) {
    auto* bytes = reinterpret_cast<unsigned char*>(&table);
    size = std::min<uint16_t>(size, sizeof(NPPluginFuncs));
    std::memset(bytes, 0, size);
    std::memset(bytes + size, kUnwritten, sizeof(NPPluginFuncs) - size);
    table.size = size;
    table.version = static_cast<uint16_t>((NP_VERSION_MAJOR << 8) | minorVersion);
}

bool writtenPastSize(NPPluginFuncs& table, uint16_t size) {
    auto* bytes = reinterpret_cast<unsigned char*>(&table);
    size = std::min<uint16_t>(size, sizeof(NPPluginFuncs));
    bool written = false;
    for (size_t i = size; i < sizeof(NPPluginFuncs); ++i) {
        written = written || bytes[i] != kUnwritten;
        bytes[i] = 0;
    }
    return written;
}
}  // namespace

NPError FakeBrowser::initializePlugin(NPError (*initialize)(NPNetscapeFuncs*, NPPluginFuncs*)) {
    preparePluginTable(pluginFuncs_, options_.pluginFuncsSize, options_.minorVersion);
    NPError result = initialize(&funcs_, &pluginFuncs_);
    if (writtenPastSize(pluginFuncs_, options_.pluginFuncsSize)) {
        problem("NP_Initialize wrote past the plug-in table's size " +
                std::to_string(options_.pluginFuncsSize));
    }
    return result;
}

NPError FakeBrowser::initializePlugin(NPError (*initialize)(NPNetscapeFuncs*)) {
    return initialize(&funcs_);
}

NPError FakeBrowser::getEntryPoints(NPError (*getEntryPoints)(NPPluginFuncs*)) {
    preparePluginTable(pluginFuncs_, options_.pluginFuncsSize, options_.minorVersion);
    NPError result = getEntryPoints(&pluginFuncs_);
    if (writtenPastSize(pluginFuncs_, options_.pluginFuncsSize)) {
        problem("NP_GetEntryPoints wrote past the plug-in table's size " +
                std::to_string(options_.pluginFuncsSize));
    }
    return result;
}

// ---- Instances ----------------------------------------------------------------------------------

NPP FakeBrowser::createInstance() {
    auto instance = std::make_unique<Instance>();
    instance->npp.ndata = instance.get();
    instance->state.number = static_cast<int>(instances_.size()) + 1;
    instance->element =
        makePageObject(PageKind::Object, "element of instance " + std::to_string(instance->state.number));
    NPP npp = &instance->npp;
    instances_.push_back(std::move(instance));
    posted_.addInstance(npp);
    return npp;
}

NPError FakeBrowser::newPluginInstance(NPP* npp, const std::string& mimeType,
                                       const std::vector<Param>& params, uint16_t mode) {
    NPP instance = createInstance();
    if (npp != nullptr) {
        *npp = instance;
    }
    if (pluginFuncs_.newp == nullptr) {
        problem("the plug-in table has no NPP_New");
        destroyInstance(instance);
        return NPERR_INVALID_FUNCTABLE_ERROR;
    }
    std::vector<std::string> texts;
    texts.reserve(params.size() * 2 + 1);
    std::vector<char*> names;
    std::vector<char*> values;
    for (const auto& [name, value] : params) {
        texts.push_back(name);
        names.push_back(texts.back().data());
        if (value) {
            texts.push_back(*value);
            values.push_back(texts.back().data());
        } else {
            values.push_back(nullptr);
        }
    }
    texts.push_back(mimeType);
    char* type = texts.back().data();
    NPError result = pluginFuncs_.newp(type, instance, mode, static_cast<int16_t>(params.size()),
                                       names.data(), values.data(), nullptr);
    if (result == NPERR_NO_ERROR) {
        findInstance(instance)->state.pluginCreated = true;
    } else {
        // A browser gives no NPP_Destroy to an instance whose NPP_New failed.
        destroyInstance(instance);
    }
    return result;
}

NPError FakeBrowser::destroyPluginInstance(NPP npp) {
    Instance* instance = findInstance(npp);
    if (instance == nullptr || instance->state.destroyed) {
        problem("destroyPluginInstance of an instance that is not live");
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    NPError result = NPERR_NO_ERROR;
    if (pluginFuncs_.destroy != nullptr) {
        NPSavedData* saved = nullptr;
        result = pluginFuncs_.destroy(npp, &saved);
        if (saved != nullptr) {
            memFree(saved->buf);
            memFree(saved);
        }
    }
    instance->state.pluginCreated = false;
    destroyInstance(npp);
    return result;
}

void FakeBrowser::destroyInstance(NPP npp) {
    Instance* instance = findInstance(npp);
    if (instance == nullptr || instance->state.destroyed) {
        return;
    }
    instance->state.destroyed = true;
    droppedPostedCalls_ += posted_.removeInstance(npp, options_.dropCallsOfDestroyedInstances);
    if (options_.invalidateObjectsOfDestroyedInstances) {
        for (NPObject* object : objects_.live()) {
            const ObjectLedger::Record* record = objects_.find(object);
            if (record != nullptr && record->alive && record->npp == npp && !isPageObject(object)) {
                invalidate(object);
            }
        }
    }
}

PageValue FakeBrowser::scriptableObject(NPP npp) {
    if (pluginFuncs_.getvalue == nullptr) {
        problem("the plug-in table has no NPP_GetValue");
        return PageValue(nullptr);
    }
    NPObject* object = nullptr;
    if (pluginFuncs_.getvalue(npp, NPPVpluginScriptableNPObject, &object) != NPERR_NO_ERROR ||
        object == nullptr) {
        return PageValue(nullptr);
    }
    if (objects_.state(object) != ObjectLedger::State::Alive) {
        problem("NPP_GetValue returned a scriptable object that is not alive");
        return PageValue(nullptr);
    }
    return PageValue::adopt(object);
}

const FakeBrowser::InstanceState& FakeBrowser::instanceState(NPP npp) const {
    Instance* instance = findInstance(npp);
    if (instance == nullptr) {
        throw std::out_of_range("not an instance of this FakeBrowser");
    }
    return instance->state;
}

NPObject* FakeBrowser::pluginElement(NPP npp) const {
    Instance* instance = findInstance(npp);
    return instance ? instance->element : nullptr;
}

FakeBrowser::Instance* FakeBrowser::findInstance(NPP npp) const {
    for (const auto& instance : instances_) {
        if (&instance->npp == npp) {
            return instance.get();
        }
    }
    return nullptr;
}

bool FakeBrowser::instanceUsable(NPP npp, const char* entry, bool allowNull) const {
    if (npp == nullptr) {
        if (!allowNull) {
            problem(std::string(entry) + " called with a null instance");
        }
        return allowNull;
    }
    Instance* instance = findInstance(npp);
    if (instance == nullptr) {
        problem(std::string(entry) + " called with an instance the browser never created");
        return false;
    }
    if (instance->state.destroyed) {
        problem(std::string(entry) + " called with destroyed instance " +
                std::to_string(instance->state.number));
        return false;
    }
    return true;
}

bool FakeBrowser::objectUsable(const NPObject* object, const char* entry) const {
    if (object == nullptr) {
        return false;
    }
    switch (objects_.state(object)) {
        case ObjectLedger::State::Alive:
            return true;
        case ObjectLedger::State::Freed:
            problem(std::string(entry) + " on freed " + objects_.describe(object));
            return false;
        case ObjectLedger::State::Unknown:
            break;
    }
    problem(std::string(entry) + " on an object the browser never created");
    return false;
}

// ---- Objects and memory -------------------------------------------------------------------------

NPObject* FakeBrowser::createObject(NPP npp, NPClass* objectClass, std::string label) {
    NPObject* object = objectClass->allocate != nullptr
                           ? objectClass->allocate(npp, objectClass)
                           : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (object == nullptr) {
        return nullptr;
    }
    object->_class = objectClass;
    object->referenceCount = 1;
    objects_.add(object, npp, objectClass, std::move(label));
    return object;
}

void FakeBrowser::freeObject(NPObject* object) {
    NPClass* objectClass = object->_class;
    object->referenceCount = 0;
    if (objectClass != nullptr && objectClass->deallocate != nullptr) {
        objectClass->deallocate(object);
    } else {
        std::free(object);
    }
}

NPObject* FakeBrowser::retain(NPObject* object) {
    if (object == nullptr) {
        return nullptr;
    }
    if (!onMainThread()) {
        problem("NPN_RetainObject called off the main thread");
        return object;
    }
    switch (objects_.state(object)) {
        case ObjectLedger::State::Alive:
            object->referenceCount = static_cast<uint32_t>(objects_.retain(object));
            break;
        case ObjectLedger::State::Freed:
            problem("NPN_RetainObject of freed " + objects_.describe(object));
            break;
        case ObjectLedger::State::Unknown:
            problem("NPN_RetainObject of an object the browser never created");
            break;
    }
    return object;
}

void FakeBrowser::release(NPObject* object) {
    if (object == nullptr) {
        return;
    }
    if (!onMainThread()) {
        problem("NPN_ReleaseObject called off the main thread");
        return;
    }
    switch (objects_.state(object)) {
        case ObjectLedger::State::Alive: {
            int64_t count = objects_.release(object);
            if (count > 0) {
                object->referenceCount = static_cast<uint32_t>(count);
            } else {
                objects_.markFreed(object);
                freeObject(object);
            }
            break;
        }
        case ObjectLedger::State::Freed:
            problem("over-release: NPN_ReleaseObject of freed " + objects_.describe(object));
            break;
        case ObjectLedger::State::Unknown:
            problem("NPN_ReleaseObject of an object the browser never created");
            break;
    }
}

void FakeBrowser::releaseVariant(NPVariant* variant) {
    if (variant == nullptr) {
        return;
    }
    if (variant->type == NPVariantType_String) {
        memFree(const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters));
    } else if (variant->type == NPVariantType_Object) {
        release(variant->value.objectValue);
    }
    variant->type = NPVariantType_Void;
    variant->value.objectValue = nullptr;
}

int64_t FakeBrowser::refCount(const NPObject* object) const {
    const ObjectLedger::Record* record = objects_.find(object);
    return record != nullptr && record->alive ? record->count : -1;
}

bool FakeBrowser::isAlive(const NPObject* object) const {
    return objects_.state(object) == ObjectLedger::State::Alive;
}

std::vector<NPObject*> FakeBrowser::liveObjectsOfClass(const NPClass* objectClass) const {
    std::vector<NPObject*> result;
    for (NPObject* object : objects_.live()) {
        if (objects_.find(object)->objectClass == objectClass) {
            result.push_back(object);
        }
    }
    return result;
}

void* FakeBrowser::memAlloc(uint32_t size) {
    return memory_.allocate(size);
}

void FakeBrowser::memFree(void* block) {
    if (block != nullptr && !memory_.free(block)) {
        problem("NPN_MemFree of a block that NPN_MemAlloc did not hand out (or that was freed already)");
    }
}

void FakeBrowser::setProxyAnswer(NPError result, std::string answer) {
    proxyResult_ = result;
    proxyAnswer_ = std::move(answer);
}

// ---- Generic dispatch ---------------------------------------------------------------------------

namespace {
void setVoid(NPVariant* variant) {
    if (variant != nullptr) {
        variant->type = NPVariantType_Void;
        variant->value.objectValue = nullptr;
    }
}
}  // namespace

bool FakeBrowser::doHasMethod(NPObject* object, NPIdentifier name) {
    NPClass* c = object->_class;
    return c != nullptr && c->hasMethod != nullptr && c->hasMethod(object, name);
}

bool FakeBrowser::doHasProperty(NPObject* object, NPIdentifier name) {
    NPClass* c = object->_class;
    return c != nullptr && c->hasProperty != nullptr && c->hasProperty(object, name);
}

bool FakeBrowser::doGetProperty(NPObject* object, NPIdentifier name, NPVariant* result) {
    setVoid(result);
    NPClass* c = object->_class;
    return c != nullptr && c->getProperty != nullptr && c->getProperty(object, name, result);
}

bool FakeBrowser::doSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value) {
    NPClass* c = object->_class;
    return c != nullptr && c->setProperty != nullptr && c->setProperty(object, name, value);
}

bool FakeBrowser::doRemoveProperty(NPObject* object, NPIdentifier name) {
    NPClass* c = object->_class;
    return c != nullptr && c->removeProperty != nullptr && c->removeProperty(object, name);
}

bool FakeBrowser::doInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                           NPVariant* result) {
    setVoid(result);
    NPClass* c = object->_class;
    return c != nullptr && c->invoke != nullptr && c->invoke(object, name, args, count, result);
}

bool FakeBrowser::doInvokeDefault(NPObject* object, const NPVariant* args, uint32_t count,
                                  NPVariant* result) {
    setVoid(result);
    NPClass* c = object->_class;
    return c != nullptr && c->invokeDefault != nullptr && c->invokeDefault(object, args, count, result);
}

bool FakeBrowser::doConstruct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) {
    setVoid(result);
    NPClass* c = object->_class;
    return c != nullptr && NP_CLASS_STRUCT_VERSION_HAS_CTOR(c) && c->construct != nullptr &&
           c->construct(object, args, count, result);
}

bool FakeBrowser::doEnumerate(NPObject* object, NPIdentifier** ids, uint32_t* count) {
    *ids = nullptr;
    *count = 0;
    NPClass* c = object->_class;
    return c != nullptr && NP_CLASS_STRUCT_VERSION_HAS_ENUM(c) && c->enumerate != nullptr &&
           c->enumerate(object, ids, count);
}

// ---- Page actions -------------------------------------------------------------------------------

template <typename Call>
FakeBrowser::CallResult FakeBrowser::pageAction(NPObject* object, const char* what, Call call) {
    CallResult outcome;
    if (!objectUsable(object, what)) {
        return outcome;
    }
    size_t exceptionsBefore = exceptions_.size();
    NPVariant result;
    setVoid(&result);
    outcome.ok = call(&result);
    outcome.value = PageValue::take(result);
    if (exceptions_.size() > exceptionsBefore) {
        outcome.exception = exceptions_.back().message;
    }
    return outcome;
}

namespace {
std::vector<NPVariant> borrowAll(const std::vector<PageValue>& args) {
    std::vector<NPVariant> result;
    result.reserve(args.size());
    for (const PageValue& arg : args) {
        result.push_back(arg.borrow());
    }
    return result;
}
}  // namespace

bool FakeBrowser::hasProperty(NPObject* object, const std::string& name) {
    return objectUsable(object, "hasProperty") && doHasProperty(object, stringIdentifier(name));
}

bool FakeBrowser::hasProperty(NPObject* object, int32_t index) {
    return objectUsable(object, "hasProperty") && doHasProperty(object, intIdentifier(index));
}

bool FakeBrowser::hasMethod(NPObject* object, const std::string& name) {
    return objectUsable(object, "hasMethod") && doHasMethod(object, stringIdentifier(name));
}

FakeBrowser::CallResult FakeBrowser::getProperty(NPObject* object, const std::string& name) {
    NPIdentifier id = stringIdentifier(name);
    return pageAction(object, "getProperty", [&](NPVariant* r) { return doGetProperty(object, id, r); });
}

FakeBrowser::CallResult FakeBrowser::getProperty(NPObject* object, int32_t index) {
    NPIdentifier id = intIdentifier(index);
    return pageAction(object, "getProperty", [&](NPVariant* r) { return doGetProperty(object, id, r); });
}

FakeBrowser::CallResult FakeBrowser::setProperty(NPObject* object, const std::string& name,
                                                 const PageValue& value) {
    NPIdentifier id = stringIdentifier(name);
    NPVariant v = value.borrow();
    return pageAction(object, "setProperty", [&](NPVariant*) { return doSetProperty(object, id, &v); });
}

FakeBrowser::CallResult FakeBrowser::setProperty(NPObject* object, int32_t index, const PageValue& value) {
    NPIdentifier id = intIdentifier(index);
    NPVariant v = value.borrow();
    return pageAction(object, "setProperty", [&](NPVariant*) { return doSetProperty(object, id, &v); });
}

FakeBrowser::CallResult FakeBrowser::removeProperty(NPObject* object, const std::string& name) {
    NPIdentifier id = stringIdentifier(name);
    return pageAction(object, "removeProperty", [&](NPVariant*) { return doRemoveProperty(object, id); });
}

FakeBrowser::CallResult FakeBrowser::invoke(NPObject* object, const std::string& name,
                                            const std::vector<PageValue>& args) {
    NPIdentifier id = stringIdentifier(name);
    std::vector<NPVariant> v = borrowAll(args);
    return pageAction(object, "invoke", [&](NPVariant* r) {
        return doInvoke(object, id, v.data(), static_cast<uint32_t>(v.size()), r);
    });
}

FakeBrowser::CallResult FakeBrowser::invokeDefault(NPObject* object, const std::vector<PageValue>& args) {
    std::vector<NPVariant> v = borrowAll(args);
    return pageAction(object, "invokeDefault", [&](NPVariant* r) {
        return doInvokeDefault(object, v.data(), static_cast<uint32_t>(v.size()), r);
    });
}

FakeBrowser::CallResult FakeBrowser::construct(NPObject* object, const std::vector<PageValue>& args) {
    std::vector<NPVariant> v = borrowAll(args);
    return pageAction(object, "construct", [&](NPVariant* r) {
        return doConstruct(object, v.data(), static_cast<uint32_t>(v.size()), r);
    });
}

std::optional<std::vector<std::string>> FakeBrowser::enumerate(NPObject* object) {
    if (!objectUsable(object, "enumerate")) {
        return std::nullopt;
    }
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    if (!doEnumerate(object, &ids, &count)) {
        memFree(ids);
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        if (auto key = identifiers_.key(ids[i])) {
            names.push_back(*key);
        } else {
            problem("enumerate returned an identifier the browser never made");
            names.emplace_back();
        }
    }
    memFree(ids);
    return names;
}

void FakeBrowser::invalidate(NPObject* object) {
    if (objectUsable(object, "invalidate") && object->_class != nullptr &&
        object->_class->invalidate != nullptr) {
        object->_class->invalidate(object);
    }
}

// ---- Posted calls -------------------------------------------------------------------------------

size_t FakeBrowser::runPostedCalls() {
    if (!onMainThread()) {
        problem("runPostedCalls called off the main thread");
        return 0;
    }
    size_t ran = 0;
    while (auto call = posted_.take()) {
        call->function(call->data);
        ++ran;
    }
    return ran;
}

bool FakeBrowser::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (!onMainThread()) {
        problem("pumpUntil called off the main thread");
        return done();
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        runPostedCalls();
        if (done()) {
            return true;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                             std::chrono::milliseconds(10));
        if (auto call = posted_.take(wait)) {
            call->function(call->data);
        }
    }
}

// ---- Reports ------------------------------------------------------------------------------------

void FakeBrowser::problem(std::string text) const {
    std::lock_guard lock(problemsMutex_);
    problems_.push_back(std::move(text));
}

std::vector<std::string> FakeBrowser::problems() const {
    std::lock_guard lock(problemsMutex_);
    return problems_;
}

void FakeBrowser::clearProblems() {
    std::lock_guard lock(problemsMutex_);
    problems_.clear();
}

std::vector<std::string> FakeBrowser::check() {
    if (report_) {
        return *report_;
    }
    unloadPage();
    std::vector<std::string> report = problems();
    std::vector<NPObject*> leakedPageObjects;
    for (NPObject* object : objects_.live()) {
        report.push_back("leaked " + objects_.describe(object) + " with " + std::to_string(refCount(object)) +
                         " reference(s)");
        if (isPageObject(object)) {
            leakedPageObjects.push_back(object);
        }
    }
    std::vector<size_t> blocks = memory_.reclaimAll();
    if (!blocks.empty()) {
        report.push_back(std::to_string(blocks.size()) + " block(s) from NPN_MemAlloc never freed (" +
                         std::to_string(std::accumulate(blocks.begin(), blocks.end(), size_t{0})) +
                         " bytes)");
    }
    // Leaked page objects are the fake's own memory: free them so the sanitizers report only the
    // plug-in's leaks. Their contents were dropped by the unload already.
    for (NPObject* object : leakedPageObjects) {
        if (isAlive(object)) {
            objects_.markFreed(object);
            delete static_cast<PageObject*>(object);
        }
    }
    report_ = report;
    return report;
}

}  // namespace FB::Npapi
