// The NPAPI browser host: start-up with the page objects, script evaluation, navigation, the proxy
// query, posting, streams, the wrapper cache, deferred release and shutdown.
#include "AdapterTest.h"
#include "HeapWatch.h"
#include "core/PluginEventSink.h"
#include "npapi/NpapiStream.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class BrowserHostTest : public AdapterTest {};

TEST_F(BrowserHostTest, StartUpFindsWindowDocumentAndElement) {
    EXPECT_EQ(host->contextIdentity(), npp);
    auto window = std::dynamic_pointer_cast<NPObjectAPI>(host->getPageWindow()->pageObject());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->getNPObject(), browser.window());
    auto document = std::dynamic_pointer_cast<NPObjectAPI>(host->getPageDocument()->pageObject());
    ASSERT_TRUE(document);
    EXPECT_EQ(document->getNPObject(), browser.document());
    auto element = std::dynamic_pointer_cast<NPObjectAPI>(host->getPluginElement()->pageObject());
    ASSERT_TRUE(element);
    EXPECT_EQ(element->getNPObject(), browser.pluginElement(npp));
}

TEST_F(BrowserHostTest, WithoutTheTableThePageObjectsAreMissing) {
    auto bare = std::make_shared<NpapiBrowserHost>(module, npp);
    auto message = [](auto call) {
        try {
            call();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] { bare->getPageWindow(); }), "Cannot find HTML window");
    EXPECT_EQ(message([&] { bare->getPageDocument(); }), "Cannot find HTML document");
    EXPECT_EQ(message([&] { bare->getPluginElement(); }), "Cannot find HTML window");
    EXPECT_EQ(message([&] { bare->evaluateScript(std::string("1")); }), "Cannot find HTML window");
}

TEST_F(BrowserHostTest, EvaluateScriptRunsInThePageAndReportsFailure) {
    std::vector<std::string> seen;
    browser.setEvaluator([&seen](const std::string& script) -> std::optional<PageValue> {
        seen.push_back(script);
        if (script == "broken") {
            return std::nullopt;
        }
        return PageValue("result text");
    });
    host->evaluateScript(std::string("fine()"));
    EXPECT_THROW(host->evaluateScript(std::string("broken")), script_error);
    EXPECT_THAT(seen, ElementsAre("fine()", "broken"));
    // Neither the script text nor the result is left in browser memory.
    EXPECT_EQ(browser.outstandingAllocations(), 0u);
}

TEST_F(BrowserHostTest, NavigateBracketsGetUrlWithPopupState) {
    host->navigate("http://example.org/next", "_blank");
    EXPECT_THAT(browser.callLog(),
                ElementsAre("NPN_PushPopupsEnabledState 1", "NPN_GetURL http://example.org/next _blank",
                            "NPN_PopPopupsEnabledState"));
    host->shutdown();
    host->navigate("http://example.org/later", "_self");
    EXPECT_EQ(browser.callLog().size(), 3u);
}

TEST_F(BrowserHostTest, ProxyAnswersOfTheBrowser) {
    std::map<std::string, std::string> settings{{"old", "entry"}};
    browser.setProxyAnswer(NPERR_NO_ERROR, "DIRECT");
    EXPECT_FALSE(host->detectProxySettings("https://bank.example/", settings));
    EXPECT_EQ(settings.size(), 1u);

    browser.setProxyAnswer(NPERR_NO_ERROR, "PROXY host:8080");
    EXPECT_TRUE(host->detectProxySettings("https://bank.example/", settings));
    EXPECT_EQ(settings, (std::map<std::string, std::string>{
                            {"type", "https"}, {"hostname", "host"}, {"port", "8080"}}));

    browser.setProxyAnswer(NPERR_NO_ERROR, "SOCKS socks.example:1080");
    EXPECT_TRUE(host->detectProxySettings("http://bank.example/", settings));
    EXPECT_EQ(settings["type"], "socks");
    EXPECT_EQ(settings["hostname"], "socks.example");
    EXPECT_EQ(settings["port"], "1080");

    browser.setProxyAnswer(NPERR_GENERIC_ERROR);
    EXPECT_FALSE(host->detectProxySettings("http://bank.example/", settings));
    EXPECT_EQ(browser.outstandingAllocations(), 0u);
}

