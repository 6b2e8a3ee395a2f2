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

    // The onload call is scheduled on the main thread, through the page's timers, with either host.
    EXPECT_EQ(browser.runTimers(), 1u);
    ASSERT_EQ(loads.size(), 1u);

    // An event fired on the main thread reaches the page's call function, which runs the handler from a
    // page timer; whatever was posted on the way runs in the message loop or the browser's queue.
    PageValue api = browser.scriptableObject(npp);
    std::vector<std::vector<PageValue>> echoes;
    PageValue handler = recordingFunction("echoed", echoes);
    ASSERT_TRUE(pageCall(api.asObject(), "addEventListener", {"echo", handler, false}).ok);
    ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"hello"}).ok);
    testsys::runMessageLoop();
    browser.runPostedCalls();
    EXPECT_EQ(browser.runTimers(), 1u);
    EXPECT_EQ(echoes.size(), 1u);

    // The window and its class go with the instance.
    ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
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

    // An instance with the message-window host whose event reaches the page; ended afterwards.
    void echoWithTheMessageWindow() {
        NPP npp = embed();
        PageValue api = browser.scriptableObject(npp);
        std::vector<std::vector<PageValue>> echoes;
        PageValue handler = recordingFunction("echoed", echoes);
        ASSERT_TRUE(pageCall(api.asObject(), "addEventListener", {"echo", handler, false}).ok);
        EXPECT_NE(firstMessageWindow(), nullptr);
        ASSERT_TRUE(browser.invoke(api.asObject(), "echo", {"x"}).ok);
        testsys::runMessageLoop();
        browser.runTimers();
        EXPECT_EQ(echoes.size(), 1u);
        ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
    }
};

TEST_F(ModuleReloadTest, LoadShutdownUnloadAndLoadAgain) {
    echoWithTheMessageWindow();
    ASSERT_EQ(module.shutdown(), NPERR_NO_ERROR);
    const HINSTANCE first = copy.instance();
    ASSERT_TRUE(copy.unload()) << "the module must leave the process";
    EXPECT_FALSE(classRegistered(first, kFirstWindowClass));

    copy.load();
    ASSERT_EQ(browser.startPlugin(module.initialize, module.getEntryPoints), NPERR_NO_ERROR);
    echoWithTheMessageWindow();
    EXPECT_EQ(firstMessageWindow(), nullptr);
}

}  // namespace
