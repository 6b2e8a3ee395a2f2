#pragma once

#include <memory>
#include <string>

#include "scripting/JSObject.h"
#include "scripting/variant.h"

namespace FB::DOM {

class Node;
using NodePtr = std::shared_ptr<Node>;

// Typed access to an object of the page. A wrapper holds nothing but the page object, and every
// operation is a property read, a property write or a method call on it; failures of the page object
// and of the value conversions reach the caller unchanged.
class Node {
  public:
    explicit Node(JSObjectPtr object) : object_(std::move(object)) {}
    virtual ~Node() = default;

    // A wrapper for object, or null when there is no object.
    static NodePtr create(const JSObjectPtr& object) { return wrap<Node>(object); }

    virtual JSObjectPtr pageObject() const { return object_; }

    virtual NodePtr nodeAt(int index) const;
    virtual NodePtr nodeNamed(const std::string& name) const;
    virtual NodePtr nodeNamed(const std::wstring& name) const;

    virtual void putProperty(int index, const variant& value) const;
    virtual void putProperty(const std::string& name, const variant& value) const;
    virtual void putProperty(const std::wstring& name, const variant& value) const;

    // Appends node through the page's "appendChild" and wraps what the page returns.
    virtual NodePtr addChild(const NodePtr& node) const;

    template <class W>
    static std::shared_ptr<W> wrap(const JSObjectPtr& object) {
        return object ? std::make_shared<W>(object) : nullptr;
    }

  protected:
    template <class T>
    T readProperty(const std::string& name) const {
        return object_->getProperty(name).template convert<T>();
    }
    template <class T>
    T readProperty(int index) const {
        return object_->getProperty(index).template convert<T>();
    }
    template <class T>
    T callMethod(const std::string& name, const VariantList& args) const {
        return object_->invoke(name, args).template convert<T>();
    }
    // The page object held in property name; a page that has none there raises invalid_member, so
    // that a chained read never follows a null object.
    JSObjectPtr requireObject(const std::string& name) const;

  private:
    JSObjectPtr object_;
};

}  // namespace FB::DOM
