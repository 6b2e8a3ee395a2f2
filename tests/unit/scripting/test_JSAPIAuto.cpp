#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "doubles.h"
#include "scripting/JSAPIAuto.h"
#include "scripting/JSFunction.h"

using FB::variant;
using FB::VariantList;
using testing::ElementsAre;

namespace {

constexpr FB::SecurityZone Privileged = 2;

class Api : public FB::JSAPIAuto {
  public:
    Api() {
        addMethod("echo", FB::bindMethod(this, &Api::echo));
        addMethod("concat", FB::bindMethod(this, &Api::concat));
        addMethod("convertInside", FB::bindMethod(this, &Api::convertInside));
        addMethod("fail", FB::bindMethod(this, &Api::fail));
        addMethod("selfRemove", FB::bindMethod(this, &Api::selfRemove));
        addProperty("count", FB::bindProperty(this, &Api::count));
        addProperty("name", FB::bindProperty(this, &Api::name, &Api::setName));
        addProperty("level", FB::bindProperty(this, &Api::level, &Api::setLevel));
        FB::ScopedZone zone(*this, Privileged);
        addMethod("secret", FB::bindMethod(this, &Api::secret));
    }

    variant echo(const variant& v) { return v; }
    std::string concat(const std::string& a, const std::string& b) { return a + b; }
    int convertInside(const variant& v) { return v.convert<int>(); }
    void fail() { throw FB::script_error("failed on purpose"); }
    std::string selfRemove() {
        removeMethod("selfRemove");
        return "still running";
    }
    std::string secret() { return "hidden"; }
    int count() const { return 3; }
    std::string name() const { return name_; }
    void setName(const std::string& n) { name_ = n; }
    long level() const { return level_; }
    void setLevel(long l) { level_ = l; }

