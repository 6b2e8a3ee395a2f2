#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <utf8.h>

#include "doubles.h"
#include "scripting/variant.h"

using FB::bad_variant_cast;
using FB::variant;

namespace {

// Runs `f` and returns the bad_variant_cast it raised, failing the test when it raised none.
template <class F>
bad_variant_cast castFailure(F&& f) {
    try {
        f();
    } catch (const bad_variant_cast& e) {
        return e;
    }
    ADD_FAILURE() << "no bad_variant_cast";
    return bad_variant_cast(typeid(void), typeid(void));
}

}  // namespace

TEST(Variant, EmptyNullAndExactRetrieval) {
    variant v;
    EXPECT_TRUE(v.is_empty());
    EXPECT_FALSE(v.is_null());
    EXPECT_EQ(v.type(), typeid(FB::variant_detail::empty));

    variant n = FB::variant_detail::null{};
    EXPECT_TRUE(n.is_null());
    EXPECT_TRUE(variant(static_cast<const char*>(nullptr)).is_null());

    variant i = 7;
    EXPECT_EQ(i.get<int>(), 7);
    auto e = castFailure([&] { (void)i.get<long>(); });
    EXPECT_STREQ(e.what(), "bad cast");
    EXPECT_EQ(e.from(), "int");
    EXPECT_EQ(e.to(), "long");
    EXPECT_THROW((void)i.get<long>(), std::bad_cast);

    variant text = "abc";
    EXPECT_EQ(text.type(), typeid(std::string));
    i.reset();
    EXPECT_TRUE(i.is_empty());
}

TEST(Variant, PointersToDerivedScriptObjectsAreStoredAsTheBaseTypes) {
    auto page = std::make_shared<test::PageObject>();
    variant v = page;
    EXPECT_EQ(v.type(), typeid(FB::JSObjectPtr));
    EXPECT_EQ(v.get<FB::JSObjectPtr>(), page);
}

TEST(Variant, CopyAndAssignKeepValuesIndependent) {
    variant a = std::string("hello");
    variant b = a;
    b = std::string("world");
    EXPECT_EQ(a.get<std::string>(), "hello");
    EXPECT_EQ(b.get<std::string>(), "world");

    // Different stored types: the old value goes, the new one is cloned in.
    variant d = 2.5;
    d = a;
    EXPECT_EQ(d.get<std::string>(), "hello");
    d = 3;
    variant e = 4;
    d = e;
    EXPECT_EQ(d.get<int>(), 4);
    e = 5;
    EXPECT_EQ(d.get<int>(), 4);

    FB::VariantList list{1, "two", 3.0};
    variant l = list;
    variant l2 = l;
    list.clear();
    EXPECT_EQ(l2.get<FB::VariantList>().size(), 3u);

    variant moved = std::move(l2);
    EXPECT_EQ(moved.get<FB::VariantList>().size(), 3u);
    EXPECT_TRUE(l2.is_empty());  // NOLINT: a moved-from variant is empty by design
    d = d;
    EXPECT_EQ(d.get<int>(), 4);
}

TEST(Variant, ConvertTextToNumbers) {
    EXPECT_EQ(variant("  42xyz").convert<int>(), 42);
    EXPECT_EQ(variant(" 7").convert<int>(), 7);
    EXPECT_EQ(variant("-15").convert<long>(), -15);
    EXPECT_DOUBLE_EQ(variant("2.5e2").convert<double>(), 250.0);
    EXPECT_EQ(variant(std::wstring(L" 12abc")).convert<int>(), 12);
    for (const char* bad : {"x42", "", "   ", "abc", "70000"}) {
        auto e = castFailure([&] { (void)variant(bad).convert<short>(); });
        EXPECT_EQ(e.to(), "short") << bad;
        EXPECT_NE(e.from().find("basic_string"), std::string::npos) << e.from();
    }
    // A negative text does not wrap around into an unsigned number.
    EXPECT_THROW((void)variant("-1").convert<unsigned int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(" -7").convert<unsigned long>(), bad_variant_cast);
    EXPECT_EQ(variant("-0").convert<unsigned int>(), 0u);
    EXPECT_EQ(variant("4294967295").convert<unsigned int>(), 4294967295u);
    EXPECT_THROW((void)variant("4294967296").convert<unsigned int>(), bad_variant_cast);
    // Characters: the first non-blank character of the text, or the number's code.
    EXPECT_EQ(variant("   7").convert<char>(), '7');
    EXPECT_EQ(variant("xyz").convert<char>(), 'x');
    EXPECT_EQ(variant(53).convert<char>(), '5');
    EXPECT_THROW((void)variant(300).convert<char>(), bad_variant_cast);
    EXPECT_THROW((void)variant("").convert<char>(), bad_variant_cast);
}

