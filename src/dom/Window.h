#pragma once

#include <memory>
#include <string>

#include "dom/Document.h"
#include "dom/Node.h"

namespace FB::DOM {

// The page's window.
class Window : public Node {
  public:
    using Node::Node;

    static WindowPtr create(const JSObjectPtr& object) { return wrap<Window>(object); }

    virtual DocumentPtr documentOf() const;
    virtual void showAlert(const std::wstring& text) const;
    virtual void showAlert(const std::string& text) const;
    // A new, empty page array / page object, made by the page's own constructors.
    virtual JSObjectPtr newArray() const;
    virtual JSObjectPtr newObject() const;
    virtual std::string locationHref() const;
};

}  // namespace FB::DOM