    std::string name_ = "initial";
    long level_ = 0;
};

std::vector<std::string> members(FB::JSAPI& api) {
    std::vector<std::string> names;
    api.listMemberNames(names);
    return names;
}

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

TEST(JSAPIAuto, FreshObjectEnumeratesTheBuiltInsInByteOrder) {
    auto plain = std::make_shared<FB::JSAPIAuto>();
    EXPECT_THAT(members(*plain), ElementsAre("getAttribute", "setAttribute", "toString", "valid", "value"));
    EXPECT_EQ(plain->countMembers(), 5u);
    EXPECT_EQ(plain->invoke("toString", {}).get<std::string>(), "<JSAPI-Auto Javascript Object>");
    EXPECT_EQ(plain->getProperty("value").get<std::string>(), "<JSAPI-Auto Javascript Object>");
    EXPECT_EQ(plain->getProperty("valid").get<bool>(), true);

    auto api = std::make_shared<Api>();
    EXPECT_THAT(members(*api),
                ElementsAre("concat", "convertInside", "count", "echo", "fail", "getAttribute", "level",
                            "name", "selfRemove", "setAttribute", "toString", "valid", "value"));
    std::vector<std::wstring> wide;
    api->listMemberNames(&wide);
    EXPECT_EQ(wide.front(), L"concat");
    EXPECT_EQ(wide.size(), api->countMembers());
}

TEST(JSAPIAuto, InvokesRegisteredMethodsByUtf8AndWideNames) {
    auto api = std::make_shared<Api>();
    EXPECT_TRUE(api->hasMethod("concat"));
    EXPECT_TRUE(api->hasMethod(std::wstring(L"concat")));
    EXPECT_FALSE(api->hasMethod("count"));
    EXPECT_EQ(api->invoke("concat", {"a", "b"}).get<std::string>(), "ab");
    EXPECT_EQ(api->invoke(std::wstring(L"echo"), {2.5}).get<double>(), 2.5);
    EXPECT_EQ(scriptMessage([&] { api->invoke("nothing", {}); }),
              "The specified member does not exist: nothing");
    EXPECT_EQ(scriptMessage([&] { api->construct({}); }), "The specified member does not exist: constructor");
    // Errors of the method itself pass through; a conversion failure inside it becomes an argument error.
    EXPECT_EQ(scriptMessage([&] { api->invoke("fail", {}); }), "failed on purpose");
    try {
        api->invoke("convertInside", {variant(FB::VariantList{})});
        FAIL();
    } catch (const FB::invalid_arguments& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not convert from std::vector<FB::variant, std::allocator<FB::variant> > to int");
    }
    // A method may unregister itself while it runs.
    EXPECT_EQ(api->invoke("selfRemove", {}).get<std::string>(), "still running");
    EXPECT_FALSE(api->hasMethod("selfRemove"));
}

TEST(JSAPIAuto, DynamicAttributesAndReservedNames) {
    auto api = std::make_shared<Api>();
    EXPECT_TRUE(api->hasProperty("unknown"));
    EXPECT_FALSE(api->hasProperty("width"));
    EXPECT_FALSE(api->hasProperty("constructor"));
    EXPECT_TRUE(api->hasProperty("echo"));  // a method object can be read
    EXPECT_TRUE(api->hasProperty("count"));
    EXPECT_TRUE(api->getProperty("unknown").is_empty());
    EXPECT_TRUE(api->getProperty("width").is_empty());
    EXPECT_THAT(members(*api), testing::Not(testing::Contains("width")));

    api->setProperty("color", "red");
    EXPECT_THAT(members(*api), testing::Contains("color"));
    EXPECT_EQ(api->getProperty("color").get<std::string>(), "red");
    EXPECT_EQ(api->invoke("getAttribute", {"color"}).get<std::string>(), "red");
    EXPECT_TRUE(api->invoke("getAttribute", {"nothing"}).is_empty());
    api->removeProperty("color");
    EXPECT_THAT(members(*api), testing::Not(testing::Contains("color")));

    // "setAttribute" with only a name stores an empty value.
    api->invoke("setAttribute", {"flag"});
    EXPECT_THAT(members(*api), testing::Contains("flag"));
    EXPECT_TRUE(api->getAttribute("flag").is_empty());

    // Indexed access works on attributes named by the decimal index.
    EXPECT_TRUE(api->hasProperty(4));
    api->setProperty(4, 44);
    EXPECT_EQ(api->getProperty(4).get<int>(), 44);
    EXPECT_EQ(api->getAttribute("4").get<int>(), 44);
    api->removeProperty(4);
    EXPECT_TRUE(api->getProperty(4).is_empty());
    EXPECT_EQ(scriptMessage([&] { api->removeProperty(4); }), "The specified member does not exist: 4");
}

TEST(JSAPIAuto, WithoutDynamicAttributesUnknownNamesAreErrors) {
    auto api = std::make_shared<Api>();
    api->addAttribute("fixed", 1, true);
    api->addAttribute("open", 1, false);
    api->setAllowDynamicAttributes(false);
    EXPECT_FALSE(api->hasProperty("unknown"));
    EXPECT_FALSE(api->hasProperty(0));
    EXPECT_TRUE(api->hasProperty("fixed"));
    EXPECT_EQ(scriptMessage([&] { api->getProperty("unknown"); }),
              "The specified member does not exist: unknown");
    EXPECT_EQ(scriptMessage([&] { api->setProperty("unknown", 1); }),
              "The specified member does not exist: unknown");
    EXPECT_EQ(scriptMessage([&] { api->setProperty("fixed", 2); }),
              "The specified member does not exist: fixed");
    EXPECT_EQ(scriptMessage([&] { api->getProperty(7); }), "The specified member does not exist: 7");
    EXPECT_EQ(scriptMessage([&] { api->setProperty(7, 1); }), "The specified member does not exist: 7");
    api->setProperty("open", 2);
    EXPECT_EQ(api->getProperty("open").get<int>(), 2);
    EXPECT_EQ(api->getAttribute("fixed").get<int>(), 1);
}

TEST(JSAPIAuto, ReadOnlyPropertiesAndAttributes) {
    auto api = std::make_shared<Api>();
    // Read-only registered properties ignore writes without complaint.
    api->setProperty("valid", false);
    api->setProperty("value", "changed");
    api->setProperty("count", 99);
    EXPECT_EQ(api->getProperty("valid").get<bool>(), true);
    EXPECT_EQ(api->getProperty("value").get<std::string>(), "<JSAPI-Auto Javascript Object>");
    EXPECT_EQ(api->getProperty("count").get<int>(), 3);
    api->removeProperty("valid");  // removal of registered properties is off by default
    EXPECT_TRUE(api->hasProperty("valid"));
    EXPECT_EQ(api->getProperty("valid").get<bool>(), true);

    api->addAttribute("ro", "fixed", true);
    EXPECT_EQ(scriptMessage([&] { api->setAttribute("ro", 1); }), "Cannot set read-only property ro");
    EXPECT_EQ(scriptMessage([&] {
                  api->invoke("setAttribute", {"ro", 1});
              }),
              "Cannot set read-only property ro");
    EXPECT_EQ(scriptMessage([&] { api->removeAttribute("ro"); }), "Cannot remove read-only property ro");
    api->removeProperty("ro");  // a read-only attribute is kept
    EXPECT_EQ(api->getAttribute("ro").get<std::string>(), "fixed");
    // With dynamic attributes a property write replaces it and clears the read-only mark.
    api->setProperty("ro", "new");
    EXPECT_EQ(api->getAttribute("ro").get<std::string>(), "new");
    api->setAttribute("ro", "again");
    EXPECT_EQ(api->getAttribute("ro").get<std::string>(), "again");

    auto removable = std::make_shared<Api>();
    removable->setAllowRemoveProperties(true);
    removable->removeProperty("count");
    EXPECT_THAT(members(*removable), testing::Not(testing::Contains("count")));
}

TEST(JSAPIAuto, ReadWritePropertiesConvertTheValue) {
    auto api = std::make_shared<Api>();
    api->setProperty("name", 42);
    EXPECT_EQ(api->getProperty("name").get<std::string>(), "42");
    api->setProperty("level", "17 apples");
    EXPECT_EQ(api->getProperty("level").get<long>(), 17);
    try {
        api->setProperty("level", "apples");
        FAIL();
    } catch (const FB::invalid_arguments& e) {
        EXPECT_THAT(e.what(), testing::StartsWith("Could not convert from std::__cxx11::basic_string<char"));
        EXPECT_THAT(e.what(), testing::EndsWith(" to long"));
    }
    EXPECT_EQ(api->getProperty("level").get<long>(), 17);
}

TEST(JSAPIAuto, MembersOfAHigherZoneStayHiddenBelowIt) {
    auto api = std::make_shared<Api>();
    EXPECT_THAT(members(*api), testing::Not(testing::Contains("secret")));
    EXPECT_FALSE(api->hasMethod("secret"));
    EXPECT_FALSE(api->hasMethodHandle("secret"));
    EXPECT_EQ(scriptMessage([&] { api->invoke("secret", {}); }),
              "The specified member does not exist: secret");
    EXPECT_EQ(scriptMessage([&] { api->methodHandle("secret"); }),
              "The specified member does not exist: secret");
    EXPECT_TRUE(api->getProperty("secret").is_empty());
    EXPECT_EQ(api->countMembers(), members(*api).size());
    {
        FB::ScopedZone zone(*api, Privileged);
        EXPECT_EQ(api->currentZone(), Privileged);
        EXPECT_EQ(api->baseZone(), 0);
        EXPECT_THAT(members(*api), testing::Contains("secret"));
        EXPECT_EQ(api->invoke("secret", {}).get<std::string>(), "hidden");
        FB::ScopedZone higher(*api, Privileged + 1);
        EXPECT_TRUE(api->hasMethod("secret"));
    }
    EXPECT_EQ(api->currentZone(), 0);
    EXPECT_FALSE(api->hasMethod("secret"));
    // An unbalanced leave keeps the base zone.
    api->leaveZone();
    api->leaveZone();
    EXPECT_EQ(api->currentZone(), 0);
    api->setBaseZone(Privileged);
    EXPECT_TRUE(api->hasMethod("secret"));
}

TEST(JSAPIAuto, AttributesNamedLikeMembersDoNotMoveTheirZones) {
    auto api = std::make_shared<Api>();
    // A page writing a property named like a privileged method gains no access to the method.
    api->setProperty("secret", 1);
    EXPECT_FALSE(api->hasMethod("secret"));
    EXPECT_EQ(scriptMessage([&] { api->invoke("secret", {}); }),
              "The specified member does not exist: secret");
    // Removing an attribute named like a public method leaves the method callable.
    api->setAttribute("concat", "shadow");
    api->removeAttribute("concat");
    EXPECT_EQ(api->invoke("concat", {"a", "b"}).get<std::string>(), "ab");
    api->removeMethod("concat");
    EXPECT_THAT(members(*api), testing::Not(testing::Contains("concat")));
    // A read right after the removal finds nothing, and a member registered again is the new one.
    EXPECT_TRUE(api->memberValue("concat").is_empty());
    api->addProperty("concat", FB::bindProperty(api.get(), &Api::count));
    EXPECT_EQ(api->memberValue("concat").convert<int>(), 3);
    api->dropProperty("concat");
    EXPECT_TRUE(api->memberValue("concat").is_empty());
}

TEST(JSAPIAuto, MethodObjectsAreCachedPerNameAndZone) {
    auto api = std::make_shared<Api>();
    ASSERT_TRUE(api->hasMethodHandle("concat"));
    variant first = api->getProperty("concat");
    variant second = api->getProperty("concat");
    ASSERT_TRUE(first.is_of_type<FB::JSAPIPtr>());
    EXPECT_EQ(first.get<FB::JSAPIPtr>(), second.get<FB::JSAPIPtr>());
    EXPECT_EQ(first.get<FB::JSAPIPtr>(), api->methodHandle("concat"));
    FB::JSAPIPtr privileged;
    {
        FB::ScopedZone zone(*api, Privileged);
        privileged = api->methodHandle("concat");
    }
    EXPECT_NE(privileged, first.get<FB::JSAPIPtr>());
    EXPECT_EQ(first.get<FB::JSAPIPtr>()->invoke("toString", {}).get<std::string>(), "concat()");

    api->setAllowMethodObjects(false);
    EXPECT_FALSE(api->hasMethodHandle("concat"));
    EXPECT_TRUE(api->getProperty("concat").is_empty());
}

TEST(JSAPIAuto, InvalidatedObjectRefusesEverything) {
    auto api = std::make_shared<Api>();
    api->invalidate();
    EXPECT_FALSE(api->hasMethod("concat"));
    EXPECT_FALSE(api->hasMethodHandle("concat"));
    EXPECT_FALSE(api->hasProperty("count"));
    EXPECT_FALSE(api->hasProperty(1));
    const std::string gone = "This object is no longer valid";
    EXPECT_EQ(scriptMessage([&] { api->invoke("concat", {"a", "b"}); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->invoke("anything", {}); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->getProperty("count"); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->getProperty(0); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->setProperty("name", "x"); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->setProperty(0, "x"); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->removeProperty("name"); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->removeProperty(0); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->methodHandle("concat"); }), gone);
    EXPECT_EQ(scriptMessage([&] { api->construct({}); }), gone);
    EXPECT_THROW(api->invoke("anything", {}), FB::object_invalidated);
    // The tables themselves stay.
    EXPECT_THAT(members(*api), testing::Contains("concat"));
    EXPECT_EQ(api->name_, "initial");
}

TEST(JSAPI, BaseOperationsWithoutEventsRaiseNotImplemented) {
    auto page = std::make_shared<test::PageObject>();
    auto handler = std::make_shared<test::PageObject>();
    EXPECT_EQ(scriptMessage([&] { page->addEventHandler("onx", handler); }), "Not implemented");
    EXPECT_EQ(scriptMessage([&] { page->removeEventHandler(std::wstring(L"onx"), handler); }),
              "Not implemented");
    EXPECT_EQ(scriptMessage([&] { page->addEventInterface(handler); }), "Not implemented");
    EXPECT_FALSE(page->hasMethodHandle("x"));
    EXPECT_EQ(page->methodHandle("x"), nullptr);
    EXPECT_EQ(page->currentZone(), 0);
}