TEST(Variant, ConvertNumbersAcrossRanges) {
    EXPECT_EQ(variant(3.99).convert<int>(), 3);
    EXPECT_EQ(variant(-3.99).convert<int>(), -3);
    EXPECT_EQ(variant(-2147483648.9).convert<int>(), INT_MIN);
    EXPECT_EQ(variant(2147483647.9).convert<int>(), INT_MAX);
    EXPECT_THROW((void)variant(2147483648.0).convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(-2147483649.0).convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(4294967295UL).convert<int>(), bad_variant_cast);
    EXPECT_EQ(variant(4294967295UL).convert<unsigned int>(), 4294967295u);
    EXPECT_THROW((void)variant(-1).convert<unsigned long>(), bad_variant_cast);
    EXPECT_THROW((void)variant(static_cast<unsigned char>(200)).convert<char>(), bad_variant_cast);
    EXPECT_EQ(variant(static_cast<short>(-5)).convert<long long>(), -5);
    EXPECT_EQ(variant(ULLONG_MAX).convert<unsigned long long>(), ULLONG_MAX);
    EXPECT_THROW((void)variant(ULLONG_MAX).convert<long long>(), bad_variant_cast);
    EXPECT_FLOAT_EQ(variant(0.5).convert<float>(), 0.5f);
    EXPECT_THROW((void)variant(1e300).convert<float>(), bad_variant_cast);
    EXPECT_DOUBLE_EQ(variant(7).convert<double>(), 7.0);
    EXPECT_EQ(variant(true).convert<int>(), 1);
    EXPECT_EQ(variant(false).convert<double>(), 0.0);
    // NaN and infinities have no integer value.
    EXPECT_THROW((void)variant(std::nan("")).convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(std::numeric_limits<double>::infinity()).convert<long>(), bad_variant_cast);
    auto e = castFailure([] { (void)variant(2147483648.0).convert<int>(); });
    EXPECT_EQ(e.from(), "double");
    EXPECT_EQ(e.to(), "int");
    // Nothing that is not a number or text converts.
    EXPECT_THROW((void)variant().convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(FB::variant_detail::null{}).convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(FB::VariantList{}).convert<int>(), bad_variant_cast);
}

// Every integer type takes its whole range from float and double: the lowest value (a power of two,
// exact in both) converts, and the first value past the top, 2 to the number of value bits, does not.
template <class T, class S>
void checkFloatingLimits() {
    SCOPED_TRACE(std::string(typeid(S).name()) + " to " + typeid(T).name());
    constexpr T low = std::numeric_limits<T>::min();
    EXPECT_EQ(variant(static_cast<S>(low)).convert<T>(), low);
    EXPECT_THROW((void)variant(std::ldexp(S(1), std::numeric_limits<T>::digits)).convert<T>(),
                 bad_variant_cast);
}

template <class... T>
void checkFloatingLimitsOf() {
    (checkFloatingLimits<T, float>(), ...);
    (checkFloatingLimits<T, double>(), ...);
}

