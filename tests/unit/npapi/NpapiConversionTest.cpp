// The browser host's value conversions, row by row in both directions, and identifier text.
#include <cstring>

#include "AdapterTest.h"

using namespace FB;
using namespace FB::Npapi;
using namespace FB::Npapi::testing;
using ::testing::ElementsAre;

namespace {

class Conversion : public AdapterTest {
  protected:
    // toNPVariant of value, kept by the test as the page would keep it.
    PageValue out(const variant& value) { return expose(value); }
};

TEST_F(Conversion, SmallIntegersBecomeInt32) {
    EXPECT_EQ(out(variant('A')), PageValue(65));
    EXPECT_EQ(out(variant(static_cast<unsigned char>(200))), PageValue(200));
    EXPECT_EQ(out(variant(static_cast<short>(-3))), PageValue(-3));
    EXPECT_EQ(out(variant(static_cast<unsigned short>(65535))), PageValue(65535));
    EXPECT_EQ(out(variant(-7)), PageValue(-7));
    EXPECT_EQ(out(variant(5L)), PageValue(5));
}

TEST_F(Conversion, UnsignedAndWideIntegersAndTextBecomeBrowserStrings) {
    EXPECT_EQ(out(variant(5U)), PageValue("5"));
    EXPECT_EQ(out(variant(4000000000UL)), PageValue("4000000000"));
    EXPECT_EQ(out(variant(-9000000000LL)), PageValue("-9000000000"));
    EXPECT_EQ(out(variant(18446744073709551615ULL)), PageValue("18446744073709551615"));
    EXPECT_EQ(out(variant(std::string("plain"))), PageValue("plain"));
    EXPECT_EQ(out(variant(std::wstring(L"M\u00e4nnik"))), PageValue("M\xc3\xa4nnik"));

    // The text is in browser memory with its terminating zero; the length leaves the zero out.
    NPVariant text = host->toNPVariant(variant(std::string("abc")));
    ASSERT_EQ(text.type, NPVariantType_String);
    EXPECT_EQ(text.value.stringValue.UTF8Length, 3u);
    EXPECT_EQ(text.value.stringValue.UTF8Characters[3], '\0');
    EXPECT_EQ(browser.outstandingAllocations(), 1u);
    browser.releaseVariant(&text);
}

TEST_F(Conversion, FloatsBoolsNullAndEmpty) {
    EXPECT_EQ(out(variant(0.5f)), PageValue(0.5));
    EXPECT_EQ(out(variant(-2.25)), PageValue(-2.25));
    EXPECT_EQ(out(variant(true)), PageValue(true));
    EXPECT_EQ(out(variant(static_cast<const char*>(nullptr))), PageValue(nullptr));
    EXPECT_EQ(out(variant()), PageValue());
}

TEST_F(Conversion, TypesWithoutConverterLeaveTheOutputUntouched) {
    NPVariant value;
    INT32_TO_NPVARIANT(42, value);
    host->toNPVariant(variant(std::vector<int>{1, 2}), value);
    EXPECT_EQ(value.type, NPVariantType_Int32);
    EXPECT_EQ(value.value.intValue, 42);
}

TEST_F(Conversion, ListsBecomePageArraysThroughPush) {
    PageValue array = out(variant(VariantList{variant(1), variant("two"), variant(VariantList{variant(3)})}));
    ASSERT_TRUE(array.isObject());
    auto elements = browser.arrayElements(array.asObject());
    ASSERT_TRUE(elements.has_value());
    ASSERT_EQ(elements->size(), 3u);
    EXPECT_EQ((*elements)[0], PageValue(1));
    EXPECT_EQ((*elements)[1], PageValue("two"));
    ASSERT_TRUE((*elements)[2].isObject());
    EXPECT_THAT(*browser.arrayElements((*elements)[2].asObject()), ElementsAre(PageValue(3)));
    // The page holds the only reference.
    EXPECT_EQ(browser.refCount(array.asObject()), 1);

    PageValue empty = out(variant(VariantList{}));
    ASSERT_TRUE(empty.isObject());
    EXPECT_TRUE(browser.arrayElements(empty.asObject())->empty());
}

TEST_F(Conversion, MapsBecomePageObjectsSetInKeyOrder) {
    PageValue object = out(variant(VariantMap{{"b", variant(1)}, {"a", variant(2)}}));
    ASSERT_TRUE(object.isObject());
    EXPECT_THAT(browser.propertyNames(object.asObject()), ElementsAre("a", "b"));
    EXPECT_EQ(browser.getProperty(object.asObject(), "a").value, PageValue(2));
    EXPECT_EQ(browser.refCount(object.asObject()), 1);
}

TEST_F(Conversion, ListsAndMapsWithoutAPageWindowLeaveTheOutputUntouched) {
    auto bare = std::make_shared<NpapiBrowserHost>(module, npp);
    NPVariant value;
    VOID_TO_NPVARIANT(value);
    bare->toNPVariant(variant(VariantList{variant(1)}), value);
    EXPECT_EQ(value.type, NPVariantType_Void);
    bare->toNPVariant(variant(VariantMap{{"a", variant(1)}}), value);
    EXPECT_EQ(value.type, NPVariantType_Void);
}

TEST_F(Conversion, PluginObjectsAndReferences) {
    EXPECT_EQ(out(variant(JSAPIPtr())), PageValue(nullptr));

    auto api = std::make_shared<TestApi>();
    std::size_t retained = host->retainedCount();
    PageValue first = out(variant(JSAPIPtr(api)));
    EXPECT_EQ(host->retainedCount(), retained + 1);
    PageValue second = out(variant(JSAPIPtr(api)));
    EXPECT_EQ(first.asObject(), second.asObject());
    EXPECT_EQ(browser.refCount(first.asObject()), 2);
    // One retention per wrapper, not one more per read: a page reading the object in a loop must not
    // grow the host's list.
    EXPECT_EQ(host->retainedCount(), retained + 1);

    // A weak reference is not kept alive by the host, and an expired one is null.
    std::size_t before = host->retainedCount();
    PageValue weak = out(variant(JSAPIWeakPtr(api)));
    EXPECT_EQ(weak.asObject(), first.asObject());
    EXPECT_EQ(host->retainedCount(), before);
    JSAPIWeakPtr expired;
    {
        auto gone = std::make_shared<TestApi>();
        expired = gone;
    }
    EXPECT_EQ(out(variant(expired)), PageValue(nullptr));

    // A wrapper first made for a weak reference takes the retention at its first strong read and,
    // when the page lets go of it, gives back what it took and nothing more.
    const std::size_t base = host->retainedCount();
    {
        auto other = std::make_shared<TestApi>();
        PageValue fromWeak = out(variant(JSAPIWeakPtr(other)));
        EXPECT_EQ(host->retainedCount(), base);
        PageValue fromStrong = out(variant(JSAPIPtr(other)));
        EXPECT_EQ(host->retainedCount(), base + 1);
    }
    EXPECT_EQ(host->retainedCount(), base);
}

TEST_F(Conversion, BrowserObjectsGoBackAsTheirOwnNPObject) {
    PageValue array = browser.newArray({1});
    variant in = host->toVariant(array.borrow());
    ASSERT_TRUE(in.is_of_type<JSObjectPtr>());
    auto wrapped = std::dynamic_pointer_cast<NPObjectAPI>(in.get<JSObjectPtr>());
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->getNPObject(), array.asObject());
    EXPECT_EQ(browser.refCount(array.asObject()), 2);

