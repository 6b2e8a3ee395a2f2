// The fake page: its object class, the window with its constructors and console, the page call
// function that the host installs by script, and the page timers that call function sets.
#include <algorithm>
#include <cctype>
#include <regex>

#include "FakeBrowser.h"
#include "PageObject.h"

namespace FB::Npapi {

using fakebrowser::PageKind;
using fakebrowser::PageObject;

namespace {
// The array index a property key names, if it is one ("0", "17"; not "01" or "-1").
std::optional<size_t> indexOf(const std::string& key) {
    if (key.empty() || key.size() > 9 ||
        !std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c) != 0; }) ||
        (key.size() > 1 && key[0] == '0')) {
        return std::nullopt;
    }
    return static_cast<size_t>(std::stoul(key));
}

std::vector<PageValue> copyArguments(const NPVariant* args, uint32_t count) {
    std::vector<PageValue> result;
    result.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        result.push_back(PageValue::copyOf(args[i]));
    }
    return result;
}

// The text without blanks: two scripts that differ only in layout compare equal.
std::string withoutBlanks(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            result += c;
        }
    }
    return result;
}

// The definition the browser host evaluates to install its page call function.
const char* const kCallFunctionTemplate =
    "window.__FB_CALL_%1% = function(delay, f, args, fname) {   if (arguments.length == 3)       return "
    "setTimeout(function() { f.apply(null, args); }, delay);   else       return setTimeout(function() { "
    "f[fname].apply(f, args); }, delay);};";

// The name "__FB_CALL_<id>" when the script is that definition (its layout may differ).
std::optional<std::string> callFunctionName(const std::string& script) {
    static const std::regex head(R"(^\s*window\.(__FB_CALL_[0-9]+)\s*=)");
    std::smatch match;
    if (!std::regex_search(script, match, head)) {
        return std::nullopt;
    }
    std::string name = match[1];
    std::string expected = kCallFunctionTemplate;
    expected.replace(expected.find("__FB_CALL_%1%"), 13, name);
    if (withoutBlanks(script) != withoutBlanks(expected)) {
        return std::nullopt;
    }
    return name;
}
}  // namespace

struct FakeBrowser::PageClass {
    static NPClass record;

    static PageObject* self(NPObject* object) { return static_cast<PageObject*>(object); }

    static std::optional<std::string> key(PageObject* p, NPIdentifier id) {
        auto text = p->browser->identifiers_.key(id);
        if (!text) {
            p->browser->problem("a page object was given an identifier the browser never made");
        }
        return text;
    }

    static NPObject* allocate(NPP, NPClass*) { return new PageObject(); }
    static void deallocate(NPObject* object) { delete self(object); }
    static void invalidateObject(NPObject*) {}

    static bool isFunction(const PageValue& value) {
        if (!value.isObject()) {
            return false;
        }
        NPObject* object = value.asObject();
        return object->_class == &record && self(object)->kind == PageKind::Function;
    }

