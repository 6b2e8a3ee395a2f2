#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestHost.h"
#include "core/FactoryBase.h"
#include "core/Log.h"
#include "core/PluginCore.h"
#include "core/PluginEvent.h"
#include "scripting/JSAPIAuto.h"

namespace FB::Npapi {
class NpapiPlugin {};
class NpapiBrowserHost {};
}  // namespace FB::Npapi

namespace {

using namespace FB;
using testhost::TestHost;
using testpage::Page;
using testpage::PageObject;

class TestPlugin : public PluginCore {
  public:
    JSAPIPtr createScriptObject() override {
        ++scriptObjectsMade;
        return std::make_shared<JSAPIAuto>();
    }
    void onReady() override { ++readyCalls; }
    bool handleEvent(PluginEvent* event, PluginEventSource*) override {
        events.push_back(typeid(*event).name());
        return false;
    }

    int scriptObjectsMade = 0;
    int readyCalls = 0;
    std::vector<std::string> events;
};

std::string eventName(const PluginEvent& e) {
    return typeid(e).name();
}

class PluginCoreTest : public ::testing::Test {
  protected:
    PluginCoreTest() {
        host->attachPage(&page);
        pageLoaded = PageObject::make(host);
        page.window->set("pageLoaded", JSObjectPtr(pageLoaded)).set("answer", 42);
        plugin->attachHost(host);
        Log::setOutput([this](LogLevel level, const std::string& source, const std::string& message) {
            if (source == "PluginCore" && level == LogLevel::Info)
                logLines.push_back(message);
        });
    }
    ~PluginCoreTest() override { Log::setOutput(nullptr); }

    std::shared_ptr<TestHost> host = std::make_shared<TestHost>();
    Page page{host};
    std::shared_ptr<PageObject> pageLoaded;
    std::shared_ptr<TestPlugin> plugin = std::make_shared<TestPlugin>();
    std::vector<std::string> logLines;
};

TEST_F(PluginCoreTest, HandlerParametersResolveToPageFunctions) {
    plugin->storeParams(VariantMap{{"onload", variant("pageLoaded")},
                                   {"Onclick", variant("pageLoaded")},
                                   {"o", variant("x")},
                                   {"CaSubjectNames", variant("CN=A|CN=B")},
                                   {"onmissing", variant("nothingHere")},
                                   {"onanswer", variant("answer")},
                                   {"onlist", variant(VariantList{})}});
    const VariantMap& params = plugin->params();
    EXPECT_EQ(params.at("onload").get<JSObjectPtr>(), pageLoaded);
    EXPECT_EQ(params.at("Onclick").get<std::string>(), "pageLoaded");  // "on" only in lower case
    EXPECT_EQ(plugin->paramValue("o"), "x");                           // too short to be a handler
    EXPECT_EQ(plugin->paramValue("CaSubjectNames"), "CN=A|CN=B");
    EXPECT_EQ(plugin->paramValue("absent"), std::nullopt);
    // A name the page does not define resolves to no object.
    EXPECT_EQ(params.at("onmissing").get<JSObjectPtr>(), nullptr);
    EXPECT_THROW(plugin->paramValue("onmissing"), bad_variant_cast);
    // A failing lookup (the window property is no object, the value is no text) keeps the raw value.
    EXPECT_EQ(plugin->paramValue("onanswer"), "answer");
    EXPECT_TRUE(params.at("onlist").is_of_type<VariantList>());

    EXPECT_THAT(logLines, testing::Contains("Found <param> event handler: onload"));
    EXPECT_THAT(logLines, testing::Contains(testing::StartsWith("Exception processing <param> onanswer: ")));

    // Storing again replaces earlier values.
    plugin->storeParams(VariantMap{{"o", variant("y")}});
    EXPECT_EQ(plugin->paramValue("o"), "y");
}

TEST_F(PluginCoreTest, HandlerParameterWithoutAHostKeepsItsRawValue) {
    auto lone = std::make_shared<TestPlugin>();
    lone->storeParams(VariantMap{{"onload", variant("pageLoaded")}});
    EXPECT_EQ(lone->paramValue("onload"), "pageLoaded");
    EXPECT_FALSE(lone->markReady());
    EXPECT_EQ(lone->readyCalls, 1);
}

TEST_F(PluginCoreTest, MarkReadySchedulesOnloadWithTheScriptObject) {
    plugin->storeParams(VariantMap{{"onload", variant("pageLoaded")}});
    EXPECT_TRUE(plugin->markReady());
    EXPECT_EQ(plugin->readyCalls, 1);
    EXPECT_EQ(plugin->scriptObjectsMade, 1);

    ASSERT_EQ(host->delayedCalls.size(), 1u);
    const VariantList& call = host->delayedCalls[0];
    ASSERT_EQ(call.size(), 3u);  // no method name: the page calls the handler itself
    EXPECT_EQ(call[0].convert<int>(), 250);
    EXPECT_EQ(call[1].convert<JSObjectPtr>(), pageLoaded);
    VariantList args = call[2].get<VariantList>();
    ASSERT_EQ(args.size(), 1u);
    EXPECT_EQ(args[0].convert<JSAPIPtr>(), plugin->getScriptObject());
    EXPECT_EQ(plugin->scriptObjectsMade, 1);  // cached

    auto n =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(static_cast<PluginCore*>(plugin.get())));
    EXPECT_EQ(host->instanceId(), std::to_string(static_cast<std::uint32_t>(n + n / 8)));
}

