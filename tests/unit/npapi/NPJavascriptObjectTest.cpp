// The script object bridge as the browser drives it: every NPClass callback of a plug-in object,
// the built-in members, script errors and the last exception, invalidation, and object identity.
#include "AdapterTest.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;
using ::testing::ElementsAre;
using ::testing::Optional;

namespace {

class ScriptBridge : public AdapterTest {};

TEST_F(ScriptBridge, CallbacksForwardToTheScriptableObject) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    ASSERT_TRUE(page.isObject());
    NPObject* object = page.asObject();
    EXPECT_TRUE(NPJavascriptObject::isOwnObject(object));

    EXPECT_TRUE(browser.hasMethod(object, "echo"));
    EXPECT_TRUE(browser.hasMethod(object, "toString"));
    EXPECT_FALSE(browser.hasMethod(object, "nothing"));
    // A method is not a property; the built-ins are properties whether or not the object has them.
    EXPECT_FALSE(browser.hasProperty(object, "echo"));
    EXPECT_TRUE(browser.hasProperty(object, "name"));
    EXPECT_TRUE(browser.hasProperty(object, "addEventListener"));
    EXPECT_TRUE(browser.hasProperty(object, "getLastException"));

    auto echoed = browser.invoke(object, "echo", {"x"});
    ASSERT_TRUE(echoed);
    EXPECT_EQ(echoed.value, PageValue("x"));
    EXPECT_EQ(browser.invoke(object, "count", {1, 2.5, nullptr}).value, PageValue(3));
    EXPECT_EQ(browser.invoke(object, "toString").value, PageValue("<TestApi>"));

    EXPECT_EQ(browser.getProperty(object, "name").value, PageValue("initial"));
    EXPECT_TRUE(browser.setProperty(object, "name", "changed"));
    EXPECT_EQ(api->name, "changed");

    // A dynamic attribute comes and goes.
    EXPECT_TRUE(browser.setProperty(object, "extra", 7));
    EXPECT_EQ(browser.getProperty(object, "extra").value, PageValue(7));
    EXPECT_TRUE(browser.removeProperty(object, "extra"));
    EXPECT_EQ(browser.getProperty(object, "extra").value, PageValue());

    auto made = browser.construct(object, {"a", 1});
    ASSERT_TRUE(made);
    EXPECT_EQ(made.value, PageValue("made:a1"));
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(ScriptBridge, EnumerationEndsWithTheThreeBuiltIns) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    std::vector<std::string> expected;
    api->listMemberNames(expected);
    expected.insert(expected.end(), {"addEventListener", "removeEventListener", "getLastException"});
    EXPECT_THAT(browser.enumerate(page.asObject()), Optional(expected));
}

TEST_F(ScriptBridge, MethodObjectsAreReadAsValuesAndCalledByDefault) {
    auto api = std::make_shared<TestApi>(true);
    PageValue page = expose(api);
    NPObject* object = page.asObject();
    // With method objects the page reads the method and calls it.
    EXPECT_FALSE(browser.hasMethod(object, "echo"));
    auto method = browser.getProperty(object, "echo");
    ASSERT_TRUE(method.value.isObject());
    EXPECT_EQ(browser.invokeDefault(method.value.asObject(), {"y"}).value, PageValue("y"));

    auto refused = browser.setProperty(object, "echo", 1);
    EXPECT_FALSE(refused);
    EXPECT_THAT(refused.exception, Optional(std::string("This property cannot be changed")));
    EXPECT_EQ(NPJavascriptObject::lastException().convert<std::string>(), "This property cannot be changed");
}

TEST_F(ScriptBridge, ScriptErrorsBecomeExceptionsAndTheLastExceptionIsShared) {
    auto first = std::make_shared<TestApi>();
    auto second = std::make_shared<TestApi>();
    PageValue a = expose(first);
    PageValue b = expose(second);

    auto failed = browser.invoke(a.asObject(), "fail");
    EXPECT_FALSE(failed);
    EXPECT_THAT(failed.exception, Optional(std::string("it failed")));
    ASSERT_EQ(browser.exceptions().size(), 1u);
    EXPECT_EQ(browser.exceptions()[0].object, a.asObject());

    // Any object reports the last failure, whichever object failed.
    auto getter = browser.getProperty(b.asObject(), "getLastException");
    ASSERT_TRUE(getter.value.isObject());
    EXPECT_EQ(browser.invokeDefault(getter.value.asObject()).value, PageValue("it failed"));

    auto unknown = browser.invoke(b.asObject(), "missing");
    EXPECT_FALSE(unknown);
    EXPECT_EQ(browser.invokeDefault(getter.value.asObject()).value,
              PageValue("The specified member does not exist: missing"));
}