TEST_F(BrowserHostTest, PostingGoesThroughThePluginThreadAsyncCall) {
    static int ran = 0;
    ran = 0;
    EXPECT_TRUE(host->postToMainThread([](void*) { ++ran; }, nullptr));
    EXPECT_EQ(browser.runPostedCalls(), 1u);
    EXPECT_EQ(ran, 1);
    host->shutdown();
    EXPECT_FALSE(host->postToMainThread([](void*) { ++ran; }, nullptr));
    EXPECT_EQ(browser.pendingPostedCalls(), 0u);
}

// NPP_Destroy shuts the host down (running what it posted), then the browser drops the posts still
// queued for the instance without delivering them: nothing the host made for them may outlive it.
TEST_F(BrowserHostTest, PostsTheBrowserDropsForADestroyedInstanceLeaveNothingBehind) {
    static int ran = 0;
    ran = 0;
    heapwatch::Window window;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(host->queueMainThreadCall([](void*) { ++ran; }, nullptr));
    }
    host->shutdown();
    EXPECT_EQ(ran, 3);
    {
        heapwatch::Window::Pause bookKeeping;
        browser.destroyInstance(npp);
    }
    EXPECT_EQ(browser.droppedPostedCalls(), 3u);
    host.reset();
    EXPECT_EQ(window.liveBlocks(), 0);
    EXPECT_EQ(ran, 3);
}

class WithoutAsyncCall : public AdapterTest {
  protected:
    static FakeBrowser::Options options() {
        FakeBrowser::Options o;
        o.missingEntries = {"pluginthreadasynccall"};
        return o;
    }
    WithoutAsyncCall() : AdapterTest(options()) {}
};

TEST_F(WithoutAsyncCall, PostingReportsFailureInsteadOfLosingTheCall) {
    EXPECT_FALSE(host->postToMainThread([](void*) {}, nullptr));
    EXPECT_FALSE(host->queueMainThreadCall([](void*) {}, nullptr));
}

// Records the events a stream sends.
class StreamWatcher : public PluginEventSink {
  public:
    bool handleEvent(PluginEvent* event, PluginEventSource*) override {
        if (dynamic_cast<StreamCreatedEvent*>(event)) {
            seen.push_back("created");
        } else if (auto* data = dynamic_cast<StreamDataArrivedEvent*>(event)) {
            seen.push_back("data " + std::to_string(data->length));
        } else if (auto* done = dynamic_cast<StreamCompletedEvent*>(event)) {
            seen.push_back(done->success ? "completed" : "failed");
        }
        return false;
    }
    std::vector<std::string> seen;
};

TEST_F(BrowserHostTest, StreamsAreRequestedWithThemselvesAsNotifyData) {
    auto watcher = std::make_shared<StreamWatcher>();
    BrowserStreamRequest request;
    request.url = "http://example.org/data";
    request.callback = watcher;
    BrowserStreamPtr stream = host->createStream(request);
    ASSERT_TRUE(stream);
    ASSERT_EQ(browser.urlRequests().size(), 1u);
    const auto& sent = browser.urlRequests()[0];
    EXPECT_EQ(sent.entry, "NPN_GetURLNotify");
    EXPECT_EQ(sent.url, "http://example.org/data");
    EXPECT_FALSE(sent.target.has_value());
    EXPECT_EQ(sent.notifyData, stream.get());
    EXPECT_THAT(watcher->seen, ElementsAre("created"));

    // The browser's callbacks feed it; it lets go of itself when the browser is done.
    auto* npStream = static_cast<NpapiStream*>(sent.notifyData);
    std::weak_ptr<BrowserStream> weak = stream;
    npStream->dataArrived("abcd", 4, 0);
    npStream->finished(true);
    EXPECT_THAT(watcher->seen, ElementsAre("created", "data 4", "completed"));
    stream.reset();
    host->shutdown();
    EXPECT_TRUE(weak.expired());
}

