#pragma once

// What the plug-in tests need around the plug-in: a browser host whose main thread is the test itself
// (posted calls wait until the test drains them), a page function that records its calls, and a page's
// view of an embedded instance.

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/BrowserHost.h"
#include "plugin/Korvane.h"
#include "plugin/PluginFactory.h"
#include "scripting/JSObject.h"

namespace plugintest {

// The origin of the pages the tests embed the plug-in in, unless a test names another.
inline const std::string kPageOrigin = "https://page.test";

class TestHost : public FB::BrowserHost {
  public:
    explicit TestHost(std::string pageOrigin = kPageOrigin) : origin_(std::move(pageOrigin)) {}
    ~TestHost() override { drain(); }

    std::string pageOrigin() override { return origin_; }
    void* contextIdentity() const override { return const_cast<TestHost*>(this); }
    FB::DOM::DocumentPtr getPageDocument() override { return nullptr; }
    FB::DOM::WindowPtr getPageWindow() override { return nullptr; }
    FB::DOM::ElementPtr getPluginElement() override { return nullptr; }
    void evaluateScript(const std::string& script) override { scripts.push_back(script); }
    void deferredRelease() override {}

    bool postToMainThread(MainThreadFunction func, void* userData) override {
        queue_.emplace_back(func, userData);
        return true;
    }

    // Delivers the posted calls as the browser's event loop would; returns how many ran.
    int drain() {
        int delivered = 0;
        while (!queue_.empty()) {
            auto [func, data] = queue_.front();
            queue_.pop_front();
            func(data);
            ++delivered;
        }
        return delivered;
    }

    std::vector<std::string> scripts;

  protected:
    FB::BrowserStreamPtr makeStream(const FB::BrowserStreamRequest&) override { return nullptr; }
    FB::BrowserStreamPtr makePostStream(const FB::BrowserStreamRequest&) override { return nullptr; }

  private:
    std::string origin_;
    std::deque<std::pair<MainThreadFunction, void*>> queue_;
};

// A page function: records every call it receives.
class PageFunction : public FB::JSObject {
  public:
    explicit PageFunction(std::weak_ptr<FB::ScriptHost> host) : FB::JSObject(std::move(host)) {}

    std::vector<FB::VariantList> calls;

    FB::variant invoke(const std::string&, const FB::VariantList& args) override {
        calls.push_back(args);
        return {};
    }
    void invalidate() override {}
    void listMemberNames(std::vector<std::string>& names) override { names.clear(); }
    std::size_t countMembers() override { return 0; }
    bool hasMethod(const std::string&) override { return false; }
    bool hasProperty(int) override { return false; }
    bool hasProperty(const std::string&) override { return false; }
    FB::variant getProperty(int) override { return {}; }
    FB::variant getProperty(const std::string&) override { return {}; }
    void setProperty(int, const FB::variant&) override {}
    void setProperty(const std::string&, const FB::variant&) override {}
    void removeProperty(int) override {}
    void removeProperty(const std::string&) override {}
    FB::variant construct(const FB::VariantList&) override { return {}; }
    bool isValid() const override { return true; }
    FB::JSAPIPtr getWrappedAPI() const override { return nullptr; }
};

// One embedded instance as the browser adapter sets it up: made by the process factory, given its host
// (on a page of `origin`) and the element's parameters; `api` is its root scriptable object, as the
// page holds it.
struct Embedded {
    explicit Embedded(const FB::VariantMap& params = {}, const std::string& origin = kPageOrigin) {
        host = std::make_shared<TestHost>(origin);
        plugin = processFactory()->makePlugin("application/x-korvane");
        plugin->attachHost(host);
        plugin->storeParams(params);
        api = plugin->getScriptObject();
    }

    std::shared_ptr<TestHost> host;
    FB::PluginCorePtr plugin;
    FB::JSAPIPtr api;

    // The page's view: a method call, a property read, a property write.
    FB::variant call(const std::string& name, const FB::VariantList& args = {}) {
        return api->invoke(name, args);
    }
    FB::variant get(const std::string& name) { return api->getProperty(name); }
    void set(const std::string& name, const FB::variant& value) { api->setProperty(name, value); }
    std::string text(const std::string& name) { return get(name).convert<std::string>(); }
    long number(const std::string& name) { return get(name).convert<long>(); }
    bool flag(const std::string& name) { return get(name).convert<bool>(); }
};

}  // namespace plugintest
