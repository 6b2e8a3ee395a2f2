// The entry points and callbacks compiled into the test itself, for what a browser cannot reach through
// the loaded module: the factory's global hooks, a record without an instance object, failures of the
// instance factory, the stream callbacks and the instance object's own state.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeBrowserTest.h"
#include "npapi/NpapiEntryPoints.h"
#include "npapi/NpapiStream.h"
#include "npapi/NpapiStreamEvents.h"
#include "plugin/Korvane.h"

namespace FB::Npapi {
namespace {

using ::testing::ElementsAre;

// A factory that counts its global hooks.
class CountingFactory : public FactoryBase {
  public:
    PluginCorePtr makePlugin(const std::string&) override { return std::make_shared<Korvane>(); }
    void globalPluginInitialize() override { ++initialized; }
    void globalPluginDeinitialize() override { ++deinitialized; }
    int initialized = 0;
    int deinitialized = 0;
};

class EntryPointsTest : public FakeBrowserTest {
  protected:
    void SetUp() override {
        factory_ = std::make_shared<CountingFactory>();
        NpapiPluginModule::setFactorySource([factory = factory_] { return factory; });
    }

    void TearDown() override {
        for (NPP npp : instances_) {
            if (!browser.instanceState(npp).destroyed) {
                browser.destroyPluginInstance(npp);
            }
        }
        NP_Shutdown();
        NpapiPluginModule::setFactorySource({});
        FactoryBase::setNpapiInstanceMaker(platformInstanceMaker());
        FakeBrowserTest::TearDown();
    }

    NPP embed(const std::vector<FakeBrowser::Param>& params = {}) {
        NPP npp = nullptr;
        EXPECT_EQ(browser.newPluginInstance(&npp, "application/x-korvane", params), NPERR_NO_ERROR);
        instances_.push_back(npp);
        return npp;
    }

    static NpapiInstanceRecord& record(NPP npp) { return *static_cast<NpapiInstanceRecord*>(npp->pdata); }

    std::shared_ptr<CountingFactory> factory_;

