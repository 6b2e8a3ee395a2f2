#pragma once

#include <memory>
#include <string>

#include "dom/Element.h"

namespace FB::DOM {

class Window;
using WindowPtr = std::shared_ptr<Window>;
class Document;
using DocumentPtr = std::shared_ptr<Document>;

// The page's document.
class Document : public Element {
  public:
    using Element::Element;

    static DocumentPtr create(const JSObjectPtr& object) { return wrap<Document>(object); }

    virtual WindowPtr windowOf() const;
    virtual ElementPtr bodyOf() const;
    virtual ElementPtr makeElement(const std::string& tag) const;
};

}  // namespace FB::DOM
