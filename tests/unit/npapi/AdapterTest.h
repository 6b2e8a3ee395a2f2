// Shared setup of the adapter's tests: a FakeBrowser, the module with its table, one browser
// instance with its NpapiBrowserHost, and small scriptable objects to expose to the page.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeBrowserTest.h"
#include "core/FactoryBase.h"
#include "npapi/NPJavascriptObject.h"
#include "npapi/NPObjectAPI.h"
#include "npapi/NpapiBrowserHost.h"
#include "npapi/NpapiPluginModule.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/script_error.h"

namespace FB::Npapi::testing {

// A factory that only counts its global hooks.
class CountingFactory : public FactoryBase {
  public:
    PluginCorePtr makePlugin(const std::string&) override { return nullptr; }
    void globalPluginInitialize() override { ++initialized; }
    void globalPluginDeinitialize() override { ++deinitialized; }
    int initialized = 0;
    int deinitialized = 0;
};

// A scriptable object with a few members: "echo" (first argument back), "count" (number of
// arguments), "fail" (a script error), property "name", and construct (the arguments joined).
class TestApi : public JSAPIAuto {
  public:
    explicit TestApi(bool methodObjects = false) : JSAPIAuto("<TestApi>") {
        setAllowMethodObjects(methodObjects);
        addMethod("echo", [](const VariantList& args) { return args.empty() ? variant() : args[0]; });
        addMethod("count", [](const VariantList& args) { return variant(static_cast<int>(args.size())); });
        addMethod("fail", [](const VariantList&) -> variant { throw script_error("it failed"); });
        addMethod("record", [this](const VariantList& args) {
            recorded.push_back(args);
            return variant();
        });
        addProperty("name",
                    PropertyFunctors{[this] { return variant(name); },
                                     [this](const variant& value) { name = value.convert<std::string>(); }});
    }

    using JSAPIAuto::construct;
    variant construct(const VariantList& args) override {
        std::string joined = "made:";
        for (const variant& arg : args) {
            joined += arg.convert<std::string>();
        }
        return joined;
    }

    std::string name = "initial";
    std::vector<VariantList> recorded;
};

class AdapterTest : public FakeBrowserTest {
  protected:
    explicit AdapterTest(FakeBrowser::Options options = FakeBrowser::Options())
        : FakeBrowserTest(std::move(options)) {}

    void SetUp() override {
        NpapiPluginModule::setFactorySource([f = factory] { return f; });
        module = NpapiPluginModule::acquire();
        module->takeBrowserTable(*browser.funcs());
        npp = browser.createInstance();
        host = std::make_shared<NpapiBrowserHost>(module, npp);
        host->takeBrowserTable(browser.funcs());
    }

    void TearDown() override {
        if (host) {
            host->shutdown();
            host.reset();
        }
        NpapiPluginModule::release();
        NpapiPluginModule::setFactorySource({});
        FakeBrowserTest::TearDown();
    }

    // The page's view of a plug-in object: what toNPVariant hands the browser, owned by the test.
    PageValue expose(const variant& value) {
        NPVariant converted = host->toNPVariant(value);
        return PageValue::take(converted);
    }

    // A page function that records the arguments of each call.
    PageValue recordingFunction(std::vector<std::vector<PageValue>>& calls) {
        return browser.newFunction("recorder", [&calls](NPObject*, const std::vector<PageValue>& args) {
            calls.push_back(args);
            return PageValue();
        });
    }

    std::shared_ptr<CountingFactory> factory = std::make_shared<CountingFactory>();
    NpapiPluginModule* module = nullptr;
    NPP npp = nullptr;
    std::shared_ptr<NpapiBrowserHost> host;
};

}  // namespace FB::Npapi::testing
