#pragma once

// A small page object model for tests: page objects as JSObject doubles with plain properties and
// C++ methods, and builders for a window, a document and elements with ids, tags and child nodes.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scripting/JSObject.h"
#include "scripting/script_error.h"
#include "scripting/variant.h"

namespace testpage {

class PageObject;
using PageObjectPtr = std::shared_ptr<PageObject>;
using Method = std::function<FB::variant(const FB::VariantList&)>;

// A page object. Missing properties read as empty (the page's undefined); calling a missing method
// raises a script error as the browser would. The method named "" is the object called as a function.
class PageObject : public FB::JSObject {
  public:
    explicit PageObject(std::weak_ptr<FB::ScriptHost> host = {}) : FB::JSObject(std::move(host)) {}

    static PageObjectPtr make(std::weak_ptr<FB::ScriptHost> host = {}) {
        return std::make_shared<PageObject>(host);
    }

    PageObject& set(const std::string& name, FB::variant value) {
        props[name] = std::move(value);
        return *this;
    }
    PageObject& method(const std::string& name, Method m) {
        methods[name] = std::move(m);
        return *this;
    }

    // FB::JSAPI
    void invalidate() override { valid = false; }
    void listMemberNames(std::vector<std::string>& names) override {
        names.clear();
        for (const auto& [name, value] : props)
            names.push_back(name);
    }
    std::size_t countMembers() override { return props.size(); }
    bool hasMethod(const std::string& name) override { return methods.count(name) != 0; }
    bool hasProperty(int index) override { return hasProperty(std::to_string(index)); }
    bool hasProperty(const std::string& name) override { return props.count(name) != 0; }
    FB::variant getProperty(int index) override { return getProperty(std::to_string(index)); }
    FB::variant getProperty(const std::string& name) override {
        ++reads;
        auto it = props.find(name);
        return it == props.end() ? FB::variant() : it->second;
    }
    void setProperty(int index, const FB::variant& value) override {
        setProperty(std::to_string(index), value);
    }
    void setProperty(const std::string& name, const FB::variant& value) override { props[name] = value; }
    void removeProperty(int index) override { props.erase(std::to_string(index)); }
    void removeProperty(const std::string& name) override { props.erase(name); }
    FB::variant invoke(const std::string& name, const FB::VariantList& args) override {
        auto it = methods.find(name);
        if (it == methods.end())
            throw FB::script_error("TypeError: " + (name.empty() ? std::string("object") : name) +
                                   " is not a function");
        return it->second(args);
    }
    FB::variant construct(const FB::VariantList&) override { throw FB::script_error("not a constructor"); }

    // FB::JSObject
    bool isValid() const override { return valid; }
    FB::JSAPIPtr getWrappedAPI() const override { return nullptr; }

    std::map<std::string, FB::variant> props;
    std::map<std::string, Method> methods;
    bool valid = true;
    int reads = 0;
};

// A page array holding values, with "length" and "push".
inline PageObjectPtr makeArray(const std::vector<FB::variant>& values = {}) {
    auto array = PageObject::make();
    std::weak_ptr<PageObject> self = array;
    array->set("length", static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i)
        array->set(std::to_string(i), values[i]);
    array->method("push", [self](const FB::VariantList& args) {
        auto a = self.lock();
        int length = a->props["length"].convert<int>();
        for (const auto& v : args)
            a->set(std::to_string(length++), v);
        a->set("length", length);
        return FB::variant(length);
    });
    return array;
}

inline PageObjectPtr asPage(const FB::variant& v) {
    return std::dynamic_pointer_cast<PageObject>(v.convert<FB::JSObjectPtr>());
}

// An element with a tag name, an optional id, child nodes and attributes; "appendChild" and
// "getAttribute" work as in a browser.
inline PageObjectPtr makeElement(const std::string& tag, const std::string& id = {}) {
    auto element = PageObject::make();
    std::weak_ptr<PageObject> self = element;
    element->set("tagName", tag).set("childNodes", makeArray()).set("attributes", FB::VariantMap{});
    if (!id.empty())
        element->set("id", id);
    element->method("appendChild", [self](const FB::VariantList& args) {
        auto parent = self.lock();
        auto child = asPage(args.at(0));
        if (!child)
            throw FB::script_error("TypeError: appendChild needs a node");
        asPage(parent->props["childNodes"])->invoke("push", FB::VariantList{args[0]});
        child->set("parentNode", FB::JSObjectPtr(parent));
        return args[0];
    });
    element->method("getAttribute", [self](const FB::VariantList& args) {
        auto attributes = self.lock()->props["attributes"].get<FB::VariantMap>();
        auto it = attributes.find(args.at(0).convert<std::string>());
        return it == attributes.end() ? FB::variant(FB::variant_detail::null{}) : it->second;
    });
    return element;
}

inline void appendChild(const PageObjectPtr& parent, const PageObjectPtr& child) {
    parent->invoke("appendChild", FB::VariantList{FB::JSObjectPtr(child)});
}

// Every element below root (root excluded) in document order.
inline void collect(const PageObjectPtr& root, std::vector<PageObjectPtr>& out) {
    auto children = asPage(root->props["childNodes"]);
    int length = children->props["length"].convert<int>();
    for (int i = 0; i < length; ++i) {
        auto child = asPage(children->props[std::to_string(i)]);
        out.push_back(child);
        collect(child, out);
    }
}

// A page: window with document, body, location and console, and the page's Array and Object.
struct Page {
    PageObjectPtr window;
    PageObjectPtr document;
    PageObjectPtr body;
    PageObjectPtr console;
    std::vector<std::string> alerts;
    std::vector<std::string> consoleLines;