    static bool hasMethod(NPObject* object, NPIdentifier id) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        if (p->kind == PageKind::Array && *k == "push") {
            return true;
        }
        const PageValue* value = p->find(*k);
        return value != nullptr && isFunction(*value);
    }

    static bool invoke(NPObject* object, NPIdentifier id, const NPVariant* args, uint32_t count,
                       NPVariant* result) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        if (p->kind == PageKind::Array && *k == "push") {
            for (uint32_t i = 0; i < count; ++i) {
                p->elements.push_back(PageValue::copyOf(args[i]));
            }
            *result = PageValue(static_cast<int32_t>(p->elements.size())).toNPVariant();
            return true;
        }
        const PageValue* found = p->find(*k);
        if (found == nullptr || !found->isObject()) {
            p->browser->pageErrors_.push_back("TypeError: " + p->label + "." + *k + " is not a function");
            return false;
        }
        PageValue target = *found;  // keeps the function alive through the call
        if (!isFunction(target)) {
            // Another kind of object held in a property (a plug-in object): call it as a function.
            return p->browser->doInvokeDefault(target.asObject(), args, count, result);
        }
        bool ok = false;
        PageValue value =
            p->browser->callPageFunction(self(target.asObject()), object, copyArguments(args, count), ok);
        if (ok) {
            *result = value.toNPVariant();
        }
        return ok;
    }

    static bool invokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) {
        PageObject* p = self(object);
        if (p->kind != PageKind::Function) {
            p->browser->pageErrors_.push_back("TypeError: " + p->label + " is not a function");
            return false;
        }
        PageValue keep(object);
        bool ok = false;
        PageValue value = p->browser->callPageFunction(p, nullptr, copyArguments(args, count), ok);
        if (ok) {
            *result = value.toNPVariant();
        }
        return ok;
    }

    static bool construct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result) {
        PageObject* p = self(object);
        if (p->kind != PageKind::Function) {
            p->browser->pageErrors_.push_back("TypeError: " + p->label + " is not a constructor");
            return false;
        }
        PageValue keep(object);
        std::vector<PageValue> list = copyArguments(args, count);
        PageValue value;
        bool ok = true;
        if (p->constructor) {
            FakeBrowser::Function constructor = p->constructor;
            value = constructor(nullptr, list);
        } else {
            value = p->browser->callPageFunction(p, nullptr, list, ok);
        }
        if (ok) {
            *result = value.toNPVariant();
        }
        return ok;
    }

    static bool hasProperty(NPObject* object, NPIdentifier id) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        if (p->kind == PageKind::Array) {
            if (*k == "length") {
                return true;
            }
            if (auto index = indexOf(*k)) {
                return *index < p->elements.size();
            }
        }
        return p->find(*k) != nullptr;
    }

    static bool getProperty(NPObject* object, NPIdentifier id, NPVariant* result) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        if (p->kind == PageKind::Array) {
            if (*k == "length") {
                *result = PageValue(static_cast<int32_t>(p->elements.size())).toNPVariant();
                return true;
            }
            if (auto index = indexOf(*k)) {
                if (*index < p->elements.size()) {
                    *result = p->elements[*index].toNPVariant();
                }
                return true;
            }
        }
        // A missing property reads as undefined.
        if (const PageValue* value = p->find(*k)) {
            *result = value->toNPVariant();
        }
        return true;
    }

    static bool setProperty(NPObject* object, NPIdentifier id, const NPVariant* value) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        PageValue copy = PageValue::copyOf(*value);
        if (p->kind == PageKind::Array) {
            if (auto index = indexOf(*k)) {
                if (*index >= p->elements.size()) {
                    p->elements.resize(*index + 1);
                }
                std::swap(p->elements[*index], copy);
                return true;
            }
            if (*k == "length" && copy.isNumber() && copy.asNumber() >= 0) {
                std::vector<PageValue> dropped;
                size_t length = static_cast<size_t>(copy.asNumber());
                if (length < p->elements.size()) {
                    dropped.assign(
                        std::make_move_iterator(p->elements.begin() + static_cast<ptrdiff_t>(length)),
                        std::make_move_iterator(p->elements.end()));
                }
                p->elements.resize(length);
                return true;
            }
        }
        p->set(*k, std::move(copy));
        return true;
    }

    static bool removeProperty(NPObject* object, NPIdentifier id) {
        PageObject* p = self(object);
        auto k = key(p, id);
        if (!k) {
            return false;
        }
        if (p->kind == PageKind::Array) {
            if (auto index = indexOf(*k)) {
                if (*index < p->elements.size()) {
                    PageValue gone = std::move(p->elements[*index]);
                    p->elements[*index] = PageValue();
                }
                return true;
            }
        }
        p->remove(*k);
        return true;
    }

    // Names as string identifiers, indices first, as WebKit enumerates.
    static bool enumerate(NPObject* object, NPIdentifier** ids, uint32_t* count) {
        PageObject* p = self(object);
        std::vector<std::string> names;
        for (size_t i = 0; i < p->elements.size(); ++i) {
            names.push_back(std::to_string(i));
        }
        for (const auto& [name, value] : p->properties) {
            names.push_back(name);
        }
        *count = static_cast<uint32_t>(names.size());
        *ids = nullptr;
        if (names.empty()) {
            return true;
        }
        *ids = static_cast<NPIdentifier*>(
            p->browser->memAlloc(static_cast<uint32_t>(names.size() * sizeof(NPIdentifier))));
        for (size_t i = 0; i < names.size(); ++i) {
            (*ids)[i] = p->browser->identifiers_.forName(names[i]);
        }
        return true;
    }
};

NPClass FakeBrowser::PageClass::record = {
    NP_CLASS_STRUCT_VERSION,      &PageClass::allocate,       &PageClass::deallocate,
    &PageClass::invalidateObject, &PageClass::hasMethod,      &PageClass::invoke,
    &PageClass::invokeDefault,    &PageClass::hasProperty,    &PageClass::getProperty,
    &PageClass::setProperty,      &PageClass::removeProperty, &PageClass::enumerate,
    &PageClass::construct,
};

