#include <climits>
#include <memory>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/JSFunction.h"

using FB::variant;
using FB::VariantList;

namespace {

class Recorder : public FB::JSAPIAuto {
  public:
    Recorder() {
        addMethod("take", FB::bindMethod(this, &Recorder::take));
        addMethod("pair", FB::bindMethod(this, &Recorder::pair));
        FB::ScopedZone zone(*this, 3);
        addMethod("admin", FB::bindMethod(this, &Recorder::admin));
    }
    std::string take(const variant& v) {
        ++calls;
        received = v.is_empty() ? VariantList{} : v.convert<VariantList>();
        return "took";
    }
    std::string pair(const std::string& a, const std::string& b) {
        ++calls;
        received = {a, b};
        return a + b;
    }
    std::string admin() { return "zone " + std::to_string(currentZone()); }

    int calls = 0;
    VariantList received;
};

template <class F>
std::string scriptMessage(F&& f) {
    try {
        f();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return "<no script_error>";
}

}  // namespace

TEST(JSObject, InvokeLaterRunsOnTheMainThreadAndKeepsTheObjectAlive) {
    auto host = std::make_shared<test::FakeHost>();
    auto page = std::make_shared<test::PageObject>(host);
    std::weak_ptr<test::PageObject> watch = page;
    page->invokeLater("log", {"hello"});
    page->setPropertyLater("title", 5);
    EXPECT_TRUE(page->calls.empty());
    page.reset();
    EXPECT_FALSE(watch.expired());  // held by the scheduled calls

    EXPECT_EQ(host->drain(), 2u);
    EXPECT_EQ(host->objectCalls, 1);
    EXPECT_TRUE(watch.expired());

    auto again = std::make_shared<test::PageObject>(host);
    again->invokeLater("log", {"a", 1});
    again->setPropertyLater("title", "t");
    host->drain();
    ASSERT_EQ(again->calls.size(), 1u);
    EXPECT_EQ(again->calls[0].name, "log");
    EXPECT_EQ(again->calls[0].args.size(), 2u);
    EXPECT_EQ(again->props["title"].get<std::string>(), "t");
}

TEST(JSObject, AsynchronousCallsWithoutAHost) {
    auto host = std::make_shared<test::FakeHost>();
    auto page = std::make_shared<test::PageObject>(host);
    host->shutDown = true;  // posting refused: the call is dropped quietly
    EXPECT_NO_THROW(page->invokeLater("x", {}));
    EXPECT_TRUE(host->queue.empty());

    host.reset();
    try {
        page->invokeLater("x", {});
        FAIL();
    } catch (const FB::script_error&) {
        FAIL() << "not a script error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot invoke asynchronously");
    }
    EXPECT_THROW(page->setPropertyLater("x", 1), std::runtime_error);
    EXPECT_TRUE(page->calls.empty());

    EXPECT_EQ(page->eventIdentity(), nullptr);
    EXPECT_TRUE(page->scriptHost().expired());
}

TEST(JSObject, ReadersOfPageArraysAndObjects) {
    VariantList list{"keep"};
    FB::readArrayValues(nullptr, list);
    EXPECT_EQ(list.size(), 1u);
    FB::readArrayValues(test::PageObject::array({1, 2, 3}), list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].get<int>(), 1);
    EXPECT_EQ(list[3].get<int>(), 3);

    auto negative = test::PageObject::array({1});
    negative->props["length"] = -4;
    list.clear();
    FB::readArrayValues(negative, list);
    EXPECT_TRUE(list.empty());

    auto broken = test::PageObject::array({1});
    broken->failingProperty = "length";
    try {
        FB::readArrayValues(broken, list);
        FAIL();
    } catch (const FB::invalid_member&) {
        FAIL() << "should be raised again as a plain script_error";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(e.what(), "The specified member does not exist: length");
    }
    EXPECT_THROW((void)variant(FB::JSObjectPtr(broken)).convert<VariantList>(), FB::script_error);

    auto object = std::make_shared<test::PageObject>();
    object->define("b", 2);
    object->define("a", 1);
    FB::VariantMap map{{"a", "existing"}};
    FB::readObjectValues(object, map);
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map["a"].get<std::string>(), "existing");
    EXPECT_EQ(map["b"].get<int>(), 2);
    object->failingProperty = "b";
    EXPECT_THROW(FB::readObjectValues(object, map), FB::script_error);
}

