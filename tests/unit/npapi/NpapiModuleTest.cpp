// The module object: acquisition and release around the factory's global hooks, and the copy of
// the browser's table gated by its minor version (and by its size).
#include "AdapterTest.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;

namespace {

class ModuleRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        NpapiPluginModule::setFactorySource([f = factory] { return f; });
        ASSERT_EQ(NpapiPluginModule::moduleCount(), 0u);
    }
    void TearDown() override {
        while (NpapiPluginModule::moduleCount() > 0) {
            NpapiPluginModule::release();
        }
        NpapiPluginModule::setFactorySource({});
    }
    std::shared_ptr<CountingFactory> factory = std::make_shared<CountingFactory>();
};

TEST_F(ModuleRegistry, FirstAcquisitionInitialisesAndTheLastReleaseShutsDown) {
    NpapiPluginModule* first = NpapiPluginModule::acquire();
    EXPECT_EQ(factory->initialized, 1);
    NpapiPluginModule* second = NpapiPluginModule::acquire();
    EXPECT_EQ(first, second);
    EXPECT_EQ(NpapiPluginModule::moduleCount(), 1u);
    EXPECT_EQ(factory->initialized, 1);
    // A fresh module starts with an empty table.
    EXPECT_EQ(first->funcs().getproperty, nullptr);

    NpapiPluginModule::release();
    EXPECT_EQ(NpapiPluginModule::moduleCount(), 0u);
    EXPECT_EQ(factory->deinitialized, 1);

    // The next acquisition starts again.
    NpapiPluginModule::acquire();
    EXPECT_EQ(factory->initialized, 2);
    NpapiPluginModule::release();
    EXPECT_EQ(factory->deinitialized, 2);
}

TEST_F(ModuleRegistry, ReleaseWithoutAcquisitionStillRunsTheShutdownHook) {
    NpapiPluginModule::release();
    EXPECT_EQ(factory->deinitialized, 1);
    EXPECT_EQ(factory->initialized, 0);
    EXPECT_EQ(NpapiPluginModule::moduleCount(), 0u);
}

NPNetscapeFuncs copyOf(uint16_t minorVersion) {
    FakeBrowser::Options options;
    options.minorVersion = minorVersion;
    FakeBrowser browser(options);
    NPNetscapeFuncs copy{};
    NpapiPluginModule::copyBrowserTable(copy, *browser.funcs());
    EXPECT_TRUE(browser.check().empty());
    return copy;
}

TEST(BrowserTableCopy, MinorVersion18HasEnumerateButNothingLater) {
    NPNetscapeFuncs copy = copyOf(18);
    EXPECT_EQ(copy.version, 18);
    EXPECT_NE(copy.geturl, nullptr);
    EXPECT_NE(copy.setexception, nullptr);
    EXPECT_NE(copy.pushpopupsenabledstate, nullptr);
    EXPECT_NE(copy.enumerate, nullptr);
    // The fake fills these with traps a browser of 18 does not have; none may be copied.
    EXPECT_EQ(copy.pluginthreadasynccall, nullptr);
    EXPECT_EQ(copy.construct, nullptr);
    EXPECT_EQ(copy.getvalueforurl, nullptr);
    EXPECT_EQ(copy.setvalueforurl, nullptr);
    EXPECT_EQ(copy.getauthenticationinfo, nullptr);
    EXPECT_EQ(copy.scheduletimer, nullptr);
    EXPECT_EQ(copy.unscheduletimer, nullptr);
    EXPECT_EQ(copy.getJavaEnv, nullptr);
    EXPECT_EQ(copy.getJavaPeer, nullptr);
}

TEST(BrowserTableCopy, MinorVersion19AddsAsyncCallAndConstruct) {
    NPNetscapeFuncs copy = copyOf(19);
    EXPECT_NE(copy.pluginthreadasynccall, nullptr);
    EXPECT_NE(copy.construct, nullptr);
    EXPECT_EQ(copy.getvalueforurl, nullptr);
    EXPECT_EQ(copy.scheduletimer, nullptr);
    EXPECT_EQ(copy.getJavaEnv, nullptr);
}

