#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "core/BrowserHost.h"
#include "core/PluginEventSink.h"
#include "core/PluginWindow.h"
#include "scripting/JSAPI.h"
#include "scripting/variant.h"

namespace FB {

class PluginCore;
using PluginCorePtr = std::shared_ptr<PluginCore>;

// The browser-independent base of one embedded plug-in instance. The browser adapter gives it its
// host, the page's parameters and its window, and declares it ready; the instance creates its root
// scriptable object on demand and has the page's "onload" handler called.
//
// All operations run on the browser's main thread; the class takes no locks.
class PluginCore : public PluginEventSink {
  public:
    PluginCore();
    ~PluginCore() override;
    PluginCore(const PluginCore&) = delete;
    PluginCore& operator=(const PluginCore&) = delete;

    virtual void attachHost(const BrowserHostPtr& host);
    virtual PluginWindow* getWindow() const { return window_; }

    // A flag kept for derived classes; nothing in the core reads it.
    virtual void setFlag(bool flag) { flag_ = flag; }
    virtual bool getFlag() const { return flag_; }

    // Observes window from now on; a different window set earlier is cleared first.
    virtual void setWindow(PluginWindow* window);
    virtual void clearWindow();

    // Called once after the parameters: has the page's "onload" handler called about 250 ms later with
    // the root scriptable object as its argument. True when that call was scheduled. Never throws.
    virtual bool markReady();
    virtual void onReady() {}
    virtual void onShutdown() {}

    virtual JSAPIPtr createScriptObject() = 0;
    // The root scriptable object, created on first use.
    virtual JSAPIPtr getScriptObject();

    // Whether the page asked for a windowless instance ("windowless" parameter); false by default.
    virtual bool wantsWindowless();

    virtual void setFilesystemPath(const std::string& path) { filesystemPath_ = path; }
    virtual const std::string& getFilesystemPath() const { return filesystemPath_; }

    // Stores the page's parameters. A parameter whose name begins with "on" names a page function; the
    // function itself is stored in its place.
    virtual void storeParams(const VariantMap& params);
    // The parameter as text; nothing when absent. A value that cannot become text raises bad_variant_cast.
    virtual std::optional<std::string> paramValue(const std::string& name);

    static void recordPlatform(const std::string& os, const std::string& browser);
    static std::string platformOs();
    static std::string platformBrowser();
    // Number of PluginCore objects alive in the process.
    static int liveCount() { return liveCount_.load(); }

    const BrowserHostPtr& host() const { return host_; }
    const VariantMap& params() const { return params_; }

  protected:
    // This instance as a shared pointer of a derived type (from the weak self-reference).
    template <class T>
    std::shared_ptr<T> sharedAs() {
        return std::static_pointer_cast<T>(shared_from_this());
    }

  private:
    BrowserHostPtr host_;
    std::string filesystemPath_;
    VariantMap params_;
    PluginWindow* window_ = nullptr;
    JSAPIPtr rootObject_;
    bool flag_ = false;

    static std::atomic<int> liveCount_;
};

}  // namespace FB