TEST_F(PluginCoreTest, MarkReadyWithoutAUsableHandlerStillRunsOnReady) {
    plugin->storeParams(VariantMap{{"onload", variant("nothingHere")}});
    EXPECT_FALSE(plugin->markReady());
    EXPECT_EQ(plugin->readyCalls, 1);
    EXPECT_TRUE(host->delayedCalls.empty());

    // The page's call function failing is swallowed too.
    auto other = std::make_shared<TestPlugin>();
    other->attachHost(host);
    other->storeParams(VariantMap{{"onload", variant("pageLoaded")}});
    host->failDelayedCalls = true;
    EXPECT_FALSE(other->markReady());
    EXPECT_EQ(other->readyCalls, 1);

    // Without a page window nothing can be scheduled, and readiness does not claim otherwise.
    host->failDelayedCalls = false;
    host->attachPage(nullptr);
    EXPECT_FALSE(other->markReady());
    EXPECT_EQ(other->readyCalls, 2);
    EXPECT_TRUE(host->delayedCalls.empty());

    auto plain = std::make_shared<TestPlugin>();
    plain->attachHost(host);
    EXPECT_FALSE(plain->markReady());
    EXPECT_EQ(plain->readyCalls, 1);
    EXPECT_EQ(plain->scriptObjectsMade, 0);
}

TEST_F(PluginCoreTest, WindowReplacementRules) {
    PluginWindow first(WindowContext{reinterpret_cast<void*>(1)});
    PluginWindow second(WindowContext{reinterpret_cast<void*>(2)});
    const std::string attached = eventName(AttachedEvent());
    const std::string detached = eventName(DetachedEvent());

    plugin->setWindow(&first);
    plugin->setWindow(&first);  // the same window: attached again, never cleared
    EXPECT_EQ(plugin->getWindow(), &first);
    EXPECT_THAT(plugin->events, testing::ElementsAre(attached, attached));

    plugin->setWindow(&second);  // a different one: the first is cleared before
    EXPECT_EQ(plugin->getWindow(), &second);
    EXPECT_THAT(plugin->events, testing::ElementsAre(attached, attached, detached, attached));
    EXPECT_EQ(first.observerCount(), 0u);
    EXPECT_EQ(second.observerCount(), 1u);

    MouseDownEvent click(3, 4, MouseEvent::Button::Left);
    EXPECT_FALSE(second.sendEvent(&click));
    EXPECT_EQ(plugin->events.back(), eventName(click));

    plugin->clearWindow();
    EXPECT_EQ(plugin->getWindow(), nullptr);
    EXPECT_EQ(second.observerCount(), 0u);
    EXPECT_EQ(plugin->events.back(), detached);
    plugin->clearWindow();  // nothing left to clear
    EXPECT_EQ(plugin->events.size(), 6u);
}

