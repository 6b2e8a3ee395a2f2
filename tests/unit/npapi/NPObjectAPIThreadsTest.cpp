// Browser objects used from a worker thread: every operation runs on the main thread, references
// are given back there, and events fired on a worker reach the page through the main thread.
#include <atomic>
#include <thread>

#include "AdapterTest.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ThreadsNPObjectAPI : public AdapterTest {
  protected:
    // Runs work on a worker while this (main) thread serves posted calls until it is done.
    void onWorker(const std::function<void()>& work) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
        });
        EXPECT_TRUE(browser.pumpUntil([&] { return done.load(); }));
        worker.join();
    }
};

TEST_F(ThreadsNPObjectAPI, OperationsFromAWorkerRunOnTheMainThread) {
    std::thread::id calledOn;
    PageValue twice =
        browser.newFunction("twice", [&calledOn](NPObject*, const std::vector<PageValue>& args) {
            calledOn = std::this_thread::get_id();
            return PageValue(2 * args.at(0).asInt32());
        });
    browser.setProperty(browser.window(), "twice", twice);
    JSObjectPtr window = host->getPageWindow()->pageObject();

    variant result;
    bool hasDocument = false;
    std::vector<std::string> names;
    variant missing;
    std::string failure;
    onWorker([&] {
        hasDocument = window->hasProperty("document");
        result = window->invoke("twice", VariantList{variant(21)});
        window->setProperty("fromWorker", variant("yes"));
        window->listMemberNames(names);
        try {
            window->invoke("noSuchFunction", VariantList{});
        } catch (const script_error& e) {
            failure = e.what();
        }
    });
    EXPECT_TRUE(hasDocument);
    EXPECT_EQ(result.convert<int>(), 42);
    EXPECT_EQ(calledOn, browser.mainThread());
    EXPECT_EQ(browser.getProperty(browser.window(), "fromWorker").value, PageValue("yes"));
    EXPECT_THAT(names, ::testing::Contains("fromWorker"));
    EXPECT_EQ(failure, "noSuchFunction");
    // Every NPN_* call came from the main thread.
    EXPECT_THAT(browser.problems(), IsEmpty());
}

TEST_F(ThreadsNPObjectAPI, AWorkerDroppingABrowserObjectReleasesItOnTheMainThread) {
    PageValue object = browser.newObject();
    variant held = host->toVariant(object.borrow());
    EXPECT_EQ(browser.refCount(object.asObject()), 2);

    std::thread worker([held = std::move(held)]() mutable { held.reset(); });
    worker.join();
    // Queued, not released off the main thread.
    EXPECT_EQ(host->pendingReleases(), 1u);
    EXPECT_EQ(browser.refCount(object.asObject()), 2);

    host->deferredRelease();
    EXPECT_EQ(host->pendingReleases(), 0u);
    EXPECT_EQ(browser.refCount(object.asObject()), 1);
    EXPECT_THAT(browser.problems(), IsEmpty());
}

TEST_F(ThreadsNPObjectAPI, EventsFiredOnAWorkerReachThePageThroughTheMainThread) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    std::vector<std::vector<PageValue>> calls;
    PageValue handler = recordingFunction(calls);
    auto add = browser.getProperty(page.asObject(), "addEventListener");
    ASSERT_TRUE(browser.invokeDefault(add.value.asObject(), {"tick", handler}));

    std::thread worker([api] { api->fireEvent("ontick", VariantList{variant(1), variant("x")}); });
    worker.join();
    EXPECT_TRUE(calls.empty());
    EXPECT_GE(browser.runPostedCalls(), 1u);
    browser.runTimers();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_THAT(calls[0], ElementsAre(PageValue(1), PageValue("x")));
    EXPECT_THAT(browser.problems(), IsEmpty());
}

TEST_F(ThreadsNPObjectAPI, AWorkerWaitingWhenTheHostShutsDownIsToldSo) {
    JSObjectPtr window = host->getPageWindow()->pageObject();
    std::atomic<bool> posted{false};
    std::string failure;
    std::thread worker([&] {
        try {
            posted = true;
            window->getProperty("document");
        } catch (const script_error& e) {
            failure = e.what();
        }
    });
    // Shut down as soon as the call is queued, without serving it.
    while (browser.pendingPostedCalls() == 0) {
        std::this_thread::yield();
    }
    host->shutdown();
    worker.join();
    EXPECT_EQ(failure, "Shutting down");
    browser.runPostedCalls();
    window.reset();
    EXPECT_THAT(browser.problems(), IsEmpty());
}

}  // namespace
