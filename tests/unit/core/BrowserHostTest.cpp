#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestHost.h"
#include "core/FunctorCall.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/script_error.h"

namespace {

using namespace FB;
using testhost::TestHost;
using testpage::Page;

std::shared_ptr<TestHost> makeHost() {
    return std::make_shared<TestHost>();
}

void countCall(void* data) {
    ++*static_cast<int*>(data);
}

TEST(BrowserHostTest, PostingBeforeAndAfterShutdown) {
    auto host = makeHost();
    int runs = 0;
    EXPECT_TRUE(host->queueMainThreadCall(&countCall, &runs));
    EXPECT_EQ(runs, 0);  // nothing runs until the browser delivers
    EXPECT_EQ(host->drain(), 1);
    EXPECT_EQ(runs, 1);

    host->shutdown();
    EXPECT_TRUE(host->isShutDown());
    EXPECT_FALSE(host->queueMainThreadCall(&countCall, &runs));
    EXPECT_EQ(host->queued(), 0u);
    EXPECT_EQ(host->drain(), 0);
    EXPECT_EQ(runs, 1);
}

TEST(BrowserHostTest, CallPostedBeforeShutdownAndDeliveredAfterRunsOnce) {
    auto host = makeHost();
    int runs = 0;
    ASSERT_TRUE(host->queueMainThreadCall(&countCall, &runs));
    host->shutdown();
    EXPECT_EQ(runs, 1);  // run by the shutdown
    EXPECT_EQ(host->drain(), 1);
    EXPECT_EQ(runs, 1);  // the late delivery does nothing
    host->shutdown();    // a second shutdown changes nothing
    EXPECT_EQ(runs, 1);
}

TEST(BrowserHostTest, PostRefusedByTheBrowserNeverRuns) {
    auto host = makeHost();
    host->refusePosts = true;
    int runs = 0;
    EXPECT_FALSE(host->queueMainThreadCall(&countCall, &runs));
    EXPECT_FALSE(host->queueBoundCall(makeFunctorCall([&] { ++runs; })));
    host->shutdown();
    EXPECT_EQ(runs, 0);
}

TEST(BrowserHostTest, RunOnMainThreadFromTheMainThreadIsADirectCall) {
    auto host = makeHost();
    EXPECT_EQ(host->runOnMainThread<std::string>(makeFunctorCall([] { return 42; })), "42");
    EXPECT_EQ(host->queued(), 0u);
    int runs = 0;
    host->runOnMainThread<void>(makeFunctorCall([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    // Exceptions pass through unchanged, kind included.
    EXPECT_THROW(host->runOnMainThread(makeFunctorCall([]() -> int { throw invalid_member("x"); })),
                 invalid_member);
    EXPECT_THROW(host->runOnMainThread(makeFunctorCall([]() -> int { throw std::out_of_range("r"); })),
                 std::out_of_range);
    EXPECT_THROW(host->runOnMainThread<int>(makeFunctorCall([] { return std::string("abc"); })),
                 bad_variant_cast);
}

TEST(BrowserHostTest, QueuedBoundCallSwallowsScriptAndConversionErrors) {
    auto host = makeHost();
    int runs = 0;
    ASSERT_TRUE(host->queueBoundCall(makeFunctorCall([&] {
        ++runs;
        throw script_error("page said no");
    })));
    ASSERT_TRUE(host->queueBoundCall(makeFunctorCall([&] {
        ++runs;
        return variant("x").convert<int>();
    })));
    ASSERT_TRUE(host->queueBoundCall(makeFunctorCall([&] {
        ++runs;
        throw std::runtime_error("neither may reach the browser");
    })));
    EXPECT_NO_THROW(host->drain());
    EXPECT_EQ(runs, 3);

    host->shutdown();
    EXPECT_FALSE(host->queueBoundCall(makeFunctorCall([&] { ++runs; })));
    host->drain();
    EXPECT_EQ(runs, 3);
}

TEST(BrowserHostTest, BoundMemberCallKeepsItsObject) {
    auto host = makeHost();
    auto text = std::make_shared<std::string>("abc");
    auto call = makeFunctorCall(text, &std::string::size);
    std::weak_ptr<std::string> watch = text;
    text.reset();
    EXPECT_EQ(host->runOnMainThread<int>(call), 3);
    EXPECT_FALSE(watch.expired());
    call.reset();
    EXPECT_TRUE(watch.expired());
}

class ShutdownCounter : public JSAPIAuto {
  public:
    void shutdown() override { ++shutdowns; }
    int shutdowns = 0;
};

TEST(BrowserHostTest, RetainAndReleaseCount) {
    auto host = makeHost();
    auto a = std::make_shared<ShutdownCounter>();
    auto b = std::make_shared<ShutdownCounter>();
    host->retainObject(a);
    host->retainObject(a);
    host->retainObject(b);
    EXPECT_EQ(host->retainedCount(), 3u);
    EXPECT_EQ(a.use_count(), 3);

    host->releaseObject(a);  // one of the two entries only
    EXPECT_EQ(host->retainedCount(), 2u);
    EXPECT_EQ(a.use_count(), 2);
    EXPECT_EQ(host->deferredReleases, 1);                      // on the main thread
    host->releaseObject(std::make_shared<ShutdownCounter>());  // never retained
    EXPECT_EQ(host->retainedCount(), 2u);

    host->shutdown();  // each retained object is shut down, then all are released
    EXPECT_EQ(a->shutdowns, 1);
    EXPECT_EQ(b->shutdowns, 1);
    EXPECT_EQ(host->retainedCount(), 0u);
    EXPECT_EQ(a.use_count(), 1);
}

TEST(BrowserHostTest, InstallCallFunctionIdAndScript) {
    auto host = makeHost();
    host->installCallFunction(reinterpret_cast<const void*>(800));
    EXPECT_EQ(host->instanceId(), "900");
    EXPECT_EQ(host->callFunctionName(), "__FB_CALL_900");
    ASSERT_EQ(host->scripts.size(), 1u);
    EXPECT_EQ(
        host->scripts[0],
        "window.__FB_CALL_900 = function(delay, f, args, fname) {   if (arguments.length == 3)       return "
        "setTimeout(function() { f.apply(null, args); }, delay);   else       return setTimeout(function() { "
        "f[fname].apply(f, args); }, delay);};");

    // n + n / 8 in unsigned 32-bit arithmetic: the largest identity wraps around.
    host->installCallFunction(reinterpret_cast<const void*>(std::uintptr_t{0xFFFFFFFFu}));
    EXPECT_EQ(host->instanceId(), "536870910");
    host->installCallFunction(reinterpret_cast<const void*>(std::uintptr_t{7}));
    EXPECT_EQ(host->instanceId(), "7");
}

TEST(BrowserHostTest, InvokeDelayedPassesThreeOrFourArguments) {
    auto host = makeHost();
    EXPECT_EQ(host->invokeDelayed(250, nullptr, {}, ""), -1);  // no page window

    Page page(host);
    host->attachPage(&page);
    auto handler = testpage::PageObject::make();
    VariantList args{variant(1), variant("two")};
    EXPECT_EQ(host->invokeDelayed(250, handler, args, ""), 101);
    EXPECT_EQ(host->invokeDelayed(10, handler, args, "method"), 102);
    ASSERT_EQ(host->delayedCalls.size(), 2u);
    const VariantList& three = host->delayedCalls[0];
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[0].convert<int>(), 250);
    EXPECT_EQ(three[1].convert<JSObjectPtr>(), handler);
    EXPECT_EQ(three[2].get<VariantList>().size(), 2u);
    ASSERT_EQ(host->delayedCalls[1].size(), 4u);
    EXPECT_EQ(host->delayedCalls[1][3].get<std::string>(), "method");
    EXPECT_EQ(host->scripts.size(), 1u);  // installed once, on first use

    // A page that lost its call function gets it defined again.
    page.window->props.erase(host->callFunctionName());
    EXPECT_EQ(host->invokeDelayed(0, handler, {}, ""), 103);
    EXPECT_EQ(host->scripts.size(), 2u);
}

TEST(BrowserHostTest, LogToPage) {
    auto host = makeHost();
    Page page(host);
    host->attachPage(&page);

    host->setPageLogEnabled(false);
    host->logToPage("quiet");
    EXPECT_EQ(host->queued(), 0u);

    host->setPageLogEnabled(true);
    host->logToPage("50% done");
    EXPECT_EQ(host->queued(), 1u);
    testing::internal::CaptureStdout();
    host->drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Logging: 50% done\n");
    EXPECT_THAT(page.consoleLines, testing::ElementsAre("50% done"));

    // A failing console is only logged; a page without one gets nothing.
    page.console->method("log", [](const VariantList&) -> variant { throw script_error("console gone"); });
    host->logToPage("lost");
    EXPECT_NO_THROW(host->drain());
    page.window->props.erase("console");
    testing::internal::CaptureStdout();
    host->logToPage("nowhere");
    host->drain();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(BrowserHostTest, PageObjectsCallLaterThroughTheHost) {
    auto host = makeHost();
    auto object = testpage::PageObject::make(host);
    int calls = 0;
    object->method("notify", [&](const VariantList& args) {
        calls += args.at(0).convert<int>();
        return variant();
    });
    object->invokeLater("notify", VariantList{variant(2)});
    object->setPropertyLater("state", variant("done"));
    EXPECT_EQ(calls, 0);
    host->drain();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(object->props["state"].get<std::string>(), "done");

    host.reset();
    EXPECT_THROW(object->invokeLater("notify", VariantList{variant(1)}), std::runtime_error);
}

TEST(BrowserHostTest, StreamsLiveUntilShutdownAndHostsAreCounted) {
    int before = BrowserHost::liveCount();
    auto host = makeHost();
    EXPECT_EQ(BrowserHost::liveCount(), before + 1);
    BrowserStreamRequest request;
    request.url = "https://bank.example/data";
    std::weak_ptr<BrowserStream> stream = host->createStream(request);
    host->createPostStream(request);
    host->streams.clear();
    ASSERT_FALSE(stream.expired());  // held by the host
    host->shutdown();
    EXPECT_TRUE(stream.expired());
    host.reset();
    EXPECT_EQ(BrowserHost::liveCount(), before);
}

}  // namespace