TEST(BrowserTableCopy, MinorVersion26HasEverythingUpToTheTimersButNoJavaOrLaterEntries) {
    NPNetscapeFuncs copy = copyOf(26);
    EXPECT_NE(copy.getvalueforurl, nullptr);
    EXPECT_NE(copy.setvalueforurl, nullptr);
    EXPECT_NE(copy.getauthenticationinfo, nullptr);
    EXPECT_NE(copy.scheduletimer, nullptr);
    EXPECT_NE(copy.unscheduletimer, nullptr);
    EXPECT_EQ(copy.getJavaEnv, nullptr);
    EXPECT_EQ(copy.getJavaPeer, nullptr);
    EXPECT_EQ(copy.popupcontextmenu, nullptr);
    EXPECT_EQ(copy.urlredirectresponse, nullptr);
}

TEST(BrowserTableCopy, NothingBeyondTheTablesSizeIsRead) {
    FakeBrowser browser;
    NPNetscapeFuncs shortTable = *browser.funcs();
    shortTable.size = static_cast<uint16_t>(offsetof(NPNetscapeFuncs, setexception) + sizeof(void*));
    NPNetscapeFuncs copy{};
    NpapiPluginModule::copyBrowserTable(copy, shortTable);
    EXPECT_NE(copy.setexception, nullptr);
    EXPECT_EQ(copy.enumerate, nullptr);
    EXPECT_EQ(copy.pluginthreadasynccall, nullptr);
    EXPECT_EQ(copy.construct, nullptr);
    EXPECT_TRUE(browser.check().empty());
}

int utf8Calls = 0;
NPN_UTF8FromIdentifierProcPtr browserUtf8 = nullptr;
NPUTF8* countedUtf8(NPIdentifier identifier) {
    ++utf8Calls;
    return browserUtf8(identifier);
}

// Browser identifiers live as long as the browser: each is asked for once and kept, and a new
// table (another browser, whose identifiers are other ones) is asked afresh.
TEST(Identifiers, EachIsAskedOnceUntilTheBrowserTableIsReplaced) {
    FakeBrowser browser;
    NPNetscapeFuncs table = *browser.funcs();
    browserUtf8 = table.utf8fromidentifier;
    table.utf8fromidentifier = &countedUtf8;
    utf8Calls = 0;
    NpapiPluginModule module;
    module.takeBrowserTable(table);
    NPIdentifier name = module.getStringIdentifier("echo");
    NPIdentifier index = module.getIntIdentifier(7);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(module.identifier(name).isString);
        EXPECT_EQ(module.identifier(name).text, "echo");
        EXPECT_FALSE(module.identifier(index).isString);
        EXPECT_EQ(module.identifier(index).number, 7);
        EXPECT_EQ(module.identifier(index).text, "");
    }
    EXPECT_EQ(utf8Calls, 2);
    module.takeBrowserTable(table);
    EXPECT_EQ(module.identifier(name).text, "echo");
    EXPECT_EQ(utf8Calls, 3);
    // Every text the browser handed over was given back.
    EXPECT_TRUE(browser.check().empty());
}

// A host in a browser of minor version 18 works without the later entries and never calls them.
class OldBrowser : public AdapterTest {
  protected:
    static FakeBrowser::Options options() {
        FakeBrowser::Options o;
        o.minorVersion = 18;
        return o;
    }
    OldBrowser() : AdapterTest(options()) {}
};

TEST_F(OldBrowser, MissingEntriesFailAsCallsAndAreNeverRead) {
    auto window = host->getPageWindow()->pageObject();
    EXPECT_THROW(window->construct(VariantList{}), script_error);
    EXPECT_FALSE(host->postToMainThread([](void*) {}, nullptr));
    // No getvalueforurl: the proxy query falls back to the system's detection without a browser call.
    std::map<std::string, std::string> settings;
    host->detectProxySettings("http://example.org/", settings);
    // Enumeration is there.
    std::vector<std::string> names;
    window->listMemberNames(names);
    EXPECT_FALSE(names.empty());
}

}  // namespace