    PageValue back = out(in);
    EXPECT_EQ(back.asObject(), array.asObject());
    EXPECT_EQ(browser.refCount(array.asObject()), 3);
    // Held as a JSAPIPtr it goes back the same way.
    EXPECT_EQ(out(variant(JSAPIPtr(wrapped))).asObject(), array.asObject());
}

TEST_F(Conversion, BrowserValuesBecomeVariants) {
    NPVariant value;
    VOID_TO_NPVARIANT(value);
    EXPECT_TRUE(host->toVariant(value).is_empty());
    NULL_TO_NPVARIANT(value);
    EXPECT_TRUE(host->toVariant(value).is_null());
    BOOLEAN_TO_NPVARIANT(true, value);
    EXPECT_EQ(host->toVariant(value).get<bool>(), true);
    INT32_TO_NPVARIANT(-4, value);
    EXPECT_EQ(host->toVariant(value).get<int>(), -4);
    DOUBLE_TO_NPVARIANT(1.5, value);
    EXPECT_EQ(host->toVariant(value).get<double>(), 1.5);

    // Exactly UTF8Length bytes, no terminator needed; length 0 is the empty text.
    const char letters[] = {'a', 'b', 'c'};
    STRINGN_TO_NPVARIANT(letters, 2, value);
    EXPECT_EQ(host->toVariant(value).get<std::string>(), "ab");
    STRINGN_TO_NPVARIANT(letters, 0, value);
    EXPECT_EQ(host->toVariant(value).get<std::string>(), "");
    STRINGN_TO_NPVARIANT(nullptr, 0, value);
    EXPECT_EQ(host->toVariant(value).get<std::string>(), "");

    const int unknownType = 99;
    std::memcpy(&value.type, &unknownType, sizeof(unknownType));
    EXPECT_TRUE(host->toVariant(value).is_empty());
}

TEST_F(Conversion, IdentifierTextOfNamesAndIntegers) {
    EXPECT_EQ(host->identifierText(browser.stringIdentifier("sign")), "sign");
    EXPECT_EQ(host->identifierText(browser.intIdentifier(4)), "");
    EXPECT_EQ(browser.outstandingAllocations(), 0u);
}

}  // namespace