TEST(JSFunction, CallAndApplySemantics) {
    auto owner = std::make_shared<Recorder>();
    FB::JSAPIPtr take = owner->methodHandle("take");
    FB::JSAPIPtr pair = owner->getProperty("pair").get<FB::JSAPIPtr>();
    EXPECT_EQ(take->invoke("toString", {}).get<std::string>(), "take()");
    EXPECT_EQ(take->getProperty("value").get<std::string>(), "take()");
    EXPECT_TRUE(take->hasMethod(""));
    EXPECT_TRUE(take->hasMethod("call"));
    EXPECT_TRUE(take->hasMethod("apply"));
    EXPECT_FALSE(take->hasProperty("call"));
    EXPECT_FALSE(take->hasProperty("apply"));
    EXPECT_TRUE(take->hasProperty("width"));  // no reserved names on a method object
    EXPECT_FALSE(take->hasMethodHandle("toString"));

    // f(a, b), f.call(this, a, b), f.apply(this, [a, b]) all reach the method with (a, b).
    EXPECT_EQ(pair->invoke("", {"a", "b"}).get<std::string>(), "ab");
    EXPECT_EQ(pair->invoke("call", {"this", "c", "d"}).get<std::string>(), "cd");
    EXPECT_EQ(pair->invoke("apply", {"this", VariantList{"e", "f"}}).get<std::string>(), "ef");
    auto pageArray = test::PageObject::array({"g", "h"});
    EXPECT_EQ(pair->invoke("apply", {"this", FB::JSObjectPtr(pageArray)}).get<std::string>(), "gh");
    EXPECT_EQ(owner->calls, 4);

    // With no argument list the method gets no arguments at all.
    EXPECT_EQ(scriptMessage([&] { pair->invoke("apply", {"this"}); }), "Error: Argument 2is not optional.");
    EXPECT_EQ(take->invoke("apply", {"this"}).get<std::string>(), "took");
    EXPECT_TRUE(owner->received.empty());
    EXPECT_EQ(take->invoke("call", {}).get<std::string>(), "took");
    EXPECT_TRUE(owner->received.empty());
    EXPECT_THROW(pair->invoke("apply", {"this", 5}), FB::bad_variant_cast);
}

// No member takes more than a handful of arguments; a page "array" claiming a huge length is refused
// from its length alone, before any element is read.
TEST(JSFunction, ApplyRefusesLongArgumentListsUnread) {
    auto owner = std::make_shared<Recorder>();
    FB::JSAPIPtr take = owner->methodHandle("take");
    auto claimed = test::PageObject::array({});
    for (int length : {1000, INT_MAX}) {
        claimed->props["length"] = length;
        claimed->reads = 0;
        EXPECT_THROW(take->invoke("apply", {"this", FB::JSObjectPtr(claimed)}), FB::invalid_arguments);
        EXPECT_EQ(claimed->reads, 1);
    }
    EXPECT_THROW(take->invoke("apply", {"this", VariantList(1000)}), FB::invalid_arguments);
    EXPECT_EQ(owner->calls, 0);
    // A list of a few dozen still goes through.
    owner->addMethod("count", [](const VariantList& args) { return variant(static_cast<int>(args.size())); });
    EXPECT_EQ(owner->methodHandle("count")->invoke("apply", {"this", VariantList(32, variant(1))}).get<int>(),
              32);
}

TEST(JSFunction, RunsUnderItsOwnZoneAndOutlivesNoOwner) {
    auto owner = std::make_shared<Recorder>();
    FB::JSAPIPtr admin;
    {
        FB::ScopedZone zone(*owner, 3);
        admin = owner->methodHandle("admin");
    }
    EXPECT_FALSE(owner->hasMethod("admin"));
    EXPECT_EQ(admin->invoke("", {}).get<std::string>(), "zone 3");
    EXPECT_EQ(owner->currentZone(), 0);  // popped again

    // The zone is popped also when the call fails.
    FB::JSAPIPtr pair = owner->methodHandle("pair");
    EXPECT_THROW(pair->invoke("", {}), FB::invalid_arguments);
    EXPECT_EQ(owner->currentZone(), 0);

    owner.reset();
    EXPECT_EQ(scriptMessage([&] { pair->invoke("", {"a", "b"}); }), "Invalid JSAPI object");
    EXPECT_EQ(scriptMessage([&] { pair->invoke("call", {}); }), "Invalid JSAPI object");
    EXPECT_EQ(pair->invoke("toString", {}).get<std::string>(), "pair()");
}
