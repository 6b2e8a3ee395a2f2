#include <gtest/gtest.h>

#include "PageModel.h"
#include "dom/Document.h"
#include "dom/Element.h"
#include "dom/Node.h"
#include "dom/Window.h"
#include "scripting/script_error.h"

namespace {

using namespace FB;
using testpage::makeElement;
using testpage::Page;
using testpage::PageObject;
using testpage::PageObjectPtr;

class DomWrapperTest : public ::testing::Test {
  protected:
    DomWrapperTest() {
        // body > div#first(span, span#inner) , div#second, p
        first = makeElement("div", "first");
        second = makeElement("div", "second");
        testpage::appendChild(page.body, first);
        testpage::appendChild(first, makeElement("span"));
        inner = makeElement("span", "inner");
        testpage::appendChild(first, inner);
        testpage::appendChild(page.body, second);
        testpage::appendChild(page.body, makeElement("p"));
        window = DOM::Window::create(page.window);
        document = window->documentOf();
    }

    Page page;
    PageObjectPtr first, second, inner;
    DOM::WindowPtr window;
    DOM::DocumentPtr document;
};

TEST_F(DomWrapperTest, FindByIdGivesTheElementOrNull) {
    ASSERT_TRUE(document);
    DOM::ElementPtr found = document->findElementById("inner");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pageObject(), inner);
    EXPECT_EQ(document->findElementById("nowhere"), nullptr);
}

TEST_F(DomWrapperTest, FindByTagKeepsDocumentOrder) {
    auto divs = document->findElementsByTag(std::wstring(L"div"));
    ASSERT_EQ(divs.size(), 2u);
    EXPECT_EQ(divs[0]->pageObject(), first);
    EXPECT_EQ(divs[1]->pageObject(), second);
    EXPECT_EQ(document->findElementsByTag("span").size(), 2u);
    EXPECT_TRUE(document->findElementsByTag("table").empty());
}

TEST_F(DomWrapperTest, ChildNodesAndParents) {
    auto element = DOM::Element::create(first);
    EXPECT_EQ(element->countChildNodes(), 2);
    EXPECT_EQ(element->childNodeAt(1)->pageObject(), inner);
    EXPECT_EQ(element->parentElement()->pageObject(), page.body);
    EXPECT_EQ(DOM::Element::create(inner)->countChildNodes(), 0);
    EXPECT_EQ(document->bodyOf()->countChildNodes(), 3);

    // A page object without child nodes is reported, not followed as a null object.
    auto bare = DOM::Element::create(PageObject::make());
    EXPECT_THROW(bare->countChildNodes(), invalid_member);
    EXPECT_THROW(bare->childNodeAt(0), invalid_member);
    EXPECT_EQ(bare->parentElement(), nullptr);
}

TEST_F(DomWrapperTest, SizesConvertFromPageText) {
    auto element = DOM::Element::create(first);
    first->set("width", "120");
    EXPECT_EQ(element->readWidth(), 120);
    first->set("width", "wide");
    EXPECT_THROW(element->readWidth(), bad_variant_cast);
    first->props.erase("height");
    EXPECT_THROW(element->readHeight(), bad_variant_cast);  // undefined is no number

    element->writeHeight(35);
    EXPECT_EQ(first->props["height"].get<int>(), 35);
    EXPECT_EQ(element->readHeight(), 35);
    first->set("scrollWidth", 640.0).set("scrollHeight", "480px");
    EXPECT_EQ(element->readScrollWidth(), 640);
    EXPECT_EQ(element->readScrollHeight(), 480);
}

TEST_F(DomWrapperTest, MarkupAndAttributes) {
    auto element = DOM::Element::create(second);
    element->writeInnerHtml("<b>x</b>");
    EXPECT_EQ(element->readInnerHtml(), "<b>x</b>");
    second->props["attributes"] = VariantMap{{"class", variant("signing")}};
    EXPECT_EQ(element->attributeText("class"), "signing");
    EXPECT_THROW(element->attributeText("missing"), bad_variant_cast);  // the page answers null
}

TEST_F(DomWrapperTest, NodesByIndexAndNameAndAddedChildren) {
    auto body = DOM::Node::create(page.body);
    auto children = body->nodeNamed(std::wstring(L"childNodes"));
    ASSERT_TRUE(children);
    EXPECT_EQ(children->nodeAt(1)->pageObject(), second);
    EXPECT_EQ(children->nodeAt(7), nullptr);

    auto made = document->makeElement("em");
    ASSERT_TRUE(made);
    auto added = body->addChild(made);
    EXPECT_EQ(added->pageObject(), made->pageObject());
    EXPECT_EQ(document->bodyOf()->countChildNodes(), 4);
    EXPECT_THROW(body->addChild(nullptr), script_error);  // the page refuses a missing node

    body->putProperty(std::wstring(L"title"), variant("T"));
    body->putProperty(2, variant(5));
    EXPECT_EQ(page.body->props["title"].get<std::string>(), "T");
    EXPECT_EQ(page.body->props["2"].get<int>(), 5);
}

TEST_F(DomWrapperTest, WindowServices) {
    EXPECT_EQ(window->locationHref(), "https://bank.example/sign.html");
    EXPECT_EQ(document->windowOf()->pageObject(), page.window);

    window->showAlert(std::wstring(L"caf\u00e9"));
    ASSERT_EQ(page.alerts.size(), 1u);
    EXPECT_EQ(page.alerts[0], "caf\xc3\xa9");

    JSObjectPtr a = window->newArray();
    JSObjectPtr b = window->newArray();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->getProperty("length").convert<int>(), 0);
    JSObjectPtr o = window->newObject();
    ASSERT_TRUE(o);
    EXPECT_EQ(o->countMembers(), 0u);

    page.window->props.erase("location");
    EXPECT_THROW(window->locationHref(), invalid_member);
}

TEST(DomWrapperNullTest, NoPageObjectGivesNoWrapper) {
    EXPECT_EQ(DOM::Node::create(nullptr), nullptr);
    EXPECT_EQ(DOM::Window::create(nullptr), nullptr);
    EXPECT_EQ(DOM::Document::create(nullptr), nullptr);
    EXPECT_EQ(DOM::Element::create(nullptr), nullptr);
}

}  // namespace