TEST(Variant, FloatingValuesAtTheIntegerLimits) {
    checkFloatingLimitsOf<char, short, unsigned short, int, unsigned int, long, unsigned long, long long,
                          unsigned long long>();
    // Just inside and just outside the open interval (min - 1, max + 1), where float and double steps
    // are wider than 1.
    EXPECT_EQ(variant(-0x1p31f).convert<int>(), INT_MIN);
    EXPECT_THROW((void)variant(std::nextafter(-0x1p31f, -INFINITY)).convert<int>(), bad_variant_cast);
    EXPECT_THROW((void)variant(std::nextafter(-0x1p63, -INFINITY)).convert<long long>(), bad_variant_cast);
    EXPECT_EQ(variant(std::nextafter(0x1p63, 0.0)).convert<long long>(), 0x7FFFFFFFFFFFFC00LL);
    EXPECT_EQ(variant(std::nextafter(0x1p64f, 0.0f)).convert<unsigned long long>(), 0xFFFFFF0000000000ULL);
    EXPECT_EQ(variant(-0.5f).convert<unsigned int>(), 0u);
    EXPECT_THROW((void)variant(-1.0).convert<unsigned int>(), bad_variant_cast);
}

TEST(Variant, ConvertToBool) {
    for (const char* yes : {"YES", "T", "1", "y", "True", "yes"}) {
        EXPECT_TRUE(variant(yes).convert<bool>()) << yes;
    }
    for (const char* no : {"0", "no", "", "false", "yes ", " 1", "2"}) {
        EXPECT_FALSE(variant(no).convert<bool>()) << no;
    }
    EXPECT_TRUE(variant(std::wstring(L"TRUE")).convert<bool>());
    EXPECT_FALSE(variant(std::wstring(1, static_cast<wchar_t>(0x0130))).convert<bool>());
    EXPECT_FALSE(variant(0.0).convert<bool>());
    EXPECT_FALSE(variant(0.5).convert<bool>());  // through long, which truncates to 0
    EXPECT_TRUE(variant(-2).convert<bool>());
    EXPECT_TRUE(variant(true).convert<bool>());
    auto e = castFailure([] { (void)variant().convert<bool>(); });
    EXPECT_EQ(e.to(), "bool");
    EXPECT_THROW((void)variant(3e20).convert<bool>(), bad_variant_cast);
}

TEST(Variant, ConvertToText) {
    EXPECT_EQ(variant(false).convert<std::string>(), "false");
    EXPECT_EQ(variant(2.5).convert<std::string>(), "2.5");
    EXPECT_EQ(variant(0.1).convert<std::string>(), "0.1");
    EXPECT_EQ(variant(3.14159265).convert<std::string>(), "3.14159");
    EXPECT_EQ(variant('A').convert<std::string>(), "A");
    EXPECT_EQ(variant(123LL).convert<std::string>(), "123");
    EXPECT_EQ(variant(-4).convert<std::string>(), "-4");
    EXPECT_EQ(variant(std::wstring{0x00E9}).convert<std::string>(), "\xC3\xA9");
    EXPECT_THROW((void)variant().convert<std::string>(), bad_variant_cast);
    EXPECT_THROW((void)variant(FB::VariantMap{}).convert<std::string>(), bad_variant_cast);

    EXPECT_EQ(variant(true).convert<std::wstring>(), L"true");
    EXPECT_EQ(variant(2.5).convert<std::wstring>(), L"2.5");
    EXPECT_EQ(variant(42UL).convert<std::wstring>(), L"42");
    EXPECT_EQ(variant(std::string("\xC3\xA9")).convert<std::wstring>(), std::wstring{0x00E9});
    EXPECT_EQ(variant(static_cast<char>(0xE9)).convert<std::wstring>(), std::wstring{0x00E9});
    // 64-bit integers have a text form but no wide one.
    auto e = castFailure([] { (void)variant(123LL).convert<std::wstring>(); });
    EXPECT_EQ(e.from(), "long long");
    // Malformed text in between passes its own exception through.
    EXPECT_THROW((void)variant(std::string("\xC3")).convert<std::wstring>(), utf8::not_enough_room);
    EXPECT_THROW((void)variant(std::wstring{0xDC00}).convert<std::string>(), utf8::invalid_utf16);
    EXPECT_THROW((void)variant(std::wstring{0xDC00}).convert<int>(), utf8::invalid_utf16);
}

