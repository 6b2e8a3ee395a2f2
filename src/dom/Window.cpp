#include "dom/Window.h"

#include "scripting/utf_conversion.h"

namespace FB::DOM {

DocumentPtr Window::documentOf() const {
    return wrap<Document>(readProperty<JSObjectPtr>("document"));
}

void Window::showAlert(const std::wstring& text) const {
    showAlert(wideToUtf8(text));
}

void Window::showAlert(const std::string& text) const {
    pageObject()->invoke("alert", VariantList{variant(text)});
}

JSObjectPtr Window::newArray() const {
    return callMethod<JSObjectPtr>("Array", VariantList{});
}

JSObjectPtr Window::newObject() const {
    return callMethod<JSObjectPtr>("Object", VariantList{});
}

std::string Window::locationHref() const {
    return requireObject("location")->getProperty("href").convert<std::string>();
}

}  // namespace FB::DOM
