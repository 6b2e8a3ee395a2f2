// The module as pages drive it, through its exported entry points with FakeBrowser as the browser:
// instances with fuzzed parameters, and sequences of page actions (reading, writing, removing and
// enumerating members, calls, constructions) on the scriptable objects and on every object they hand
// out, with fuzzed member names and values, posted calls and timers run in between, instances
// destroyed at any point. Script errors are allowed; a crash, a sanitizer report, or a leaked object,
// unfreed memory or other misuse that the browser finds at the end are faults.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "EngineHome.h"
#include "FakeBrowser.h"
#include "FuzzInput.h"
#include "npapi/npapi/npfunctions.h"
#include "signature/PinCache.h"

namespace {

using FB::Npapi::FakeBrowser;
using FB::Npapi::PageValue;

constexpr std::size_t kMaxInstances = 3;
constexpr std::size_t kMaxObjects = 24;
constexpr std::size_t kMaxArguments = 4;

// Names a page uses: the API's members and events, the built-in members of every scriptable object and
// of the NPAPI bridge, names of function objects and reserved names.
const char* const kNames[] = {
    "echo",
    "testEvent",
    "getDigitalSignatureCertificates",
    "getCertificate",
    "signPkcs1",
    "processPinChar",
    "deletePinChar",
    "testString",
    "version",
    "pin",
    "lastError",
    "lastLowLevelError",
    "lastErrorMessage",
    "pinLength",
    "isPinMissing",
    "isPinInvalid",
    "pinModuleName",
    "pinRetryCount",
    "toString",
    "getAttribute",
    "setAttribute",
    "value",
    "valid",
    "addEventListener",
    "removeEventListener",
    "attachEvent",
    "detachEvent",
    "getLastException",
    "onecho",
    "ontest",
    "onload",
    "echo",
    "ontest",
    "apply",
    "call",
    "length",
    "constructor",
    "prototype",
    "style",
    "id",
    "0",
    "",
};

const char* const kParameters[] = {"CaSubjectNames", "windowless", "onload", "onecho", "ontest"};

class Page {
  public:
    explicit Page(FuzzInput& in) : in_(in) {
        objects_.push_back(browser_.window());
        objects_.push_back(browser_.newArray({PageValue(1), PageValue("two")}));
        objects_.push_back(
            browser_.newFunction("handler", [this](NPObject*, const std::vector<PageValue>& args) {
                ++handlerCalls_;
                return args.empty() ? PageValue() : args[0];
            }));
        browser_.setProperty(browser_.window(), "handler", objects_.back());
    }

    FakeBrowser& browser() { return browser_; }

    void embed() {
        if (instances_.size() >= kMaxInstances) {
            return;
        }
        std::vector<FakeBrowser::Param> params;
        for (std::size_t n = in_.pick(4); n > 0; --n) {
            const std::string name =
                in_.flag() ? kParameters[in_.pick(std::size(kParameters))] : in_.text(16);
            const std::string given = in_.text(64);
            params.emplace_back(cString(name), cString(given));
        }
        NPP npp = nullptr;
        if (browser_.newPluginInstance(&npp, "application/x-korvane", params) == NPERR_NO_ERROR) {
            keep(browser_.scriptableObject(npp));
        }
        instances_.push_back(npp);
    }

    void destroy() {
        if (instances_.empty()) {
            return;
        }
        const std::size_t which = in_.pick(instances_.size());
        if (!browser_.instanceState(instances_[which]).destroyed) {
            browser_.destroyPluginInstance(instances_[which]);
        }
    }