TEST(Variant, OrderingWithinAndAcrossTypes) {
    EXPECT_TRUE(variant(1) < variant(2));
    EXPECT_FALSE(variant(2) < variant(1));
    EXPECT_TRUE(variant("a") < variant("b"));
    EXPECT_FALSE(variant() < variant());
    // Different types order by their readable names: "double" before "int".
    EXPECT_TRUE(variant(9.0) < variant(1));
    EXPECT_FALSE(variant(1) < variant(9.0));
    FB::VariantList shorter{1, 2};
    FB::VariantList longer{1, 2, 0};
    EXPECT_TRUE(variant(shorter) < variant(longer));
    FB::VariantMap m1{{"a", 1}};
    FB::VariantMap m2{{"a", 2}};
    EXPECT_TRUE(variant(m1) < variant(m2));
    EXPECT_FALSE(variant(m2) < variant(m1));
    auto p1 = std::make_shared<test::PageObject>();
    auto p2 = std::make_shared<test::PageObject>();
    const bool ordered = variant(p1) < variant(p2);
    EXPECT_NE(ordered, variant(p2) < variant(p1));
    EXPECT_FALSE(variant(p1) < variant(FB::JSObjectPtr(p1)));
}

TEST(Variant, ConvertToObjectsListsAndMaps) {
    EXPECT_EQ(variant().convert<FB::JSObjectPtr>(), nullptr);
    EXPECT_EQ(variant(FB::variant_detail::null{}).convert<FB::JSObjectPtr>(), nullptr);
    EXPECT_EQ(variant(FB::JSAPIPtr()).convert<FB::JSObjectPtr>(), nullptr);

    auto page = std::make_shared<test::PageObject>();
    EXPECT_EQ(variant(page).convert<FB::JSObjectPtr>(), page);
    EXPECT_EQ(variant(FB::JSAPIPtr(page)).convert<FB::JSObjectPtr>(), page);
    EXPECT_EQ(variant(FB::JSAPIWeakPtr(page)).convert<FB::JSObjectPtr>(), page);
    EXPECT_EQ(variant(page).convert<FB::JSAPIPtr>(), page);

    // The browser's wrapper of one of our own objects unwraps to it when it is a page object.
    auto inner = std::make_shared<test::PageObject>();
    auto wrapper = std::make_shared<test::PageObject>();
    wrapper->wrapped = inner;
    EXPECT_EQ(variant(FB::JSAPIPtr(wrapper)).convert<FB::JSObjectPtr>(), inner);

    auto e = castFailure([] { (void)variant(5).convert<FB::JSObjectPtr>(); });
    EXPECT_EQ(e.to(), "std::shared_ptr<FB::JSAPI>");

    auto array = test::PageObject::array({"a", 2, 3.5});
    auto list = variant(array).convert<FB::VariantList>();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].get<std::string>(), "a");
    EXPECT_EQ(list[1].get<int>(), 2);
    EXPECT_EQ(list[2].get<double>(), 3.5);

    array->props["length"] = std::string("2");
    EXPECT_EQ(variant(FB::JSAPIPtr(array)).convert<FB::VariantList>().size(), 2u);

    auto noList = castFailure([] { (void)variant(5).convert<FB::VariantList>(); });
    EXPECT_EQ(noList.to(), "std::shared_ptr<FB::JSObject>");
    EXPECT_THROW((void)variant().convert<FB::VariantList>(), bad_variant_cast);
    EXPECT_THROW((void)variant(FB::JSObjectPtr()).convert<FB::VariantMap>(), bad_variant_cast);

    auto object = std::make_shared<test::PageObject>();
    object->define("z", 1);
    object->define("a", "x");
    auto map = variant(object).convert<FB::VariantMap>();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map["z"].get<int>(), 1);
    EXPECT_EQ(map["a"].get<std::string>(), "x");

    FB::VariantMap original{{"k", 1}};
    EXPECT_EQ(variant(original).convert<FB::VariantMap>().size(), 1u);
}
