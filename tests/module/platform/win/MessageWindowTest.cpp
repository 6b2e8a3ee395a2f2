// The host kind a Windows browser gets, seen from outside the module: WebKit browsers and browsers older
// than minor version 19 get calls for the main thread through a hidden message window and the
// browser's message loop; others through NPN_PluginThreadAsyncCall. Each test loads a private copy of
// the module, so that the once-made choice and the window numbering start afresh.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "scripting/utf_conversion.h"

using namespace moduletest;

namespace {

constexpr const wchar_t* kFirstWindowClass = L"FBEventWindow0";

// npKorvane.dll copied under a name of its own and loaded from there.
class ModuleCopy {
  public:
    ModuleCopy() : dir_(testsys::makeTempDir()), path_(dir_ + "\\npKorvane-copy.dll") {
        std::filesystem::copy_file(testsys::nativePath(modulePath()), path_);
        load();
    }
    ~ModuleCopy() {
        unload();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void load() { module_ = loadModule(path_); }
    // Gives the copy back to the loader; true when it is really gone from the process.
    bool unload() {
        if (module_.handle == nullptr) {
            return true;
        }
        testsys::unloadModule(module_.handle);
        module_ = LoadedModule();
        return GetModuleHandleW(FB::utf8ToWide(path_).c_str()) == nullptr;
    }
    LoadedModule& module() { return module_; }
    HINSTANCE instance() const { return static_cast<HINSTANCE>(module_.handle); }

  private:
    std::string dir_;
    std::string path_;
    LoadedModule module_;
};

HWND firstMessageWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, kFirstWindowClass, nullptr);
}

bool classRegistered(HINSTANCE instance, const wchar_t* name) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    return GetClassInfoExW(instance, name, &info) != 0;
}

struct BrowserKind {
    const char* name;
    std::string userAgent;
    uint16_t minorVersion;
    bool messageWindow;
};

FakeBrowser::Options optionsFor(const BrowserKind& kind) {
    FakeBrowser::Options options;
    options.userAgent = kind.userAgent;
    options.minorVersion = kind.minorVersion;
    return options;
}

// The copy is made before the fixture, which starts the module, and unloaded after it shut it down.
struct CopyHolder {
    ModuleCopy copy;
};

class HostKindTest : private CopyHolder,
                     public ModuleFixture,
                     public ::testing::WithParamInterface<BrowserKind> {
  protected:
    HostKindTest() : ModuleFixture(optionsFor(GetParam()), copy.module()) {}
    using CopyHolder::copy;
};

TEST_P(HostKindTest, CallsForTheMainThreadTakeThePathOfTheBrowserKind) {
    const bool viaWindow = GetParam().messageWindow;
    std::vector<std::vector<PageValue>> loads;
    recordingFunction("pluginLoaded", loads);
    NPP npp = embed({{"onload", "pluginLoaded"}});
    EXPECT_EQ(firstMessageWindow() != nullptr, viaWindow);

    // The onload call is a page timer, set through the page's call function with either host: nothing
    // is posted for it.
    EXPECT_EQ(testsys::runMessageLoop(), 0u);
    EXPECT_EQ(browser.runPostedCalls(), 0u);
    EXPECT_EQ(browser.runTimers(), 1u);
    ASSERT_EQ(loads.size(), 1u);

    // A handler the page assigned as a property is called through the host's posted call: for this
    // kind one message to the hidden window, run by the browser's message loop; for the other through
    // NPN_PluginThreadAsyncCall. Until then nothing reaches the page.
    PageValue api = browser.scriptableObject(npp);
    std::vector<std::vector<PageValue>> assigned;
    ASSERT_TRUE(browser.setProperty(api.asObject(), "onecho", recordingFunction("assigned", assigned)).ok);
    ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"hello"}).ok);
    EXPECT_TRUE(assigned.empty());
    EXPECT_EQ(browser.runPostedCalls(), viaWindow ? 0u : 1u);
    EXPECT_EQ(assigned.empty(), viaWindow);
    EXPECT_EQ(testsys::runMessageLoop(), viaWindow ? 1u : 0u);
    ASSERT_EQ(assigned.size(), 1u);
    ASSERT_EQ(assigned[0].size(), 2u);
    EXPECT_EQ(assigned[0][0], PageValue("So far, you clicked this many times: "));
    EXPECT_TRUE(browser.pendingTimers().empty()) << "called by the plug-in, not from a page timer";

    // A listener registered with addEventListener, fired on the main thread, is run by the page's call
    // function from a page timer; the assigned handler is posted again.
    std::vector<std::vector<PageValue>> listened;
    PageValue listener = recordingFunction("listened", listened);
    ASSERT_TRUE(pageCall(api.asObject(), "addEventListener", {"echo", listener, false}).ok);
    ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"again"}).ok);
    EXPECT_EQ(testsys::runMessageLoop() + browser.runPostedCalls(), 1u);
    EXPECT_EQ(browser.runTimers(), 1u);
    EXPECT_EQ(listened.size(), 1u);
    EXPECT_EQ(assigned.size(), 2u);

    // A posted call still waiting when the instance goes never reaches the page; the listener's page
    // timer, set during the call, is the page's own and still runs.
    ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"late"}).ok);
    ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
    EXPECT_EQ(testsys::runMessageLoop(), 0u);
    browser.runPostedCalls();
    EXPECT_EQ(browser.runTimers(), 1u);
    EXPECT_EQ(assigned.size(), 2u);
    EXPECT_EQ(listened.size(), 2u);

    // The window and its class go with the instance.
    EXPECT_EQ(firstMessageWindow(), nullptr);
    EXPECT_FALSE(classRegistered(copy.instance(), kFirstWindowClass));
}

