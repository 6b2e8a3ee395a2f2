#include "dom/Document.h"

#include "dom/Window.h"

namespace FB::DOM {

WindowPtr Document::windowOf() const {
    return wrap<Window>(readProperty<JSObjectPtr>("window"));
}

ElementPtr Document::bodyOf() const {
    return wrap<Element>(readProperty<JSObjectPtr>("body"));
}

ElementPtr Document::makeElement(const std::string& tag) const {
    return wrap<Element>(callMethod<JSObjectPtr>("createElement", VariantList{variant(tag)}));
}

}  // namespace FB::DOM
