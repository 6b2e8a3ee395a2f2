// Browser objects as the plug-in sees them, on the main thread: the plug-in's own objects coming
// back are used directly, page objects through the browser, and events are delivered in batches
// through the page call function or straight to the plug-in's own handlers.
#include "AdapterTest.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;
using ::testing::ElementsAre;

namespace {

class PageObjects : public AdapterTest {
  protected:
    std::shared_ptr<NPObjectAPI> proxyOf(const PageValue& value) {
        return std::dynamic_pointer_cast<NPObjectAPI>(host->toVariant(value.borrow()).convert<JSAPIPtr>());
    }
};

TEST_F(PageObjects, PageObjectsAreReadWrittenAndCalledThroughTheBrowser) {
    PageValue object = browser.newObject();
    browser.setProperty(object.asObject(), "a", 1);
    browser.setProperty(object.asObject(), "b", "two");
    auto proxy = proxyOf(object);
    ASSERT_TRUE(proxy);
    EXPECT_FALSE(proxy->wrapsOwnObject());
    EXPECT_FALSE(proxy->getWrappedAPI());
    EXPECT_EQ(proxy->eventIdentity(), object.asObject());
    EXPECT_EQ(proxy->eventContextOf(), npp);

    EXPECT_TRUE(proxy->hasProperty("a"));
    EXPECT_EQ(proxy->getProperty("b").convert<std::string>(), "two");
    proxy->setProperty("c", variant(VariantList{variant(1), variant(2)}));
    EXPECT_EQ(browser.arrayElements(browser.getProperty(object.asObject(), "c").value.asObject())->size(),
              2u);
    std::vector<std::string> names;
    proxy->listMemberNames(names);
    EXPECT_THAT(names, ElementsAre("a", "b", "c"));
    EXPECT_EQ(proxy->countMembers(), 3u);
    proxy->removeProperty("a");
    EXPECT_FALSE(proxy->hasProperty("a"));

    // Arrays by index, written as decimal names.
    PageValue array = browser.newArray({10, 20});
    auto list = proxyOf(array);
    EXPECT_EQ(list->getProperty(1).convert<int>(), 20);
    EXPECT_EQ(list->getProperty("length").convert<int>(), 2);

    // A failed browser call is a script error named after the member.
    try {
        proxy->invoke("missing", VariantList{});
        ADD_FAILURE() << "no script error";
    } catch (const script_error& e) {
        EXPECT_STREQ(e.what(), "missing");
    }
}

TEST_F(PageObjects, PageFunctionsAreCalledWithConvertedArgumentsAndConstructed) {
    std::vector<std::vector<PageValue>> calls;
    PageValue function = recordingFunction(calls);
    auto proxy = proxyOf(function);
    proxy->invoke("", VariantList{variant(1), variant("x"), variant(VariantMap{{"k", variant(true)}})});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][0], PageValue(1));
    EXPECT_EQ(calls[0][1], PageValue("x"));
    EXPECT_EQ(browser.getProperty(calls[0][2].asObject(), "k").value, PageValue(true));

    auto window = host->getPageWindow()->pageObject();
    JSObjectPtr made = window->invoke("Array", VariantList{}).convert<JSObjectPtr>();
    EXPECT_TRUE(made);
}

TEST_F(PageObjects, ThePluginsOwnObjectsComingBackAreUsedDirectly) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(JSAPIWeakPtr(api));
    auto proxy = proxyOf(page);
    ASSERT_TRUE(proxy);
    EXPECT_TRUE(proxy->wrapsOwnObject());
    EXPECT_EQ(proxy->getWrappedAPI(), api);
    EXPECT_EQ(proxy->invoke("echo", VariantList{variant("z")}).convert<std::string>(), "z");
    EXPECT_EQ(proxy->getProperty("name").convert<std::string>(), "initial");
    proxy->setProperty("name", variant("set"));
    EXPECT_EQ(api->name, "set");
    EXPECT_TRUE(proxy->hasMethod("echo"));

    // Once the object has gone, the defaults.
    api.reset();
    EXPECT_FALSE(proxy->hasMethod("echo"));
    EXPECT_EQ(proxy->getProperty("name").get<bool>(), false);
    EXPECT_EQ(proxy->invoke("echo", VariantList{}).get<bool>(), false);
    EXPECT_EQ(proxy->countMembers(), 0u);
}

TEST_F(PageObjects, EventsReachInterfacesThroughThePageAndOwnHandlersDirectly) {
    auto source = std::make_shared<TestApi>();
    auto listener = std::make_shared<TestApi>(true);

    // An event interface: a page object whose method named like the event is called.
    std::vector<std::vector<PageValue>> calls;
    PageValue target = browser.newObject();
    browser.setProperty(target.asObject(), "onping", recordingFunction(calls));
    source->addEventInterface(proxyOf(target));

    // A handler that is one of the plug-in's own objects: the method object of "record".
    PageValue listenerPage = expose(listener);
    PageValue record = browser.getProperty(listenerPage.asObject(), "record").value;
    PageValue sourcePage = expose(source);
    PageValue add = browser.getProperty(sourcePage.asObject(), "addEventListener").value;
    ASSERT_TRUE(browser.invokeDefault(add.asObject(), {"ping", record}));

    source->fireEvent("onping", VariantList{variant(3)});
    ASSERT_EQ(listener->recorded.size(), 1u);
    EXPECT_EQ(listener->recorded[0].at(0).convert<int>(), 3);
    EXPECT_TRUE(calls.empty());
    browser.runTimers();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_THAT(calls[0], ElementsAre(PageValue(3)));
}

TEST_F(PageObjects, BatchesWithoutAPageWindowFail) {
    PageValue object = browser.newObject();
    auto bare = std::make_shared<NpapiBrowserHost>(module, npp);
    auto orphan = std::make_shared<NPObjectAPI>(object.asObject(), bare);
    try {
        orphan->deliverEventBatch("onx", VariantList{}, {orphan}, {});
        ADD_FAILURE() << "no script error";
    } catch (const script_error& e) {
        EXPECT_STREQ(e.what(), "Error calling handlers (delegate disappeared)");
    }
    orphan.reset();
    bare.reset();
    // A proxy whose host has gone answers with defaults and cannot deliver.
    auto gone = std::make_shared<NpapiBrowserHost>(module, npp);
    auto stranded = std::make_shared<NPObjectAPI>(nullptr, gone);
    gone.reset();
    EXPECT_FALSE(stranded->isValid());
    EXPECT_FALSE(stranded->hasProperty("x"));
    EXPECT_TRUE(stranded->getProperty("x").is_empty());
    EXPECT_EQ(stranded->eventContextOf(), nullptr);
    try {
        stranded->deliverEventBatch("onx", VariantList{}, {}, {});
        ADD_FAILURE() << "no script error";
    } catch (const script_error& e) {
        EXPECT_STREQ(e.what(), "Error calling handlers");
    }
}

}  // namespace