INSTANTIATE_TEST_SUITE_P(
    Browsers, HostKindTest,
    ::testing::Values(
        BrowserKind{"Safari", "Mozilla/5.0 (Windows NT 10.0) AppleWebKit/538.1 Safari/538.1", 26, true},
        BrowserKind{"MinorVersion18", "Mozilla/5.0 (Windows NT 5.1) Gecko/2008", 18, true},
        BrowserKind{"MinorVersion19", "Mozilla/5.0 (Windows NT 10.0) Gecko/20100101", 19, false}),
    [](const ::testing::TestParamInfo<BrowserKind>& info) { return std::string(info.param.name); });

// A browser may unload the module after NP_Shutdown and load it again, possibly at another address: no
// window class naming the old window procedure may be left behind for the new module to find.
class ModuleReloadTest : private CopyHolder, public ModuleFixture {
  protected:
    static FakeBrowser::Options safari() {
        FakeBrowser::Options options;
        options.userAgent = "Mozilla/5.0 (Windows NT 10.0) AppleWebKit/538.1 Safari/538.1";
        return options;
    }
    ModuleReloadTest() : ModuleFixture(safari(), copy.module()) {}
    using CopyHolder::copy;

    // An instance with the message-window host whose handler is called through a message to its window
    // (so through the window procedure of the module loaded now); ended afterwards.
    void echoThroughTheMessageWindow() {
        NPP npp = embed();
        PageValue api = browser.scriptableObject(npp);
        std::vector<std::vector<PageValue>> echoes;
        ASSERT_TRUE(browser.setProperty(api.asObject(), "onecho", recordingFunction("echoed", echoes)).ok);
        EXPECT_NE(firstMessageWindow(), nullptr);
        ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"x"}).ok);
        EXPECT_EQ(testsys::runMessageLoop(), 1u);
        EXPECT_EQ(echoes.size(), 1u);
        ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
    }
};

TEST_F(ModuleReloadTest, LoadShutdownUnloadAndLoadAgain) {
    echoThroughTheMessageWindow();
    ASSERT_EQ(module.shutdown(), NPERR_NO_ERROR);
    const HINSTANCE first = copy.instance();
    ASSERT_TRUE(copy.unload()) << "the module must leave the process";
    EXPECT_FALSE(classRegistered(first, kFirstWindowClass));

    copy.load();
    ASSERT_EQ(browser.startPlugin(module.initialize, module.getEntryPoints), NPERR_NO_ERROR);
    echoThroughTheMessageWindow();
    EXPECT_EQ(firstMessageWindow(), nullptr);
}

}  // namespace