TEST_F(ScriptBridge, LastExceptionIsEmptyBeforeAnyFailure) {
    // Run in a fresh process: the last exception belongs to the whole process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto api = std::make_shared<TestApi>();
            PageValue page = expose(api);
            auto getter = browser.getProperty(page.asObject(), "getLastException");
            auto value = browser.invokeDefault(getter.value.asObject());
            bool empty = NPJavascriptObject::lastException().is_empty() && value.ok && value.value.isVoid();
            std::_Exit(empty ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ScriptBridge, AddEventListenerRegistersTheHandlerUnderOnName) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    std::vector<std::vector<PageValue>> calls;
    PageValue handler = recordingFunction(calls);

    auto add = browser.getProperty(page.asObject(), "addEventListener");
    ASSERT_TRUE(add.value.isObject());
    EXPECT_EQ(browser.invoke(add.value.asObject(), "toString").value, PageValue("attachEvent()"));
    auto remove = browser.getProperty(page.asObject(), "removeEventListener");
    EXPECT_EQ(browser.invoke(remove.value.asObject(), "toString").value, PageValue("detachEvent()"));

    // One argument is too few; a third is ignored; a fourth is too many.
    auto tooFew = browser.invokeDefault(add.value.asObject(), {"ping"});
    EXPECT_FALSE(tooFew);
    EXPECT_THAT(tooFew.exception, Optional(std::string("Invalid Arguments")));
    EXPECT_FALSE(browser.invokeDefault(add.value.asObject(), {"ping", handler, true, 4}));
    ASSERT_TRUE(browser.invokeDefault(add.value.asObject(), {"ping", handler, true}));

    api->fireEvent("onping", VariantList{variant(5)});
    browser.runPostedCalls();
    browser.runTimers();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_THAT(calls[0], ElementsAre(PageValue(5)));

    // A name registered without the prefix is not the event.
    api->fireEvent("ping", VariantList{});
    browser.runTimers();
    EXPECT_EQ(calls.size(), 1u);

    ASSERT_TRUE(browser.invokeDefault(remove.value.asObject(), {"ping", handler}));
    api->fireEvent("onping", VariantList{variant(6)});
    browser.runPostedCalls();
    browser.runTimers();
    EXPECT_EQ(calls.size(), 1u);

    // A handler that is not an object cannot be registered.
    auto notAFunction = browser.invokeDefault(add.value.asObject(), {"ping", 3});
    EXPECT_FALSE(notAFunction);
    EXPECT_TRUE(notAFunction.exception.has_value());
}

TEST_F(ScriptBridge, BuiltInMemberOutlivingItsOwnerFailsInsteadOfTouchingIt) {
    auto api = std::make_shared<TestApi>();
    std::vector<std::vector<PageValue>> calls;
    PageValue handler = recordingFunction(calls);
    PageValue add;
    {
        PageValue page = expose(api);
        add = browser.getProperty(page.asObject(), "addEventListener").value;
    }
    // The owner's NPObject is deallocated; the page still holds its addEventListener.
    EXPECT_EQ(browser.liveObjectsOfClass(NPJavascriptObject::npClass()).size(), 1u);
    auto call = browser.invokeDefault(add.asObject(), {"ping", handler});
    EXPECT_FALSE(call);
    EXPECT_THAT(call.exception, Optional(std::string("Invalid Arguments")));
}