PageObject* FakeBrowser::makePageObject(PageKind kind, std::string label) {
    auto* object = static_cast<PageObject*>(createObject(nullptr, &PageClass::record, label));
    object->browser = this;
    object->kind = kind;
    object->label = std::move(label);
    return object;
}

void FakeBrowser::buildPage() {
    auto* window = makePageObject(PageKind::Object, "window");
    auto* document = makePageObject(PageKind::Object, "document");
    auto* console = makePageObject(PageKind::Object, "console");
    window_ = window;
    document_ = document;
    console_ = console;
    window->set("document", PageValue(document_));
    window->set("console", PageValue(console_));
    console->set("log", newFunction("console.log", [this](NPObject*, const std::vector<PageValue>& args) {
                     std::string line;
                     for (const PageValue& arg : args) {
                         line += (line.empty() ? "" : " ") + arg.describe();
                     }
                     consoleLines_.push_back(line);
                     return PageValue();
                 }));

    // Array(n) makes n empty slots; Array(a, b, ...) holds its arguments.
    auto makeArray = [this](NPObject*, const std::vector<PageValue>& args) {
        if (args.size() == 1 && args[0].isNumber()) {
            return newArray(std::vector<PageValue>(static_cast<size_t>(std::max(0.0, args[0].asNumber()))));
        }
        return newArray(args);
    };
    PageValue array = newFunction("Array", makeArray);
    static_cast<PageObject*>(array.asObject())->constructor = makeArray;
    window->set("Array", array);

    auto makeObject = [this](NPObject*, const std::vector<PageValue>&) { return newObject(); };
    PageValue object = newFunction("Object", makeObject);
    static_cast<PageObject*>(object.asObject())->constructor = makeObject;
    window->set("Object", object);
}

PageValue FakeBrowser::newObject() {
    return PageValue::adopt(makePageObject(PageKind::Object, "object"));
}

PageValue FakeBrowser::newArray(const std::vector<PageValue>& elements) {
    PageObject* array = makePageObject(PageKind::Array, "array");
    array->elements = elements;
    return PageValue::adopt(array);
}

PageValue FakeBrowser::newFunction(const std::string& name, Function function) {
    PageObject* object = makePageObject(PageKind::Function, "function " + name);
    object->function = std::move(function);
    return PageValue::adopt(object);
}

bool FakeBrowser::isPageObject(const NPObject* object) const {
    return isAlive(object) && object->_class == &PageClass::record;
}

std::optional<std::vector<PageValue>> FakeBrowser::arrayElements(const NPObject* object) const {
    if (!isPageObject(object)) {
        return std::nullopt;
    }
    auto* p = static_cast<const PageObject*>(object);
    if (p->kind != PageKind::Array) {
        return std::nullopt;
    }
    return p->elements;
}

std::vector<std::string> FakeBrowser::propertyNames(const NPObject* object) const {
    std::vector<std::string> names;
    if (isPageObject(object)) {
        for (const auto& [name, value] : static_cast<const PageObject*>(object)->properties) {
            names.push_back(name);
        }
    }
    return names;
}

PageValue FakeBrowser::callPageFunction(PageObject* function, NPObject* self,
                                        const std::vector<PageValue>& args, bool& ok) {
    Function body = function->function;  // the call may replace the function's body
    ok = false;
    if (!body) {
        pageErrors_.push_back("TypeError: " + function->label + " has no body");
        return PageValue();
    }
    try {
        PageValue result = body(self, args);
        ok = true;
        return result;
    } catch (const ScriptError& error) {
        pageErrors_.push_back(function->label + " threw: " + error.what());
    } catch (const std::exception& error) {
        problem("page function " + function->label + " threw " + error.what());
    }
    return PageValue();
}

// ---- Script evaluation and page timers ----------------------------------------------------------

void FakeBrowser::setEvaluator(std::function<std::optional<PageValue>(const std::string&)> evaluator) {
    evaluator_ = std::move(evaluator);
}

bool FakeBrowser::doEvaluate(NPObject*, const std::string& script, NPVariant* result) {
    evaluatedScripts_.push_back(script);
    if (auto name = callFunctionName(script)) {
        PageValue function = makeCallFunction(*name);
        static_cast<PageObject*>(window_)->set(*name, function);
        // The value of an assignment is the assigned function.
        *result = function.toNPVariant();
        return true;
    }
    if (evaluator_) {
        if (auto value = evaluator_(script)) {
            *result = value->toNPVariant();
            return true;
        }
    }
    pageErrors_.push_back("cannot evaluate: " + script);
    return false;
}