    // Every piece is read into a local first: the order in which function arguments are evaluated
    // differs between compilers, and the same input must mean the same actions everywhere.
    void act() {
        NPObject* object = pickObject();
        const std::size_t action = in_.pick(12);
        switch (action) {
            case 0:
                embed();
                return;
            case 1:
                destroy();
                return;
            case 8:
                browser_.enumerate(object);
                return;
            case 10:
                keep(browser_.getProperty(object, static_cast<int32_t>(in_.pick(4))).value);
                return;
            case 11:
                browser_.runPostedCalls();
                browser_.runTimers();
                return;
            default:
                break;
        }
        if (action == 5 || action == 9) {
            const std::vector<PageValue> args = arguments();
            keep((action == 5 ? browser_.invokeDefault(object, args) : browser_.construct(object, args))
                     .value);
            return;
        }
        const std::string member = name();
        switch (action) {
            case 2:
                keep(browser_.getProperty(object, member).value);
                break;
            case 3: {
                const PageValue given = value();
                if (!growsPageArray(object, member, given)) {
                    browser_.setProperty(object, member, given);
                }
                break;
            }
            case 4: {
                const std::vector<PageValue> args = arguments();
                keep(browser_.invoke(object, member, args).value);
                break;
            }
            case 6:
                browser_.hasMethod(object, member);
                browser_.hasProperty(object, member);
                break;
            default:
                browser_.removeProperty(object, member);
                break;
        }
    }

    // Drops the page's references, destroys the instances left, shuts the module down.
    void close() {
        objects_.clear();
        browser_.runPostedCalls();
        for (NPP npp : instances_) {
            if (!browser_.instanceState(npp).destroyed) {
                browser_.destroyPluginInstance(npp);
            }
        }
        FUZZ_CHECK(NP_Shutdown() == NPERR_NO_ERROR);
    }

  private:
    // NPAPI parameters are C strings.
    static std::string cString(std::string text) { return text.substr(0, text.find('\0')); }

    std::string name() {
        if (in_.flag()) {
            return kNames[in_.pick(std::size(kNames))];
        }
        return cString(in_.text(24));
    }

    // The browser double keeps its arrays dense, so a page writing a length or an index of millions would
    // make it allocate that many elements; a browser would not, and the plug-in is not involved.
    bool growsPageArray(NPObject* object, const std::string& member, const PageValue& given) const {
        if (!browser_.arrayElements(object)) {
            return false;
        }
        if (member == "length") {
            return given.isNumber() && given.asNumber() > 64;
        }
        return !member.empty() && member.size() > 2 &&
               member.find_first_not_of("0123456789") == std::string::npos;
    }

    NPObject* pickObject() { return objects_[in_.pick(objects_.size())].asObject(); }

    PageValue value() {
        switch (in_.pick(9)) {
            case 0:
                return PageValue();
            case 1:
                return PageValue(nullptr);
            case 2:
                return PageValue(in_.flag());
            case 3:
                return PageValue(static_cast<int32_t>(in_.value<int32_t>()));
            case 4:
                return PageValue(in_.value<double>());
            case 5:
                return PageValue(std::string(1, static_cast<char>('0' + in_.pick(10))));
            case 6:
                return PageValue(in_.text(64));
            case 7:
                return browser_.newArray({value(), value()});
            default:
                return objects_[in_.pick(objects_.size())];
        }
    }

    std::vector<PageValue> arguments() {
        std::vector<PageValue> args(in_.pick(kMaxArguments + 1));
        for (PageValue& arg : args) {
            arg = value();
        }
        return args;
    }

    void keep(const PageValue& value) {
        if (value.isObject() && objects_.size() < kMaxObjects) {
            objects_.push_back(value);
        }
    }

    FuzzInput& in_;
    FakeBrowser browser_;
    std::vector<PageValue> objects_;
    std::vector<NPP> instances_;
    int handlerCalls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEmptyHome();
    FuzzInput in(data, size);
    std::vector<std::string> problems;
    {
        Page page(in);
        FUZZ_CHECK(page.browser().startPlugin(NP_Initialize, NP_GetEntryPoints) == NPERR_NO_ERROR);
        page.embed();
        while (!in.empty()) {
            page.act();
        }
        page.close();
        problems = page.browser().check();
    }
    // PIN state outlives the page; each run starts without it.
    PinCache::clearEveryOrigin();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "browser problem: %s\n", problem.c_str());
    }
    FUZZ_CHECK(problems.empty());
    return 0;
}