    explicit Page(std::weak_ptr<FB::ScriptHost> host = {}) {
        window = PageObject::make(host);
        document = makeElement("#document");
        body = makeElement("body");
        console = PageObject::make(host);
        appendChild(document, body);

        std::weak_ptr<PageObject> doc = document;
        document->set("body", FB::JSObjectPtr(body)).set("window", FB::JSObjectPtr(window));
        document->method("getElementById", [doc](const FB::VariantList& args) {
            std::string id = args.at(0).convert<std::string>();
            std::vector<PageObjectPtr> all;
            collect(doc.lock(), all);
            for (const auto& e : all)
                if (e->props.count("id") && e->props["id"].convert<std::string>() == id)
                    return FB::variant(FB::JSObjectPtr(e));
            return FB::variant(FB::variant_detail::null{});
        });
        document->method("getElementsByTagName", [doc](const FB::VariantList& args) {
            std::string tag = args.at(0).convert<std::string>();
            std::vector<PageObjectPtr> all;
            collect(doc.lock(), all);
            std::vector<FB::variant> found;
            for (const auto& e : all)
                if (e->props["tagName"].convert<std::string>() == tag)
                    found.emplace_back(FB::JSObjectPtr(e));
            return FB::variant(FB::JSObjectPtr(makeArray(found)));
        });
        document->method("createElement", [](const FB::VariantList& args) {
            return FB::variant(FB::JSObjectPtr(makeElement(args.at(0).convert<std::string>())));
        });

        auto location = PageObject::make();
        location->set("href", "https://bank.example/sign.html");
        window->set("document", FB::JSObjectPtr(document))
            .set("location", FB::JSObjectPtr(location))
            .set("console", FB::JSObjectPtr(console));
        window->method("alert", [this](const FB::VariantList& args) {
            alerts.push_back(args.at(0).convert<std::string>());
            return FB::variant();
        });
        window->method("Array",
                       [](const FB::VariantList&) { return FB::variant(FB::JSObjectPtr(makeArray())); });
        window->method("Object", [](const FB::VariantList&) {
            return FB::variant(FB::JSObjectPtr(PageObject::make()));
        });
        console->method("log", [this](const FB::VariantList& args) {
            consoleLines.push_back(args.at(0).convert<std::string>());
            return FB::variant();
        });
    }

    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // Page objects refer to each other (parentNode, window.document.window); clearing them lets the
    // whole page be freed.
    ~Page() {
        std::vector<PageObjectPtr> all{document};
        collect(document, all);
        for (const auto& e : all) {
            if (auto children = asPage(e->props["childNodes"]))
                children->props.clear();
            e->props.clear();
            e->methods.clear();
        }
        window->props.clear();
        window->methods.clear();
        console->methods.clear();
    }
};

}  // namespace testpage