TEST_F(ScriptBridge, EveryCallbackFailsQuietlyAfterInvalidation) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    NPObject* object = page.asObject();
    browser.invalidate(object);
    EXPECT_FALSE(api->valid());

    EXPECT_FALSE(browser.hasMethod(object, "echo"));
    EXPECT_FALSE(browser.hasProperty(object, "name"));
    EXPECT_FALSE(browser.getProperty(object, "name"));
    EXPECT_FALSE(browser.setProperty(object, "name", "x"));
    EXPECT_FALSE(browser.removeProperty(object, "name"));
    EXPECT_FALSE(browser.invoke(object, "echo", {"x"}));
    EXPECT_FALSE(browser.invokeDefault(object));
    EXPECT_FALSE(browser.construct(object));
    EXPECT_FALSE(browser.enumerate(object).has_value());
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(ScriptBridge, EveryCallbackFailsQuietlyOnceTheScriptableObjectIsGone) {
    auto api = std::make_shared<TestApi>();
    // A weak reference is not kept alive by the host.
    PageValue page = expose(JSAPIWeakPtr(api));
    NPObject* object = page.asObject();
    EXPECT_TRUE(browser.invoke(object, "echo", {"x"}));
    api.reset();

    EXPECT_FALSE(browser.hasMethod(object, "echo"));
    EXPECT_FALSE(browser.hasProperty(object, "addEventListener"));
    EXPECT_FALSE(browser.getProperty(object, "name"));
    EXPECT_FALSE(browser.setProperty(object, "name", "x"));
    EXPECT_FALSE(browser.removeProperty(object, "name"));
    EXPECT_FALSE(browser.invoke(object, "echo", {"x"}));
    EXPECT_FALSE(browser.invokeDefault(object));
    EXPECT_FALSE(browser.construct(object));
    EXPECT_FALSE(browser.enumerate(object).has_value());
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(ScriptBridge, EveryCallbackFailsQuietlyOnceTheHostIsGone) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    NPObject* object = page.asObject();
    host->shutdown();
    host.reset();

    EXPECT_FALSE(browser.hasMethod(object, "echo"));
    EXPECT_FALSE(browser.getProperty(object, "name"));
    EXPECT_FALSE(browser.invoke(object, "echo", {"x"}));
    EXPECT_FALSE(browser.enumerate(object).has_value());
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(ScriptBridge, ObjectsKeepTheirIdentityAcrossTheBridge) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    NPObject* object = page.asObject();
    EXPECT_EQ(browser.refCount(object), 1);

    // The same plug-in object again: the same NPObject, retained once more.
    PageValue again = expose(api);
    EXPECT_EQ(again.asObject(), object);
    EXPECT_EQ(browser.refCount(object), 2);

    // A page object passed in and out again is the same NPObject.
    PageValue array = browser.newArray({1, 2});
    EXPECT_EQ(browser.invoke(object, "echo", {array}).value.asObject(), array.asObject());
    // So is our own object, passed in by the page.
    EXPECT_EQ(browser.invoke(object, "echo", {page}).value.asObject(), object);
}

TEST_F(ScriptBridge, IndexedPropertiesReachTheScriptableObjectByIndex) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    NPObject* object = page.asObject();
    EXPECT_TRUE(browser.setProperty(object, 3, "three"));
    EXPECT_EQ(api->getProperty(3).convert<std::string>(), "three");
    EXPECT_TRUE(browser.hasProperty(object, 3));
    EXPECT_EQ(browser.getProperty(object, 3).value, PageValue("three"));
}

}  // namespace

// The built-in members live as long as their owner's NPObject and keep nothing of the page: any
// page object stored on one would be kept alive by it, or close a cycle through the owner.
TEST_F(ScriptBridge, BuiltInMembersRefuseAttributesAndHandlers) {
    auto api = std::make_shared<TestApi>();
    PageValue page = expose(api);
    NPObject* owner = page.asObject();
    PageValue window(browser.window());
    for (const char* builtIn : {"addEventListener", "removeEventListener", "getLastException"}) {
        SCOPED_TRACE(builtIn);
        PageValue member = browser.getProperty(owner, builtIn).value;
        ASSERT_TRUE(member.isObject());
        NPObject* object = member.asObject();
        PageValue nested = browser.getProperty(object, "addEventListener").value;
        ASSERT_TRUE(nested.isObject());
        const std::vector<FakeBrowser::CallResult> refused = {
            browser.invoke(object, "setAttribute", {"w", window}),
            browser.setProperty(object, "ontest", page),
            browser.setProperty(object, "testString", browser.newArray()),
            browser.setProperty(object, 0, page),
            browser.invokeDefault(nested.asObject(), {"test", page}),
        };
        for (const auto& result : refused) {
            EXPECT_FALSE(result);
            EXPECT_TRUE(result.exception.has_value());
        }
        // Still a function object: its text is its method name.
        EXPECT_TRUE(browser.invoke(object, "toString").value.isString());
    }
}