TEST_F(BrowserHostTest, PostStreamsCarryTheFormBodyAndRefusedRequestsGiveNoStream) {
    BrowserStreamRequest request;
    request.url = "http://example.org/form";
    request.postData = "a=1&b=2";
    BrowserStreamPtr stream = host->createPostStream(request);
    ASSERT_TRUE(stream);
    ASSERT_EQ(browser.urlRequests().size(), 1u);
    EXPECT_EQ(browser.urlRequests()[0].entry, "NPN_PostURLNotify");
    EXPECT_EQ(browser.urlRequests()[0].body,
              "Content-type: application/x-www-form-urlencoded\nContent-Length: 7\n\na=1&b=2");
    EXPECT_FALSE(browser.urlRequests()[0].file);

    browser.setUrlResult(NPERR_GENERIC_ERROR);
    EXPECT_FALSE(host->createStream(request));
    EXPECT_FALSE(host->createPostStream(request));
    stream->close();
}

TEST_F(BrowserHostTest, WrapperCacheForgetsWrappersThePageReleased) {
    auto api = std::make_shared<TestApi>();
    NPObject* first = nullptr;
    {
        PageValue page = expose(api);
        first = page.asObject();
        EXPECT_EQ(host->wrapperCacheSize(), 1u);
        EXPECT_EQ(host->retainedCount(), 1u);
    }
    // The wrapper went: its retention of the object is dropped and the cache entry with it.
    EXPECT_FALSE(browser.isAlive(first));
    EXPECT_EQ(host->retainedCount(), 0u);
    EXPECT_EQ(host->wrapperCacheSize(), 0u);
    PageValue again = expose(api);
    EXPECT_TRUE(again.isObject());
    EXPECT_EQ(host->wrapperCacheSize(), 1u);
}

TEST_F(BrowserHostTest, ReleaseLaterOnTheMainThreadReleasesAtOnce) {
    PageValue object = browser.newObject();
    NPObject* raw = browser.retain(object.asObject());
    EXPECT_EQ(browser.refCount(raw), 2);
    host->releaseLater(raw);
    EXPECT_EQ(browser.refCount(raw), 1);
    EXPECT_EQ(host->pendingReleases(), 0u);
}

TEST_F(BrowserHostTest, ShutdownSilencesTheHostAndDropsThePageObjects) {
    auto window = host->getPageWindow()->pageObject();
    int64_t windowRefs = browser.refCount(browser.window());
    int64_t documentRefs = browser.refCount(browser.document());
    host->shutdown();
    // The host let go of the document; the window is still held here, through the same proxy.
    EXPECT_EQ(browser.refCount(browser.document()), documentRefs - 1);
    EXPECT_EQ(browser.refCount(browser.window()), windowRefs);
    EXPECT_THROW(host->getPageWindow(), std::runtime_error);
    // Later browser calls through the host do nothing and fail as missing entries do.
    EXPECT_EQ(host->funcs().getproperty, nullptr);
    EXPECT_FALSE(window->hasProperty("document"));
    EXPECT_THROW(window->getProperty("document"), script_error);
    // The proxy's reference still goes back: releases use the module's table.
    window.reset();
    EXPECT_EQ(browser.refCount(browser.window()), windowRefs - 1);
    EXPECT_THAT(browser.problems(), IsEmpty());
}

}  // namespace

namespace {

class BrowserWithoutPage : public AdapterTest {
  protected:
    void SetUp() override {
        browser.refuseValue(NPNVWindowNPObject);
        browser.refuseValue(NPNVPluginElementNPObject);
        AdapterTest::SetUp();
    }
};

TEST_F(BrowserWithoutPage, MissingWindowAndElementAreReportedNotPassedOnAsNull) {
    EXPECT_THROW(host->getPageWindow(), std::runtime_error);
    EXPECT_THROW(host->getPluginElement(), std::runtime_error);
    EXPECT_THROW(host->getPageDocument(), std::runtime_error);
    EXPECT_THROW(host->evaluateScript(std::string("1")), std::runtime_error);
    // Nothing can become a page array without the page's constructors.
    NPVariant value;
    VOID_TO_NPVARIANT(value);
    host->toNPVariant(variant(VariantList{variant(1)}), value);
    EXPECT_EQ(value.type, NPVariantType_Void);
    // A proxy of nothing never reaches the browser.
    auto nothing = std::make_shared<NPObjectAPI>(nullptr, host);
    EXPECT_FALSE(nothing->hasProperty("x"));
    EXPECT_THROW(nothing->getProperty("x"), script_error);
    EXPECT_THAT(browser.problems(), IsEmpty());
}

}  // namespace
