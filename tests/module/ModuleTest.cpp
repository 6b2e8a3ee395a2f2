// The module as a browser meets it: discovery, instances with their parameters, the scriptable object,
// page calls and events, script errors, destruction and shutdown, all through the exported entry points.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "KorvaneVersion.h"
#include "ModuleFixture.h"

using namespace moduletest;
using ::testing::IsEmpty;

namespace {

std::string text(const void* pointer) {
    return pointer != nullptr ? static_cast<const char*>(pointer) : "(null)";
}

class ModuleTest : public ModuleFixture {};

TEST_F(ModuleTest, InitialisationFillsTheThirteenCallbacks) {
    const NPPluginFuncs& table = plugin();
    EXPECT_EQ(table.size, sizeof(NPPluginFuncs));
    EXPECT_EQ(table.version, NP_VERSION_MINOR);
    for (const void* entry :
         {(const void*)table.newp, (const void*)table.destroy, (const void*)table.setwindow,
          (const void*)table.newstream, (const void*)table.destroystream, (const void*)table.asfile,
          (const void*)table.writeready, (const void*)table.write, (const void*)table.print,
          (const void*)table.event, (const void*)table.urlnotify, (const void*)table.getvalue,
          (const void*)table.setvalue}) {
        EXPECT_NE(entry, nullptr);
    }
    EXPECT_EQ(table.javaClass, nullptr);
    EXPECT_EQ(table.gotfocus, nullptr);

    // NP_GetEntryPoints as a Windows-style browser calls it, on the same module: the same callbacks.
    NPPluginFuncs again{};
    again.size = sizeof(again);
    EXPECT_EQ(module.getEntryPoints(&again), NPERR_NO_ERROR);
    EXPECT_EQ(again.newp, table.newp);
    EXPECT_EQ(again.getvalue, table.getvalue);
}

TEST_F(ModuleTest, AnInstanceDeclaresItselfWindowlessAndTransparent) {
    NPP npp = embed();
    const FakeBrowser::InstanceState& state = browser.instanceState(npp);
    ASSERT_TRUE(state.windowed.has_value());
    EXPECT_FALSE(*state.windowed);
    ASSERT_TRUE(state.transparent.has_value());
    EXPECT_TRUE(*state.transparent);
    ASSERT_EQ(state.setValues.size(), 2u);
    EXPECT_EQ(state.setValues[0].first, NPPVpluginWindowBool);
    EXPECT_EQ(state.setValues[1].first, NPPVpluginTransparentBool);

    // A window changes nothing and is accepted.
    NPWindow window{};
    window.window = reinterpret_cast<void*>(0x1234);
    window.width = 20;
    window.height = 10;
    EXPECT_EQ(plugin().setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(plugin().setwindow(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(browser.instanceState(npp).setValues.size(), 2u);
}

TEST_F(ModuleTest, InstanceNameAndDescriptionComeFromTheIdentity) {
    NPP npp = embed();
    const char* value = nullptr;
    EXPECT_EQ(plugin().getvalue(npp, NPPVpluginNameString, &value), NPERR_NO_ERROR);
    EXPECT_EQ(text(value), "Korvane");
    EXPECT_EQ(plugin().getvalue(npp, NPPVpluginDescriptionString, &value), NPERR_NO_ERROR);
    EXPECT_EQ(text(value), "Brindlemoor plugin para firma digital 1.1");
    EXPECT_EQ(plugin().getvalue(npp, NPPVpluginNeedsXEmbed, &value), NPERR_GENERIC_ERROR);
    EXPECT_EQ(plugin().setvalue(npp, NPNVprivateModeBool, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(plugin().event(npp, nullptr), 0);
}

TEST_F(ModuleTest, TheScriptableObjectIsTheSameAndRetainedOnEveryRequest) {
    NPP npp = embed();
    PageValue first = browser.scriptableObject(npp);
    ASSERT_TRUE(first.isObject());
    // The instance keeps one reference, the page the one it was handed.
    EXPECT_EQ(browser.refCount(first.asObject()), 2);

    PageValue second = browser.scriptableObject(npp);
    ASSERT_TRUE(second.isObject());
    EXPECT_EQ(second.asObject(), first.asObject());
    EXPECT_EQ(browser.refCount(first.asObject()), 3);

    FakeBrowser::CallResult version = browser.getProperty(first.asObject(), "version");
    ASSERT_TRUE(version.ok);
    EXPECT_EQ(version.value, PageValue(KORVANE_VERSION));
}

TEST_F(ModuleTest, EchoReachesTheOnechoHandlerThroughThePageCallFunction) {
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);
    std::vector<std::vector<PageValue>> calls;
    PageValue handler = recordingFunction("echoed", calls);
    ASSERT_TRUE(pageCall(api.asObject(), "addEventListener", {"echo", handler, false}).ok);

    FakeBrowser::CallResult echo = browser.invoke(api.asObject(), "echo", {"hello"});
    ASSERT_TRUE(echo.ok);
    EXPECT_EQ(echo.value, PageValue("hello"));
    EXPECT_TRUE(calls.empty()) << "the handler runs later, not inside the call";

    // Fired on the main thread, the event goes to the page's call function, which runs the handler
    // from a page timer without delay.
    ASSERT_EQ(browser.pendingTimers().size(), 1u);
    EXPECT_EQ(browser.pendingTimers()[0].delay, 0);
    browser.runPostedCalls();
    EXPECT_EQ(browser.runTimers(), 1u);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].size(), 2u);
    EXPECT_EQ(calls[0][0], PageValue("So far, you clicked this many times: "));
    EXPECT_TRUE(calls[0][1].isNumber());
    EXPECT_THAT(browser.pageErrors(), IsEmpty());
}

TEST_F(ModuleTest, OnloadIsCalledAfterReadinessWithTheScriptableObject) {
    std::vector<std::vector<PageValue>> calls;
    PageValue onload = recordingFunction("pluginLoaded", calls);
    // A repeated name keeps its later value; a pair with a null value is left out.
    NPP npp = embed({{"onload", "noSuchFunction"}, {"onload", "pluginLoaded"}, {"onload", std::nullopt}});
    EXPECT_TRUE(calls.empty());
    ASSERT_EQ(browser.pendingTimers().size(), 1u);
    EXPECT_EQ(browser.pendingTimers()[0].delay, 250);

    EXPECT_EQ(browser.runTimers(), 1u);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].size(), 1u);
    ASSERT_TRUE(calls[0][0].isObject());
    FakeBrowser::CallResult version = browser.getProperty(calls[0][0].asObject(), "version");
    EXPECT_EQ(version.value, PageValue(KORVANE_VERSION));
    calls.clear();
    (void)npp;
}

TEST_F(ModuleTest, OnloadNamingNothingSchedulesNothing) {
    embed({{"onload", "noSuchFunction"}, {"windowless", "true"}});
    EXPECT_TRUE(browser.pendingTimers().empty());
}

TEST_F(ModuleTest, InstancesWithoutParametersOrWithANegativeCountAreAccepted) {
    NPP npp = embed();
    EXPECT_TRUE(browser.pendingTimers().empty());
    // A negative count, as a 16-bit signed argc can carry, delivers nothing.
    NPP raw = browser.createInstance();
    char type[] = "application/x-korvane";
    EXPECT_EQ(plugin().newp(type, raw, NP_EMBED, -1, nullptr, nullptr, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(plugin().destroy(raw, nullptr), NPERR_NO_ERROR);
    browser.destroyInstance(raw);
    (void)npp;
}

TEST_F(ModuleTest, ScriptErrorsBecomeBrowserExceptionsWithTheirMessages) {
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);

    FakeBrowser::CallResult unknown = browser.invoke(api.asObject(), "noSuchMethod", {});
    EXPECT_FALSE(unknown.ok);
    ASSERT_TRUE(unknown.exception.has_value());
    EXPECT_EQ(*unknown.exception, "The specified member does not exist: noSuchMethod");

    FakeBrowser::CallResult last = pageCall(api.asObject(), "getLastException");
    ASSERT_TRUE(last.ok);
    EXPECT_EQ(last.value, PageValue("The specified member does not exist: noSuchMethod"));

    FakeBrowser::CallResult missingArgument = browser.invoke(api.asObject(), "getCertificate", {});
    EXPECT_FALSE(missingArgument.ok);
    ASSERT_TRUE(missingArgument.exception.has_value());
    EXPECT_FALSE(missingArgument.exception->empty());
    EXPECT_EQ(pageCall(api.asObject(), "getLastException").value, PageValue(*missingArgument.exception));

    // An event listener needs a name and a handler.
    FakeBrowser::CallResult listener = pageCall(api.asObject(), "addEventListener", {"echo"});
    EXPECT_FALSE(listener.ok);
    ASSERT_TRUE(listener.exception.has_value());
    EXPECT_EQ(*listener.exception, "Invalid Arguments");
}

TEST_F(ModuleTest, DestroyEndsTheInstanceAndLeavesTheRecordEmpty) {
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);
    EXPECT_EQ(plugin().destroy(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(npp->pdata, nullptr);
    EXPECT_EQ(plugin().writeready(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(plugin().destroy(npp, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    browser.destroyInstance(npp);
}

// The browser does not invalidate the page's objects itself here: the module alone must make the
// leftover scriptable object harmless.
class ModuleLeftoverTest : public ModuleFixture {
  protected:
    static FakeBrowser::Options keepObjects() {
        FakeBrowser::Options options;
        options.invalidateObjectsOfDestroyedInstances = false;
        return options;
    }
    ModuleLeftoverTest() : ModuleFixture(keepObjects()) {}
};

TEST_F(ModuleLeftoverTest, CallsOnTheLeftoverScriptableObjectFailQuietly) {
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);
    ASSERT_TRUE(browser.getProperty(api.asObject(), "version").ok);
    ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);

    // The page still holds its reference; the instance gave its own back.
    EXPECT_EQ(browser.refCount(api.asObject()), 1);
    browser.clearExceptions();
    EXPECT_FALSE(browser.getProperty(api.asObject(), "version").ok);
    EXPECT_FALSE(browser.invoke(api.asObject(), "echo", {"late"}).ok);
    EXPECT_FALSE(browser.setProperty(api.asObject(), "testString", "x").ok);
    EXPECT_FALSE(browser.hasMethod(api.asObject(), "echo"));
    EXPECT_FALSE(browser.enumerate(api.asObject()).has_value());
    EXPECT_THAT(browser.exceptions(), IsEmpty());
}

TEST_F(ModuleTest, TwoInstancesLiveSideBySide) {
    NPP first = embed();
    NPP second = embed();
    PageValue a = browser.scriptableObject(first);
    PageValue b = browser.scriptableObject(second);
    EXPECT_NE(a.asObject(), b.asObject());
    ASSERT_EQ(browser.destroyPluginInstance(first), NPERR_NO_ERROR);
    EXPECT_TRUE(browser.getProperty(b.asObject(), "version").ok);
}

// QtWebKit's plug-in table is 160 bytes: every callback fits, nothing after it is touched (the fake
// reports a write past `size` as a problem at teardown).
class ModuleQtWebKitTest : public ModuleFixture {
  protected:
    ModuleQtWebKitTest() : ModuleFixture(FakeBrowser::Options::qtWebKit()) {}
};

TEST_F(ModuleQtWebKitTest, AShortPluginTableGetsEveryCallbackItCovers) {
    EXPECT_NE(plugin().setvalue, nullptr);
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);
    EXPECT_TRUE(browser.getProperty(api.asObject(), "version").ok);
}

// An old browser table that ends before NPP_GetValue: only the callbacks before it are written.
class ModuleShortTableTest : public ModuleFixture {
  protected:
    static FakeBrowser::Options shortTable() {
        FakeBrowser::Options options;
        options.pluginFuncsSize = offsetof(NPPluginFuncs, getvalue);
        return options;
    }
    ModuleShortTableTest() : ModuleFixture(shortTable()) {}
};

TEST_F(ModuleShortTableTest, OnlyTheCoveredEntriesAreWritten) {
    EXPECT_NE(plugin().urlnotify, nullptr);
    EXPECT_EQ(plugin().getvalue, nullptr);
    EXPECT_EQ(plugin().setvalue, nullptr);
}

// A browser without NPN_SetValue still gets a working instance.
class ModuleNoSetValueTest : public ModuleFixture {
  protected:
    static FakeBrowser::Options noSetValue() {
        FakeBrowser::Options options;
        options.missingEntries = {"setvalue"};
        return options;
    }
    ModuleNoSetValueTest() : ModuleFixture(noSetValue()) {}
};

TEST_F(ModuleNoSetValueTest, WindowlessDeclarationsAreSkipped) {
    NPP npp = embed();
    EXPECT_FALSE(browser.instanceState(npp).windowed.has_value());
    PageValue api = browser.scriptableObject(npp);
    EXPECT_TRUE(browser.getProperty(api.asObject(), "version").ok);
}

TEST_F(ModuleTest, ShutdownWithoutInstancesCanBeRepeatedAndTheModuleStartsAgain) {
    EXPECT_EQ(module.shutdown(), NPERR_NO_ERROR);
    EXPECT_EQ(module.shutdown(), NPERR_NO_ERROR);
    ASSERT_EQ(browser.startPlugin(module.initialize, module.getEntryPoints), NPERR_NO_ERROR);
    NPP npp = embed();
    PageValue api = browser.scriptableObject(npp);
    EXPECT_TRUE(browser.getProperty(api.asObject(), "version").ok);
}

}  // namespace
