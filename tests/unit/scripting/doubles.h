#pragma once

// Test doubles: a browser host whose main thread is the test itself draining a queue, and a page
// object with properties, array elements and recorded calls.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scripting/JSObject.h"
#include "scripting/script_error.h"

namespace test {

class FakeHost : public FB::ScriptHost {
  public:
    bool scheduleOnMainThread(std::function<void()> call) override {
        if (shutDown) {
            return false;
        }
        queue.push_back(std::move(call));
        return true;
    }

    FB::variant callScriptObject(const FB::JSObjectPtr& object, const std::string& name,
                                 const FB::VariantList& args) override {
        ++objectCalls;
        return FB::ScriptHost::callScriptObject(object, name, args);
    }

    // Runs the posted calls as the main thread would; script errors are dropped like the host does.
    std::size_t drain() {
        std::size_t ran = 0;
        while (!queue.empty()) {
            auto call = std::move(queue.front());
            queue.pop_front();
            try {
                call();
            } catch (const FB::script_error&) {
            } catch (const FB::bad_variant_cast&) {
            }
            ++ran;
        }
        return ran;
    }

    std::deque<std::function<void()>> queue;
    bool shutDown = false;
    int objectCalls = 0;
};

struct Call {
    std::string name;
    FB::VariantList args;
};

struct Batch {
    std::string name;
    FB::VariantList args;
    std::vector<FB::JSObjectPtr> handlers;
    std::vector<FB::JSObjectPtr> interfaces;
};

// A page object: named properties, indexed elements (with "length" kept by the test), and a log of
// every invoke it receives.
class PageObject : public FB::JSObject {
  public:
    explicit PageObject(std::weak_ptr<FB::ScriptHost> host = {}) : FB::JSObject(std::move(host)) {}

    static std::shared_ptr<PageObject> array(const FB::VariantList& values,
                                             std::weak_ptr<FB::ScriptHost> host = {}) {
        auto object = std::make_shared<PageObject>(std::move(host));
        for (std::size_t i = 0; i < values.size(); ++i) {
            object->props[std::to_string(i)] = values[i];
        }
        object->props["length"] = static_cast<int>(values.size());
        return object;
    }

    void invalidate() override { valid = false; }
    void listMemberNames(std::vector<std::string>& names) override {
        names.clear();
        for (const auto& name : order) {
            names.push_back(name);
        }
    }
    std::size_t countMembers() override { return order.size(); }
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(int index) override { return props.count(std::to_string(index)) > 0; }
    bool hasProperty(const std::string& name) override { return props.count(name) > 0; }
    FB::variant getProperty(int index) override { return getProperty(std::to_string(index)); }
    FB::variant getProperty(const std::string& name) override {
        ++reads;
        if (failingProperty == name) {
            throw FB::invalid_member(name);
        }
        auto found = props.find(name);
        return found != props.end() ? found->second : FB::variant();
    }
    void setProperty(int index, const FB::variant& value) override {
        setProperty(std::to_string(index), value);
    }
    void setProperty(const std::string& name, const FB::variant& value) override { props[name] = value; }
    void removeProperty(int index) override { props.erase(std::to_string(index)); }
    void removeProperty(const std::string& name) override { props.erase(name); }
    FB::variant invoke(const std::string& name, const FB::VariantList& args) override {
        calls.push_back({name, args});
        if (throwOnInvoke) {
            throw FB::script_error("page function failed");
        }
        return FB::variant(static_cast<int>(calls.size()));
    }
    FB::variant construct(const FB::VariantList&) override { return {}; }

    void* eventIdentity() const override { return identity; }
    void* eventContextOf() const override { return context; }
    bool acceptsEventBatches() const override { return batches; }
    void deliverEventBatch(const std::string& name, const FB::VariantList& args,
                           const std::vector<FB::JSObjectPtr>& handlers,
                           const std::vector<FB::JSObjectPtr>& interfaces) override {
        batchLog.push_back({name, args, handlers, interfaces});
    }
    bool isValid() const override { return valid; }
    FB::JSAPIPtr getWrappedAPI() const override { return wrapped; }

    // Member names in insertion order, for enumeration.
    void define(const std::string& name, const FB::variant& value) {
        props[name] = value;
        order.push_back(name);
    }

    std::map<std::string, FB::variant> props;
    std::vector<std::string> order;
    std::vector<Call> calls;
    std::vector<Batch> batchLog;
    std::string failingProperty;
    bool throwOnInvoke = false;
    bool valid = true;
    bool batches = false;
    void* identity = nullptr;
    void* context = nullptr;
    FB::JSAPIPtr wrapped;
    int reads = 0;
};

}  // namespace test
