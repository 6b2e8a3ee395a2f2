#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles.h"
#include "scripting/JSAPIAuto.h"

using FB::variant;
using FB::VariantList;
using FB::VariantMap;

namespace {

struct Events : testing::Test {
    std::shared_ptr<test::FakeHost> host = std::make_shared<test::FakeHost>();
    std::shared_ptr<FB::JSAPIAuto> api = std::make_shared<FB::JSAPIAuto>();

    std::vector<std::shared_ptr<test::PageObject>> made;

    std::shared_ptr<test::PageObject> handler(void* context = nullptr) {
        auto h = std::make_shared<test::PageObject>(host);
        h->context = context;
        made.push_back(h);
        return h;
    }

    // The doubles record the arguments they received, which may hold the firing object (the event
    // target) or themselves (batches); drop the records so that nothing keeps a cycle alive.
    void TearDown() override {
        for (const auto& h : made) {
            h->calls.clear();
            h->batchLog.clear();
        }
    }
};

}  // namespace

TEST_F(Events, HandlersAreCalledAsFunctionsOnTheMainThread) {
    auto first = handler();
    auto second = handler();
    api->addEventHandler("onecho", first);
    api->addEventHandler(std::wstring(L"onecho"), second);
    api->addEventHandler("onother", handler());

    api->fireEvent("onecho", {"So far", 3});
    EXPECT_TRUE(first->calls.empty());  // nothing runs before the main thread drains its queue
    EXPECT_EQ(host->drain(), 2u);
    ASSERT_EQ(first->calls.size(), 1u);
    EXPECT_EQ(first->calls[0].name, "");
    ASSERT_EQ(first->calls[0].args.size(), 2u);
    EXPECT_EQ(first->calls[0].args[0].get<std::string>(), "So far");
    EXPECT_EQ(first->calls[0].args[1].get<int>(), 3);
    EXPECT_EQ(second->calls.size(), 1u);
    EXPECT_EQ(host->objectCalls, 2);

    api->fireEvent(std::wstring(L"onecho"), {});
    EXPECT_EQ(host->drain(), 2u);
}

TEST_F(Events, RegistrationByIdentityWithinAContext) {
    int pageFunction = 0;
    int contextA = 0;
    int contextB = 0;
    auto h1 = handler(&contextA);
    h1->identity = &pageFunction;
    auto h1Again = handler(&contextA);  // the same page function reaching us as a new object
    h1Again->identity = &pageFunction;
    auto otherPage = handler(&contextB);
    otherPage->identity = &pageFunction;

    api->addEventHandler("onx", h1);
    api->addEventHandler("onx", h1Again);
    api->addEventHandler("onx", otherPage);
    api->fireEvent("onx", {});
    EXPECT_EQ(host->drain(), 2u);
    EXPECT_EQ(h1->calls.size(), 1u);
    EXPECT_TRUE(h1Again->calls.empty());
    EXPECT_EQ(otherPage->calls.size(), 1u);

    api->removeEventHandler("onx", h1Again);  // removes by identity
    api->fireEvent("onx", {});
    host->drain();
    EXPECT_EQ(h1->calls.size(), 1u);
    EXPECT_EQ(otherPage->calls.size(), 2u);

    try {
        api->addEventHandler("onx", nullptr);
        FAIL();
    } catch (const FB::invalid_arguments& e) {
        EXPECT_STREQ(e.what(), "Invalid Arguments");
    }
    EXPECT_THROW(api->removeEventHandler("onx", nullptr), FB::invalid_arguments);
    EXPECT_THROW(api->addEventInterface(nullptr), FB::invalid_arguments);
}

TEST_F(Events, InterfacesInvalidHandlersAndInvalidatedObjects) {
    auto iface = handler();
    auto stale = handler();
    stale->valid = false;
    api->addEventInterface(iface);
    EXPECT_TRUE(api->hasListenersFor("onanything"));  // an interface hears every event
    api->addEventHandler("onload", stale);
    api->fireEvent("onload", {1});
    host->drain();
    ASSERT_EQ(iface->calls.size(), 1u);
    EXPECT_EQ(iface->calls[0].name, "onload");
    EXPECT_TRUE(stale->calls.empty());

    api->removeEventInterface(iface);
    api->fireEvent("onload", {1});
    EXPECT_EQ(host->drain(), 0u);

    api->addEventHandler("onload", handler());
    api->invalidate();
    EXPECT_FALSE(api->hasListenersFor("onload"));
    api->fireEvent("onload", {});
    api->firePageEvent("onload", VariantList{});
    EXPECT_EQ(host->drain(), 0u);
}

TEST_F(Events, BatchCapableHandlersOfOneContextGetOneRequest) {
    int page = 0;
    auto b1 = handler(&page);
    auto b2 = handler(&page);
    auto bi = handler(&page);
    auto plain = handler(&page);
    b1->batches = b2->batches = bi->batches = true;
    api->addEventHandler("ontick", b1);
    api->addEventHandler("ontick", b2);
    api->addEventHandler("ontick", plain);
    api->addEventInterface(bi);

    api->fireEvent("ontick", {7});
    ASSERT_EQ(b1->batchLog.size() + b2->batchLog.size() + bi->batchLog.size(), 1u);
    const auto& batch = !b1->batchLog.empty() ? b1->batchLog[0] : b2->batchLog[0];
    EXPECT_EQ(batch.name, "ontick");
    EXPECT_EQ(batch.args[0].get<int>(), 7);
    EXPECT_THAT(batch.handlers, testing::UnorderedElementsAre(b1, b2));
    EXPECT_THAT(batch.interfaces, testing::ElementsAre(bi));
    EXPECT_EQ(host->drain(), 1u);  // only the handler without batches went through the queue
    EXPECT_EQ(plain->calls.size(), 1u);
}

