// Values crossing the browser boundary through the browser host, with FakeBrowser as the page. Page
// values (scalars, arrays, objects) become variants of the matching type and go back as the same value
// or the same page object; arrays and objects read through the proxy give their elements and members.
// Plug-in values (every stored type, nested lists and maps, scriptable objects) reach the page by the
// conversion table: small integers as Int32, wide integers and text as strings, lists as arrays, maps
// as objects. Whatever happens, the page ends with no leaked object, no unfreed memory and no misuse.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <utf8.h>

#include "FakeBrowser.h"
#include "FuzzInput.h"
#include "core/FactoryBase.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiBrowserHost.h"
#include "npapi/NpapiPluginModule.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/variant.h"

namespace {

using namespace FB;
using namespace FB::Npapi;

constexpr int kMaxDepth = 3;
constexpr std::size_t kMaxElements = 4;

class NoPlugins : public FactoryBase {
  public:
    PluginCorePtr makePlugin(const std::string&) override { return nullptr; }
};

class PluginObject : public JSAPIAuto {
  public:
    PluginObject() : JSAPIAuto("<fuzz object>") {}
};

// Member names reach the browser as NPIdentifiers, which are C strings: they end at the first zero.
std::string memberName(FuzzInput& in) {
    std::string name = in.text(16);
    return name.substr(0, name.find('\0'));
}

bool sameScalar(const PageValue& a, const PageValue& b) {
    if (a.isDouble() && b.isDouble() && std::isnan(a.asNumber()) && std::isnan(b.asNumber())) {
        return true;
    }
    return a == b;
}

// ---- Page to plug-in -------------------------------------------------------------------------

PageValue pageValue(FakeBrowser& browser, FuzzInput& in, int depth) {
    switch (in.pick(depth < kMaxDepth ? 8 : 6)) {
        case 0:
            return PageValue();
        case 1:
            return PageValue(nullptr);
        case 2:
            return PageValue(in.flag());
        case 3:
            return PageValue(in.value<int32_t>());
        case 4:
            return PageValue(in.value<double>());
        case 5:
            return PageValue(in.text(64));
        case 6: {
            std::vector<PageValue> elements(in.pick(kMaxElements + 1));
            for (PageValue& element : elements) {
                element = pageValue(browser, in, depth + 1);
            }
            return browser.newArray(elements);
        }
        default: {
            PageValue object = browser.newObject();
            for (std::size_t n = in.pick(kMaxElements + 1); n > 0; --n) {
                const std::string name = memberName(in);
                browser.setProperty(object.asObject(), name, pageValue(browser, in, depth + 1));
            }
            return object;
        }
    }
}

PageValue backToPage(NpapiBrowserHost& host, const variant& value) {
    NPVariant out = host.toNPVariant(value);
    return PageValue::take(out);
}

void checkFromPage(FakeBrowser& browser, NpapiBrowserHost& host, const PageValue& page) {
    const variant value = host.toVariant(page.borrow());
    switch (page.type()) {
        case PageValue::Type::Void:
            FUZZ_CHECK(value.is_empty());
            break;
        case PageValue::Type::Null:
            FUZZ_CHECK(value.is_null());
            break;
        case PageValue::Type::Bool:
            FUZZ_CHECK(value.get<bool>() == page.asBool());
            break;
        case PageValue::Type::Int32:
            FUZZ_CHECK(value.get<int>() == page.asInt32());
            break;
        case PageValue::Type::Double:
            FUZZ_CHECK(sameScalar(PageValue(value.get<double>()), page));
            break;
        case PageValue::Type::String:
            FUZZ_CHECK(value.get<std::string>() == page.asString());
            break;
        case PageValue::Type::Object: {
            FUZZ_CHECK(value.is_of_type<JSObjectPtr>() && value.get<JSObjectPtr>());
            if (const auto elements = browser.arrayElements(page.asObject())) {
                const VariantList list = value.convert<VariantList>();
                FUZZ_CHECK(list.size() == elements->size());
                for (std::size_t i = 0; i < list.size(); ++i) {
                    const PageValue element = backToPage(host, list[i]);
                    FUZZ_CHECK(sameScalar(element, (*elements)[i]));
                }
            } else {
                const VariantMap members = value.convert<VariantMap>();
                for (const std::string& name : browser.propertyNames(page.asObject())) {
                    FUZZ_CHECK(members.count(name) == 1);
                }
            }
            break;
        }
    }
    FUZZ_CHECK(sameScalar(backToPage(host, value), page));
}

// ---- Plug-in to page -------------------------------------------------------------------------

variant pluginValue(FakeBrowser& browser, NpapiBrowserHost& host, FuzzInput& in, int depth) {
    switch (in.pick(depth < kMaxDepth ? 20 : 18)) {
        case 0:
            return variant();
        case 1:
            return variant(static_cast<const char*>(nullptr));
        case 2:
            return variant(in.flag());
        case 3:
            return variant(in.value<char>());
        case 4:
            return variant(in.value<unsigned char>());
        case 5:
            return variant(in.value<short>());
        case 6:
            return variant(in.value<unsigned short>());
        case 7:
            return variant(in.value<int>());
        case 8:
            return variant(in.value<long>());
        case 9:
            return variant(in.value<unsigned int>());
        case 10:
            return variant(in.value<unsigned long>());
        case 11:
            return variant(in.value<long long>());
        case 12:
            return variant(in.value<unsigned long long>());
        case 13:
            return variant(in.value<float>());
        case 14:
            return variant(in.value<double>());
        case 15:
            return variant(in.text(64));
        case 16: {
            const std::string units = in.text(64);
            std::wstring wide;
            for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
                wide += static_cast<wchar_t>(static_cast<unsigned char>(units[i]) |
                                             (static_cast<unsigned char>(units[i + 1]) << 8));
            }
            return variant(wide);
        }
        case 17:
            if (in.flag()) {
                return variant(JSAPIPtr(std::make_shared<PluginObject>()));
            }
            return host.toVariant(browser.newArray({PageValue(in.value<int32_t>())}).borrow());
        case 18: {
            VariantList list(in.pick(kMaxElements + 1));
            for (variant& element : list) {
                element = pluginValue(browser, host, in, depth + 1);
            }
            return variant(list);
        }
        default: {
            VariantMap map;
            for (std::size_t n = in.pick(kMaxElements + 1); n > 0; --n) {
                const std::string key = memberName(in);
                map[key] = pluginValue(browser, host, in, depth + 1);
            }
            return variant(map);
        }
    }
}

