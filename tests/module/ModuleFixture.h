// A FakeBrowser page with the loaded module started the way the platform's browsers start a plug-in. Teardown destroys the instances the test left alive, shuts the module down and then
// has the browser report leaks and misuse.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeBrowserTest.h"
#include "LoadedModule.h"

namespace moduletest {

using FB::Npapi::FakeBrowser;
using FB::Npapi::PageValue;

class ModuleFixture : public FB::Npapi::FakeBrowserTest {
  protected:
    explicit ModuleFixture(FakeBrowser::Options options = FakeBrowser::Options())
        : FakeBrowserTest(std::move(options)), module(loadedModule()) {}
    ModuleFixture(FakeBrowser::Options options, const LoadedModule& loaded)
        : FakeBrowserTest(std::move(options)), module(loaded) {}

    void SetUp() override { ASSERT_EQ(browser.startPlugin(module.initialize, module.getEntryPoints), NPERR_NO_ERROR); }

    void TearDown() override {
        for (NPP npp : instances_) {
            if (!browser.instanceState(npp).destroyed) {
                browser.destroyPluginInstance(npp);
            }
        }
        EXPECT_EQ(module.shutdown(), NPERR_NO_ERROR);
        FakeBrowserTest::TearDown();
    }

    // One <object type="application/x-korvane"> with these parameters; fails the test unless NPP_New
    // accepts it.
    NPP embed(const std::vector<FakeBrowser::Param>& params = {}) {
        NPP npp = nullptr;
        EXPECT_EQ(browser.newPluginInstance(&npp, "application/x-korvane", params), NPERR_NO_ERROR);
        instances_.push_back(npp);
        return npp;
    }

    // A global page function that records the arguments of every call.
    PageValue recordingFunction(const std::string& name, std::vector<std::vector<PageValue>>& calls) {
        PageValue function =
            browser.newFunction(name, [&calls](NPObject*, const std::vector<PageValue>& args) {
                calls.push_back(args);
                return PageValue();
            });
        EXPECT_TRUE(browser.setProperty(browser.window(), name, function));
        return function;
    }

    // obj.name(args) as page script runs it: a method is invoked, anything else is read and called.
    FakeBrowser::CallResult pageCall(NPObject* object, const std::string& name,
                                     const std::vector<PageValue>& args = {}) {
        if (browser.hasMethod(object, name)) {
            return browser.invoke(object, name, args);
        }
        FakeBrowser::CallResult member = browser.getProperty(object, name);
        if (!member.ok || !member.value.isObject()) {
            return member;
        }
        return browser.invokeDefault(member.value.asObject(), args);
    }

    const NPPluginFuncs& plugin() { return *browser.pluginFuncs(); }

    const LoadedModule& module;

  private:
    std::vector<NPP> instances_;
};

}  // namespace moduletest