  private:
    std::vector<NPP> instances_;
};

TEST_F(EntryPointsTest, ShutdownRunsTheGlobalHookWhenNoModuleIsLeft) {
    // Without any acquisition: no module, so the hook runs.
    EXPECT_EQ(NP_Shutdown(), NPERR_NO_ERROR);
    EXPECT_EQ(factory_->deinitialized, 1);
    EXPECT_EQ(factory_->initialized, 0);

    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    ASSERT_EQ(browser.getEntryPoints(NP_GetEntryPoints), NPERR_NO_ERROR);
    NPP npp = embed();
    EXPECT_EQ(factory_->initialized, 1) << "only the first acquisition initialises";
    EXPECT_EQ(NpapiPluginModule::moduleCount(), 1u);

    ASSERT_EQ(browser.destroyPluginInstance(npp), NPERR_NO_ERROR);
    EXPECT_EQ(NP_Shutdown(), NPERR_NO_ERROR);
    EXPECT_EQ(NpapiPluginModule::moduleCount(), 0u);
    EXPECT_EQ(factory_->deinitialized, 2);
}

TEST_F(EntryPointsTest, ARecordWithoutInstanceObjectAnswersTheSecondColumn) {
    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    const NPPluginFuncs& f = *browser.pluginFuncs();
    NPP npp = browser.createInstance();
    NpapiPluginModule* module = NpapiPluginModule::acquire();
    auto host = std::make_shared<NpapiBrowserHost>(module, npp);
    host->takeBrowserTable(&module->funcs());
    npp->pdata = new NpapiInstanceRecord{host, nullptr};

    NPStream stream{};
    uint16_t stype = 0;
    char buffer[4] = {};
    char type[] = "text/plain";
    NPWindow window{};
    EXPECT_EQ(f.setwindow(npp, &window), NPERR_NO_ERROR);
    EXPECT_EQ(f.newstream(npp, type, &stream, false, &stype), NPERR_GENERIC_ERROR);
    EXPECT_EQ(f.destroystream(npp, &stream, NPRES_DONE), NPERR_GENERIC_ERROR);
    f.asfile(npp, &stream, "/tmp/file");
    EXPECT_EQ(f.writeready(npp, &stream), 1);
    EXPECT_EQ(f.write(npp, &stream, 0, sizeof(buffer), buffer), 1);
    f.print(npp, nullptr);
    EXPECT_EQ(f.event(npp, nullptr), 0);
    f.urlnotify(npp, "http://localhost/", NPRES_DONE, nullptr);
    const char* untouched = "untouched";
    const char* value = untouched;
    EXPECT_EQ(f.getvalue(npp, NPPVpluginNameString, &value), NPERR_NO_ERROR);
    EXPECT_EQ(value, untouched);
    EXPECT_EQ(f.setvalue(npp, NPNVprivateModeBool, nullptr), NPERR_GENERIC_ERROR);

    // The host and the record are torn down all the same.
    EXPECT_EQ(f.destroy(npp, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(npp->pdata, nullptr);
    EXPECT_TRUE(host->isShutDown());
    host.reset();
    browser.destroyInstance(npp);
}

TEST_F(EntryPointsTest, FailuresOfTheInstanceFactoryLeaveNothingBehind) {
    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    registerInstanceMaker();
    struct Case {
        FactoryBase::NpapiInstanceMaker maker;
        NPError expected;
    };
    const std::vector<Case> cases = {
        {[](FactoryBase&, const NpapiBrowserHostPtr&, const std::string&) { return NpapiPluginPtr(); },
         NPERR_OUT_OF_MEMORY_ERROR},
        {[](FactoryBase&, const NpapiBrowserHostPtr&, const std::string&) -> NpapiPluginPtr {
             throw std::bad_alloc();
         },
         NPERR_OUT_OF_MEMORY_ERROR},
        {[](FactoryBase&, const NpapiBrowserHostPtr&, const std::string&) -> NpapiPluginPtr {
             throw std::runtime_error("no instance today");
         },
         NPERR_GENERIC_ERROR},
    };
    for (const Case& c : cases) {
        FactoryBase::setNpapiInstanceMaker(c.maker);
        NPP npp = nullptr;
        EXPECT_EQ(browser.newPluginInstance(&npp, "application/x-korvane"), c.expected);
        EXPECT_EQ(npp->pdata, nullptr);
        EXPECT_EQ(browser.instanceState(npp).setValues.size(), 0u);
        browser.destroyInstance(npp);
    }
}

// Records what a stream tells its observers.
class StreamRecorder : public PluginEventSink {
  public:
    bool handleEvent(PluginEvent* event, PluginEventSource*) override {
        if (dynamic_cast<StreamOpenFailedEvent*>(event) != nullptr) {
            events.push_back("open failed");
        } else if (auto* data = dynamic_cast<StreamDataArrivedEvent*>(event)) {
            if (refuseData) {
                throw std::runtime_error("no room");
            }
            events.push_back("data " + std::string(static_cast<const char*>(data->data), data->length) +
                             " at " + std::to_string(data->offset));
        } else if (auto* done = dynamic_cast<StreamCompletedEvent*>(event)) {
            events.push_back(done->success ? "completed" : "failed");
        } else if (auto* file = dynamic_cast<StreamAsFileEvent*>(event)) {
            path = file->path;
            events.push_back("file");
        }
        return false;
    }
    std::vector<std::string> events;
    std::wstring path;
    bool refuseData = false;
};

TEST_F(EntryPointsTest, StreamCallbacksServeTheStreamInNotifyData) {
    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    const NPPluginFuncs& f = *browser.pluginFuncs();
    NPP npp = embed();
    NpapiBrowserHostPtr host = record(npp).host;
    auto recorder = std::make_shared<StreamRecorder>();
    char type[] = "text/plain";

    // A seekable request on a browser stream that cannot seek fails to open.
    auto seeking = std::make_shared<NpapiStream>("http://localhost/a", false, true, 4096, host);
    seeking->attachObserver(recorder);
    NPStream browserStream{};
    browserStream.notifyData = seeking.get();
    uint16_t stype = 0;
    EXPECT_EQ(f.newstream(npp, type, &browserStream, false, &stype), NPERR_STREAM_NOT_SEEKABLE);
    EXPECT_EQ(seeking->streamHandle(), nullptr);
    EXPECT_THAT(recorder->events, ElementsAre("open failed"));

    // On a seekable one it opens for seeking, takes data and ends with the URL notification.
    recorder->events.clear();
    EXPECT_EQ(f.newstream(npp, type, &browserStream, true, &stype), NPERR_NO_ERROR);
    EXPECT_EQ(stype, NP_SEEK);
    EXPECT_TRUE(seeking->isOpen());
    EXPECT_EQ(seeking->streamHandle(), &browserStream);
    EXPECT_EQ(f.writeready(npp, &browserStream), 4096);
    char data[] = "hello";
    EXPECT_EQ(f.write(npp, &browserStream, 7, 5, data), 5);
    EXPECT_EQ(f.destroystream(npp, &browserStream, NPRES_DONE), NPERR_NO_ERROR);
    EXPECT_EQ(browserStream.notifyData, nullptr);
    EXPECT_EQ(seeking->streamHandle(), nullptr);
    f.urlnotify(npp, "http://localhost/a", NPRES_DONE, seeking.get());
    EXPECT_THAT(recorder->events, ElementsAre("data hello at 7", "completed"));

    // A cached request is read as a file, whose name is widened byte by byte.
    auto cached = std::make_shared<NpapiStream>("http://localhost/b", true, false, 1024, host);
    cached->attachObserver(recorder);
    NPStream fileStream{};
    fileStream.notifyData = cached.get();
    EXPECT_EQ(f.newstream(npp, type, &fileStream, false, &stype), NPERR_NO_ERROR);
    EXPECT_EQ(stype, NP_ASFILE);
    f.asfile(npp, &fileStream, "/t\xC3\xA9");
    EXPECT_EQ(recorder->path, (std::wstring{L'/', L't', wchar_t(0xFFC3), wchar_t(0xFFA9)}));
    f.urlnotify(npp, "http://localhost/b", NPRES_NETWORK_ERR, cached.get());
    EXPECT_EQ(recorder->events.back(), "failed");

    // An observer's failure ends the stream instead of crossing into the browser.
    recorder->refuseData = true;
    EXPECT_EQ(f.newstream(npp, type, &fileStream, false, &stype), NPERR_NO_ERROR);
    EXPECT_EQ(f.write(npp, &fileStream, 0, 5, data), -1);
    fileStream.notifyData = nullptr;

    // A stream the plug-in did not ask for carries nothing in notifyData.
    NPStream foreign{};
    stype = NP_NORMAL;
    EXPECT_EQ(f.newstream(npp, type, &foreign, false, &stype), NPERR_NO_ERROR);
    EXPECT_EQ(f.writeready(npp, &foreign), -1);
    EXPECT_EQ(f.write(npp, &foreign, 0, 5, data), -1);
    EXPECT_EQ(f.destroystream(npp, &foreign, NPRES_DONE), NPERR_NO_ERROR);
}

TEST_F(EntryPointsTest, ReadinessIsSignalledOnce) {
    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    PageValue loaded =
        browser.newFunction("loaded", [](NPObject*, const std::vector<PageValue>&) { return PageValue(); });
    ASSERT_TRUE(browser.setProperty(browser.window(), "loaded", loaded));
    NPP npp = embed({{"onload", "loaded"}});
    NpapiPlugin& plugin = *record(npp).plugin;
    EXPECT_TRUE(plugin.isReady());
    EXPECT_FALSE(plugin.markReady());
    EXPECT_EQ(browser.pendingTimers().size(), 1u) << "no second onload call";

    // Without a handler the core is not ready, and asking again asks the core again.
    NPP plain = embed();
    NpapiPlugin& other = *record(plain).plugin;
    EXPECT_FALSE(other.isReady());
    EXPECT_FALSE(other.markReady());
}

TEST_F(EntryPointsTest, TheInstanceKnowsItsPlatformAndModuleFile) {
    ASSERT_EQ(browser.startPlugin(NP_Initialize, NP_GetEntryPoints), NPERR_NO_ERROR);
    NPP npp = embed();
    NpapiPlugin& plugin = *record(npp).plugin;
    EXPECT_EQ(PluginCore::platformOs(), KORVANE_PLATFORM_OS);
    EXPECT_EQ(PluginCore::platformBrowser(), "NPAPI");
    EXPECT_FALSE(plugin.filesystemPath().empty());
    EXPECT_EQ(plugin.core()->getFilesystemPath(), plugin.filesystemPath());
    EXPECT_EQ(plugin.mimeType(), "application/x-korvane");
    EXPECT_EQ(plugin.pluginDescription(), "Brindlemoor plugin para firma digital 1.1");

    // Without retaining, the browser's count stays as it is on a repeated request.
    PageValue api = browser.scriptableObject(npp);
    const int64_t count = browser.refCount(api.asObject());
    plugin.setRetainReturnedObject(false);
    NPObject* again = nullptr;
    EXPECT_EQ(browser.pluginFuncs()->getvalue(npp, NPPVpluginScriptableNPObject, &again), NPERR_NO_ERROR);
    EXPECT_EQ(again, api.asObject());
    EXPECT_EQ(browser.refCount(api.asObject()), count);
}

}  // namespace
}  // namespace FB::Npapi
