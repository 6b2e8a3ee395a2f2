// A script object of the fake page: a plain object, an array or a function. The NPObject header
// comes first so that the browser hands it out like any NPObject; the fake's page class
// (FakeBrowser::PageClass) gives it its behaviour.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "FakeBrowser.h"
#include "PageValue.h"

namespace FB::Npapi::fakebrowser {

struct PageObject : NPObject {
    FakeBrowser* browser = nullptr;
    PageKind kind = PageKind::Object;
    std::string label;
    // Properties in the order they were first set.
    std::vector<std::pair<std::string, PageValue>> properties;
    std::vector<PageValue> elements;  // arrays
    FakeBrowser::Function function;   // functions
    // Constructors ("Array", "Object") build a new object instead of calling `function`.
    FakeBrowser::Function constructor;

    const PageValue* find(const std::string& name) const {
        for (const auto& [key, value] : properties) {
            if (key == name) {
                return &value;
            }
        }
        return nullptr;
    }

    void set(const std::string& name, PageValue value) {
        for (auto& [key, held] : properties) {
            if (key == name) {
                held = std::move(value);
                return;
            }
        }
        properties.emplace_back(name, std::move(value));
    }

    bool remove(const std::string& name) {
        for (auto it = properties.begin(); it != properties.end(); ++it) {
            if (it->first == name) {
                // Move the value out first: its release may re-enter this object.
                PageValue gone = std::move(it->second);
                properties.erase(it);
                return true;
            }
        }
        return false;
    }
};

}  // namespace FB::Npapi::fakebrowser