void expectOnPage(FakeBrowser& browser, const variant& value, const PageValue& page) {
    const std::type_info& type = value.type();
    if (value.is_empty()) {
        FUZZ_CHECK(page.isVoid());
    } else if (value.is_null()) {
        FUZZ_CHECK(page.isNull());
    } else if (type == typeid(bool)) {
        FUZZ_CHECK(page == PageValue(value.get<bool>()));
    } else if (type == typeid(char) || type == typeid(unsigned char) || type == typeid(short) ||
               type == typeid(unsigned short) || type == typeid(int) || type == typeid(long)) {
        FUZZ_CHECK(page == PageValue(static_cast<int32_t>(value.convert<long>())));
    } else if (type == typeid(float) || type == typeid(double)) {
        FUZZ_CHECK(sameScalar(page, PageValue(value.convert<double>())));
    } else if (type == typeid(VariantList)) {
        const auto elements = browser.arrayElements(page.isObject() ? page.asObject() : nullptr);
        const auto& list = value.get<VariantList>();
        FUZZ_CHECK(elements && elements->size() == list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            expectOnPage(browser, list[i], (*elements)[i]);
        }
    } else if (type == typeid(VariantMap)) {
        FUZZ_CHECK(page.isObject());
        const auto& map = value.get<VariantMap>();
        const std::vector<std::string> names = browser.propertyNames(page.asObject());
        FUZZ_CHECK(names.size() == map.size());
        std::size_t i = 0;
        for (const auto& [key, member] : map) {
            FUZZ_CHECK(names[i++] == key);
            expectOnPage(browser, member, browser.getProperty(page.asObject(), key).value);
        }
    } else if (type == typeid(JSAPIPtr) || type == typeid(JSObjectPtr)) {
        FUZZ_CHECK(page.isObject());
    } else {
        // Wide integers and text of either width: the page gets the text.
        FUZZ_CHECK(page == PageValue(value.convert<std::string>()));
    }
}

void checkFromPlugin(FakeBrowser& browser, NpapiBrowserHost& host, FuzzInput& in) {
    const variant value = pluginValue(browser, host, in, 0);
    PageValue page;
    try {
        page = backToPage(host, value);
    } catch (const utf8::exception&) {
        // Wide text that is not UTF-16 is refused, and nothing it built may stay behind.
        return;
    } catch (const bad_variant_cast&) {
        // So is a 64-bit long beyond Int32 (the conversion to int fails).
        return;
    }
    expectOnPage(browser, value, page);
    if (page.isObject()) {
        // The page object comes back as a proxy that goes back as the same object.
        FUZZ_CHECK(backToPage(host, host.toVariant(page.borrow())).asObject() == page.asObject());
    }
}

void report(FakeBrowser& browser) {
    const std::vector<std::string> problems = browser.check();
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "browser problem: %s\n", problem.c_str());
    }
    FUZZ_CHECK(problems.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool factory = [] {
        auto plugins = std::make_shared<NoPlugins>();
        NpapiPluginModule::setFactorySource([plugins] { return plugins; });
        return true;
    }();
    (void)factory;

    FuzzInput in(data, size);
    FakeBrowser browser;
    NpapiPluginModule* module = NpapiPluginModule::acquire();
    module->takeBrowserTable(*browser.funcs());
    NPP npp = browser.createInstance();
    auto host = std::make_shared<NpapiBrowserHost>(module, npp);
    host->takeBrowserTable(browser.funcs());

    while (!in.empty()) {
        if (in.flag()) {
            checkFromPage(browser, *host, pageValue(browser, in, 0));
        } else {
            checkFromPlugin(browser, *host, in);
        }
    }

    host->shutdown();
    host.reset();
    NpapiPluginModule::release();
    report(browser);
    return 0;
}