TEST_F(Events, AttributeHoldingAPageFunctionIsCalledToo) {
    auto onload = handler();
    EXPECT_FALSE(api->hasListenersFor("onload"));
    api->setProperty("onload", FB::JSObjectPtr(onload));
    api->setProperty("onplain", 5);  // not a page object: ignored
    // Members skip building an event nobody receives: only a page function counts as a receiver here.
    EXPECT_TRUE(api->hasListenersFor("onload"));
    EXPECT_FALSE(api->hasListenersFor("onplain"));
    api->fireEvent("onload", {"ready"});
    api->fireEvent("onplain", {});
    host->drain();
    ASSERT_EQ(onload->calls.size(), 1u);
    EXPECT_EQ(onload->calls[0].args[0].get<std::string>(), "ready");

    api->firePageEvent("onload", VariantMap{{"detail", 1}});
    host->drain();
    ASSERT_EQ(onload->calls.size(), 2u);
    EXPECT_EQ(onload->calls[1].args[0].get<VariantMap>().at("type").get<std::string>(), "onload");
}

TEST_F(Events, PageEventObject) {
    auto h = handler();
    api->addEventHandler("onsigned", h);
    api->firePageEvent("onsigned", VariantMap{{"type", "overridden?"}, {"detail", 9}, {"arguments", 0}},
                       VariantList{"a", 2});
    host->drain();
    ASSERT_EQ(h->calls.size(), 1u);
    ASSERT_EQ(h->calls[0].args.size(), 1u);
    const auto event = h->calls[0].args[0].get<VariantMap>();
    EXPECT_EQ(event.at("type").get<std::string>(), "onsigned");
    EXPECT_EQ(event.at("namespaceURI").get<std::string>(), "onsigned");
    EXPECT_EQ(event.at("target").get<FB::JSAPIPtr>(), api);
    EXPECT_EQ(event.at("currentTarget").get<FB::JSAPIPtr>(), api);
    EXPECT_EQ(event.at("eventPhase").get<int>(), 2);
    EXPECT_EQ(event.at("bubbles").get<bool>(), false);
    EXPECT_EQ(event.at("cancelable").get<bool>(), false);
    EXPECT_EQ(event.at("detail").get<int>(), 9);
    EXPECT_EQ(event.at("arguments").get<VariantList>().size(), 2u);
    EXPECT_EQ(event.size(), 9u);
}

TEST_F(Events, ProxiesReceiveEventsWithThemselvesInPlaceOfTheSource) {
    auto proxy = std::make_shared<FB::JSAPIAuto>();
    auto proxyHandler = handler();
    proxy->addEventHandler("onx", proxyHandler);
    api->addProxy(proxy);
    {
        auto expired = std::make_shared<FB::JSAPIAuto>();
        api->addProxy(expired);
    }
    FB::JSAPIPtr self = api;
    api->fireEvent("onx", {self, FB::JSAPIWeakPtr(self), 5});
    host->drain();
    ASSERT_EQ(proxyHandler->calls.size(), 1u);
    const auto& args = proxyHandler->calls[0].args;
    EXPECT_EQ(args[0].get<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(args[1].get<FB::JSAPIWeakPtr>().lock(), proxy);
    EXPECT_EQ(args[2].get<int>(), 5);

    api->firePageEvent("onx", VariantMap{{"source", self}}, VariantList{self});
    host->drain();
    ASSERT_EQ(proxyHandler->calls.size(), 2u);
    const auto event = proxyHandler->calls[1].args[0].get<VariantMap>();
    EXPECT_EQ(event.at("target").get<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(event.at("source").get<FB::JSAPIPtr>(), proxy);
    EXPECT_EQ(event.at("arguments").get<VariantList>()[0].get<FB::JSAPIPtr>(), proxy);

    EXPECT_TRUE(api->hasListenersFor("ony"));  // a proxy may have listeners of its own
    api->removeProxy(proxy.get());
    EXPECT_FALSE(api->hasListenersFor("ony"));
    api->fireEvent("onx", {});
    host->drain();
    EXPECT_EQ(proxyHandler->calls.size(), 2u);
}

TEST_F(Events, OneUnreachableHandlerDoesNotCostTheOthersTheirEvent) {
    auto orphanHost = std::make_shared<test::FakeHost>();
    auto orphan = std::make_shared<test::PageObject>(orphanHost);
    orphanHost.reset();  // its host is gone, though the object still reports itself valid
    auto healthy = handler();
    api->addEventHandler("onx", orphan);
    api->addEventHandler("onx", healthy);
    try {
        api->fireEvent("onx", {});
        FAIL() << "the unreachable handler went unnoticed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot invoke asynchronously");
    }
    host->drain();
    EXPECT_EQ(healthy->calls.size(), 1u);

    // A handler whose page function fails on the main thread troubles nobody.
    healthy->throwOnInvoke = true;
    api->removeEventHandler("onx", orphan);
    EXPECT_NO_THROW(api->fireEvent("onx", {}));
    EXPECT_NO_THROW(host->drain());
    EXPECT_EQ(healthy->calls.size(), 2u);
}