// function(delay, f, args, fname): with three arguments f(args...) runs after the delay, with
// four f[fname](args...); the result is the timer's id.
PageValue FakeBrowser::makeCallFunction(const std::string& name) {
    return newFunction(name, [this](NPObject*, const std::vector<PageValue>& args) {
        PageTimer timer;
        timer.id = nextTimerId_++;
        timer.delay = args.size() > 0 && args[0].isNumber() ? static_cast<int32_t>(args[0].asNumber()) : 0;
        timer.target = args.size() > 1 ? args[1] : PageValue();
        timer.arguments = args.size() > 2 ? args[2] : PageValue();
        if (args.size() != 3) {
            timer.method = args.size() > 3 ? args[3].describe() : std::string("undefined");
        }
        timers_.push_back(timer);
        return PageValue(timer.id);
    });
}

// The arguments Function.prototype.apply takes from an array-like value.
std::vector<PageValue> FakeBrowser::argumentsFrom(const PageValue& list) {
    if (!list.isObject()) {
        return {};
    }
    if (auto elements = arrayElements(list.asObject())) {
        return *elements;
    }
    std::vector<PageValue> result;
    CallResult length = getProperty(list.asObject(), "length");
    if (length.ok && length.value.isNumber()) {
        for (int32_t i = 0; i < static_cast<int32_t>(length.value.asNumber()); ++i) {
            result.push_back(getProperty(list.asObject(), i).value);
        }
    }
    return result;
}

size_t FakeBrowser::runTimers() {
    size_t ran = 0;
    while (!timers_.empty()) {
        auto next =
            std::min_element(timers_.begin(), timers_.end(), [](const PageTimer& a, const PageTimer& b) {
                return std::tie(a.delay, a.id) < std::tie(b.delay, b.id);
            });
        PageTimer timer = std::move(*next);
        timers_.erase(next);
        ++ran;
        std::vector<PageValue> args = argumentsFrom(timer.arguments);
        if (!timer.target.isObject()) {
            pageErrors_.push_back("timer " + std::to_string(timer.id) + ": the target is not an object");
            continue;
        }
        CallResult outcome = timer.method ? invoke(timer.target.asObject(), *timer.method, args)
                                          : invokeDefault(timer.target.asObject(), args);
        if (!outcome.ok) {
            pageErrors_.push_back("timer " + std::to_string(timer.id) + ": the call failed" +
                                  (outcome.exception ? ": " + *outcome.exception : std::string()));
        }
    }
    return ran;
}

// ---- Unloading ----------------------------------------------------------------------------------

void FakeBrowser::unloadPage() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    // Closing the page destroys the instances still running.
    for (size_t i = 0; i < instances_.size(); ++i) {
        Instance& instance = *instances_[i];
        if (instance.state.destroyed) {
            continue;
        }
        if (instance.state.pluginCreated) {
            destroyPluginInstance(&instance.npp);
        } else {
            destroyInstance(&instance.npp);
        }
    }
    droppedPostedCalls_ += posted_.clear();
    std::vector<PageTimer> timers = std::move(timers_);
    timers_.clear();
    timers.clear();
    auto evaluator = std::move(evaluator_);
    evaluator_ = nullptr;
    evaluator = nullptr;

    // Drop everything the page's objects hold, keeping the objects themselves alive meanwhile,
    // then the page's own references. What stays alive after that is held by the plug-in.
    std::vector<NPObject*> pageObjects;
    for (NPObject* object : objects_.live()) {
        if (object->_class == &PageClass::record) {
            pageObjects.push_back(retain(object));
        }
    }
    for (NPObject* object : pageObjects) {
        auto* p = static_cast<PageObject*>(object);
        auto properties = std::move(p->properties);
        auto elements = std::move(p->elements);
        auto function = std::move(p->function);
        auto constructor = std::move(p->constructor);
        p->properties.clear();
        p->elements.clear();
        p->function = nullptr;
        p->constructor = nullptr;
    }
    for (NPObject** root : {&window_, &document_, &console_}) {
        release(std::exchange(*root, nullptr));
    }
    for (auto& instance : instances_) {
        release(std::exchange(instance->element, nullptr));
    }
    for (NPObject* object : pageObjects) {
        release(object);
    }
}

}  // namespace FB::Npapi