TEST_F(PluginCoreTest, WindowlessParameter) {
    EXPECT_FALSE(plugin->wantsWindowless());
    plugin->storeParams(VariantMap{{"windowless", variant("true")}});
    EXPECT_TRUE(plugin->wantsWindowless());
    plugin->storeParams(VariantMap{{"windowless", variant("no")}});
    EXPECT_FALSE(plugin->wantsWindowless());
    plugin->storeParams(VariantMap{{"windowless", variant(VariantList{})}});  // no bool at all
    EXPECT_FALSE(plugin->wantsWindowless());
}

TEST_F(PluginCoreTest, LiveCountAndHostShutdownOnDestruction) {
    int before = PluginCore::liveCount();
    auto second = std::make_shared<TestPlugin>();
    auto secondHost = std::make_shared<TestHost>();
    second->attachHost(secondHost);
    EXPECT_EQ(PluginCore::liveCount(), before + 1);
    second.reset();
    EXPECT_EQ(PluginCore::liveCount(), before);
    EXPECT_TRUE(secondHost->isShutDown());
    EXPECT_FALSE(host->isShutDown());
}

// A call run by the host's shutdown drops the last owner of a plug-in instance, whose destruction
// shuts the same host down again: that must neither deadlock nor run anything twice.
TEST_F(PluginCoreTest, InstanceDestroyedByACallThatShutdownRuns) {
    auto instance = std::make_shared<TestPlugin>();
    instance->attachHost(host);
    int runs = 0;
    ASSERT_TRUE(host->queueBoundCall(makeFunctorCall([owned = instance, &runs] { ++runs; })));
    std::weak_ptr<TestPlugin> watch = instance;
    instance.reset();
    host->shutdown();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(host->drain(), 1);
    EXPECT_EQ(runs, 1);
}

TEST(PluginPlatformTest, RecordPlatform) {
    PluginCore::recordPlatform("Linux", "NPAPI");
    EXPECT_EQ(PluginCore::platformOs(), "Linux");
    EXPECT_EQ(PluginCore::platformBrowser(), "NPAPI");
}

class TestFactory : public FactoryBase {
  public:
    PluginCorePtr makePlugin(const std::string&) override { return std::make_shared<TestPlugin>(); }
};

TEST(FactoryBaseTest, BaseOperations) {
    TestFactory factory;
    EXPECT_EQ(factory.getLogLevel(), LogLevel::Info);
    EXPECT_EQ(static_cast<int>(factory.getLogLevel()), 4);
    std::vector<Log::Output> outputs;
    factory.getLoggingMethods(outputs);
    EXPECT_TRUE(outputs.empty());

    auto window = factory.createPluginWindow(WindowContext{reinterpret_cast<void*>(0x42)});
    EXPECT_EQ(window->nativeHandle(), reinterpret_cast<void*>(0x42));
    auto windowless =
        factory.createPluginWindowlessWindow(WindowlessWindowContext{reinterpret_cast<void*>(0x43)});
    EXPECT_EQ(windowless->nativeHandle(), reinterpret_cast<void*>(0x43));

    // The NPAPI instance object comes from the adapter; without one there is none to make.
    EXPECT_THROW(factory.makeNpapiInstance(nullptr, "application/x-korvane"), std::logic_error);
    std::string seenMime;
    FactoryBase::setNpapiInstanceMaker(
        [&](FactoryBase& f, const std::shared_ptr<Npapi::NpapiBrowserHost>&, const std::string& mime) {
            EXPECT_EQ(&f, &factory);
            seenMime = mime;
            return std::make_shared<Npapi::NpapiPlugin>();
        });
    EXPECT_NE(factory.makeNpapiInstance(nullptr, "application/x-korvane"), nullptr);
    EXPECT_EQ(seenMime, "application/x-korvane");
    FactoryBase::setNpapiInstanceMaker(nullptr);
}

}  // namespace
