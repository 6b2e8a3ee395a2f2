#include "dom/Element.h"

#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB::DOM {

std::string Element::readInnerHtml() const {
    return readProperty<std::string>("innerHTML");
}

void Element::writeInnerHtml(const std::string& html) const {
    putProperty("innerHTML", variant(html));
}

int Element::readWidth() const {
    return readProperty<int>("width");
}

void Element::writeWidth(int width) const {
    putProperty("width", variant(width));
}

int Element::readScrollWidth() const {
    return readProperty<int>("scrollWidth");
}

int Element::readHeight() const {
    return readProperty<int>("height");
}

void Element::writeHeight(int height) const {
    putProperty("height", variant(height));
}

int Element::readScrollHeight() const {
    return readProperty<int>("scrollHeight");
}

int Element::countChildNodes() const {
    return requireObject("childNodes")->getProperty("length").convert<int>();
}

ElementPtr Element::childNodeAt(int index) const {
    ElementPtr children = elementNamed("childNodes");
    if (!children)
        throw invalid_member("childNodes");
    return children->elementAt(index);
}

ElementPtr Element::parentElement() const {
    return elementNamed("parentNode");
}

ElementPtr Element::elementAt(int index) const {
    return wrap<Element>(readProperty<JSObjectPtr>(index));
}

ElementPtr Element::elementNamed(const std::string& name) const {
    return wrap<Element>(readProperty<JSObjectPtr>(name));
}

std::string Element::attributeText(const std::string& name) const {
    return callMethod<std::string>("getAttribute", VariantList{variant(name)});
}

ElementPtr Element::findElementById(const std::string& id) const {
    return wrap<Element>(callMethod<JSObjectPtr>("getElementById", VariantList{variant(id)}));
}

std::vector<ElementPtr> Element::findElementsByTag(const std::wstring& tag) const {
    return findElementsByTag(wideToUtf8(tag));
}

std::vector<ElementPtr> Element::findElementsByTag(const std::string& tag) const {
    VariantList found = callMethod<VariantList>("getElementsByTagName", VariantList{variant(tag)});
    std::vector<ElementPtr> elements;
    elements.reserve(found.size());
    for (const variant& item : found)
        elements.push_back(wrap<Element>(item.convert<JSObjectPtr>()));
    return elements;
}

}  // namespace FB::DOM
