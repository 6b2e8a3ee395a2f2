#include "dom/Node.h"

#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB::DOM {

NodePtr Node::nodeAt(int index) const {
    return wrap<Node>(readProperty<JSObjectPtr>(index));
}

NodePtr Node::nodeNamed(const std::string& name) const {
    return wrap<Node>(readProperty<JSObjectPtr>(name));
}

NodePtr Node::nodeNamed(const std::wstring& name) const {
    return nodeNamed(wideToUtf8(name));
}

void Node::putProperty(int index, const variant& value) const {
    object_->setProperty(index, value);
}

void Node::putProperty(const std::string& name, const variant& value) const {
    object_->setProperty(name, value);
}

void Node::putProperty(const std::wstring& name, const variant& value) const {
    putProperty(wideToUtf8(name), value);
}

NodePtr Node::addChild(const NodePtr& node) const {
    VariantList args{variant(node ? node->pageObject() : JSObjectPtr())};
    return wrap<Node>(callMethod<JSObjectPtr>("appendChild", args));
}

JSObjectPtr Node::requireObject(const std::string& name) const {
    JSObjectPtr object = readProperty<JSObjectPtr>(name);
    if (!object)
        throw invalid_member(name);
    return object;
}

}  // namespace FB::DOM
