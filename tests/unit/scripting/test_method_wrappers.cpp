#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripting/method_wrappers.h"

using FB::variant;
using FB::VariantList;

namespace {

struct Target {
    void takeChar(char c) { chars.push_back(c); }
    std::string zero() {
        ++zeroCalls;
        return "zero";
    }
    void nothing() { ++zeroCalls; }
    std::string concat(const std::string& a, const std::string& b) {
        ++twoCalls;
        return a + "|" + b;
    }
    void setPair(const std::string& name, const variant& value) {
        lastName = name;
        lastValue = value;
    }
    variant anyValue(const variant& v) { return v; }
    std::string constMethod(int i) const { return std::to_string(i * 2); }
    int counter() const { return count; }
    bool flag() const { return count > 0; }
    void setCounter(int c) { count = c; }

    std::vector<char> chars;
    int zeroCalls = 0;
    int twoCalls = 0;
    std::string lastName;
    variant lastValue = 123;
    int count = 0;
};

template <class F>
std::string argumentError(F&& f) {
    try {
        f();
    } catch (const FB::invalid_arguments& e) {
        return e.what();
    }
    return "<no invalid_arguments>";
}

}  // namespace

TEST(MethodWrappers, OneCharacterArgument) {
    Target t;
    auto call = FB::bindMethod(&t, &Target::takeChar);
    EXPECT_TRUE(call({"5"}).is_empty());
    call({"xyz"});
    call({53});
    call({" q"});
    EXPECT_THAT(t.chars, testing::ElementsAre('5', 'x', '5', 'q'));

    const std::string overflow = argumentError([&] { call({300}); });
    EXPECT_EQ(overflow, "Invalid argument conversion from int to char at index 1");
    EXPECT_EQ(argumentError([&] { call({"a", "b"}); }), "Too many arguments, expected 1.");
    EXPECT_EQ(argumentError([&] { call({}); }), "Error: Argument 1is not optional.");
    EXPECT_EQ(t.chars.size(), 4u);  // no failure reached the member function
}

TEST(MethodWrappers, ZeroArgumentsIgnoresWhateverIsPassed) {
    Target t;
    auto call = FB::bindMethod(&t, &Target::zero);
    EXPECT_EQ(call({1, "two", 3.0}).get<std::string>(), "zero");
    EXPECT_TRUE(FB::bindMethod(&t, &Target::nothing)({}).is_empty());
    EXPECT_EQ(t.zeroCalls, 2);
}

TEST(MethodWrappers, TwoTextArguments) {
    Target t;
    auto call = FB::bindMethod(&t, &Target::concat);
    EXPECT_EQ(call({1, 2.5}).get<std::string>(), "1|2.5");
    EXPECT_EQ(call({true, "x"}).get<std::string>(), "true|x");
    // With too few arguments the highest missing position is named.
    EXPECT_EQ(argumentError([&] { call({"only"}); }), "Error: Argument 2is not optional.");
    EXPECT_EQ(argumentError([&] { call({}); }), "Error: Argument 2is not optional.");
    EXPECT_EQ(argumentError([&] { call({"a", "b", "c"}); }), "Too many arguments, expected 2.");
    const std::string second = argumentError([&] { call({"a", VariantList{}}); });
    EXPECT_THAT(second, testing::StartsWith("Invalid argument conversion from std::vector<FB::variant"));
    EXPECT_THAT(second, testing::EndsWith(" at index 2"));
    const std::string first = argumentError([&] { call({variant(), "b"}); });
    EXPECT_EQ(first,
              "Invalid argument conversion from FB::variant_detail::empty to "
              "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > at index 1");
    EXPECT_EQ(t.twoCalls, 2);
}

TEST(MethodWrappers, TrailingVariantIsOptional) {
    Target t;
    auto pair = FB::bindMethod(&t, &Target::setPair);
    pair({"name"});
    EXPECT_EQ(t.lastName, "name");
    EXPECT_TRUE(t.lastValue.is_empty());
    pair({"n2", FB::VariantList{1}});
    EXPECT_EQ(t.lastValue.get<FB::VariantList>().size(), 1u);
    EXPECT_EQ(argumentError([&] { pair({}); }), "Error: Argument 1is not optional.");

    auto any = FB::bindMethod(&t, &Target::anyValue);
    EXPECT_TRUE(any({}).is_empty());
    EXPECT_EQ(any({2.5}).get<double>(), 2.5);  // a variant result passes through unchanged
    EXPECT_EQ(argumentError([&] { any({1, 2}); }), "Too many arguments, expected 1.");

    EXPECT_EQ(FB::bindMethod(&t, &Target::constMethod)({"21"}).get<std::string>(), "42");
}

TEST(MethodWrappers, PropertyRecords) {
    Target t;
    auto readOnly = FB::bindProperty(&t, &Target::counter);
    readOnly.set(99);
    EXPECT_EQ(readOnly.get().get<int>(), 0);
    EXPECT_EQ(FB::bindProperty(&t, &Target::flag).get().type(), typeid(bool));

    auto readWrite = FB::bindProperty(&t, &Target::counter, &Target::setCounter);
    readWrite.set("12");
    EXPECT_EQ(t.count, 12);
    EXPECT_EQ(readWrite.get().get<int>(), 12);
    EXPECT_THROW(readWrite.set("twelve"), FB::bad_variant_cast);
    EXPECT_EQ(t.count, 12);
}
