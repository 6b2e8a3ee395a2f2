#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dom/Node.h"

namespace FB::DOM {

class Element;
using ElementPtr = std::shared_ptr<Element>;

// An element of the page: its markup, sizes, children and the lookups a document offers.
class Element : public Node {
  public:
    using Node::Node;

    static ElementPtr create(const JSObjectPtr& object) { return wrap<Element>(object); }

    virtual std::string readInnerHtml() const;
    virtual void writeInnerHtml(const std::string& html) const;
    virtual int readWidth() const;
    virtual void writeWidth(int width) const;
    virtual int readScrollWidth() const;
    virtual int readHeight() const;
    virtual void writeHeight(int height) const;
    virtual int readScrollHeight() const;

    virtual int countChildNodes() const;
    virtual ElementPtr childNodeAt(int index) const;
    virtual ElementPtr parentElement() const;
    virtual ElementPtr elementAt(int index) const;
    virtual ElementPtr elementNamed(const std::string& name) const;

    virtual std::string attributeText(const std::string& name) const;
    virtual ElementPtr findElementById(const std::string& id) const;
    virtual std::vector<ElementPtr> findElementsByTag(const std::wstring& tag) const;
    virtual std::vector<ElementPtr> findElementsByTag(const std::string& tag) const;
};

}  // namespace FB::DOM
