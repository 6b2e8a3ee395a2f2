#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "core/AsyncCallRegistry.h"
#include "core/BrowserStream.h"
#include "core/BrowserStreamManager.h"
#include "core/CrossThreadCall.h"
#include "core/FunctorCall.h"
#include "dom/Document.h"
#include "dom/Element.h"
#include "dom/Node.h"
#include "dom/Window.h"
#include "scripting/JSObject.h"
#include "scripting/ScriptHost.h"
#include "scripting/variant.h"

namespace FB {

class BrowserHost;
using BrowserHostPtr = std::shared_ptr<BrowserHost>;

// The per-instance view of the browser, shared by the plug-in instance, its scriptable objects and the
// browser adapter. The browser-specific operations are abstract; a browser adapter implements them.
//
// Threads: the host is made on the browser's main thread, which it records. Work is posted there with
// queueMainThreadCall / queueBoundCall, or run there and waited for with runOnMainThread.
//
// Locks: the cross-thread lock is taken shared while a call is posted and exclusively by shutdown while
// it stops the call registry, so no post slips in behind a shutdown; the retention lock (recursive)
// guards the retained objects. shutdown takes the retention lock before the cross-thread lock, never
// both at once.
class BrowserHost : public ScriptHost, public std::enable_shared_from_this<BrowserHost> {
  public:
    using MainThreadFunction = void (*)(void*);

    BrowserHost();
    ~BrowserHost() override;
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    // The browser's handle of this instance.
    virtual void* contextIdentity() const = 0;

    // Opens a browser stream; a stream the browser gives is kept alive until the host shuts down.
    virtual BrowserStreamPtr createStream(const BrowserStreamRequest& request);
    virtual BrowserStreamPtr createPostStream(const BrowserStreamRequest& request);

    virtual DOM::DocumentPtr getPageDocument() = 0;
    virtual DOM::WindowPtr getPageWindow() = 0;
    virtual DOM::ElementPtr getPluginElement() = 0;

    // The origin ("scheme://host[:port]") of the page the instance is on, from window.location. A file:
    // page has no such origin and stands for itself: its address without query and fragment. Empty when
    // the page has no window or its location names no site (about:blank, data:).
    virtual std::string pageOrigin();

    virtual void navigate(const std::string& url, const std::string& target) {}

    virtual void evaluateScript(const std::wstring& script);
    virtual void evaluateScript(const std::string& script) = 0;

    // Defines the page function window.__FB_CALL_<id> through which page functions are called later.
    virtual void installCallFunction(const void* instanceIdentity);

    // Writes message to the page's console, on the main thread, unless page logging is disabled.
    virtual void logToPage(const std::string& message);
    virtual void setPageLogEnabled(bool enabled) { pageLogEnabled_ = enabled ? 1 : 0; }

    // Releases the retained objects, runs or cancels every posted call and refuses posts from then on.
    // Safe to call again.
    virtual void shutdown();

    // Releases the browser objects whose release was put off.
    virtual void deferredRelease() = 0;

    // Proxy settings ("type", "hostname", "port") for url; true when a proxy is to be used.
    virtual bool detectProxySettings(const std::string& url, std::map<std::string, std::string>& settings);

    virtual DOM::WindowPtr wrapWindow(const JSObjectPtr& object) { return DOM::Window::create(object); }
    virtual DOM::DocumentPtr wrapDocument(const JSObjectPtr& object) { return DOM::Document::create(object); }
    virtual DOM::ElementPtr wrapElement(const JSObjectPtr& object) { return DOM::Element::create(object); }
    virtual DOM::NodePtr wrapNode(const JSObjectPtr& object) { return DOM::Node::create(object); }

    // Has the browser call func(userData) on its main thread; false when it cannot.
    virtual bool postToMainThread(MainThreadFunction func, void* userData) = 0;

    // ScriptHost: asynchronous calls of page objects go through queueBoundCall.
    bool scheduleOnMainThread(std::function<void()> call) override;

    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }
    bool isShutDown() const { return shutDown_.load(std::memory_order_acquire); }

    // Runs func(userData) on the main thread later; false (and func never runs) when the host is shut
    // down or the browser refuses the post.
    bool queueMainThreadCall(MainThreadFunction func, void* userData);

    // Runs functor on the main thread and waits for it; the result converted to T. On the main thread
    // the call runs at once. A script error raised on the main thread is raised again here with the
    // same message. Raises script_error "Shutting down" when the host shuts down while waiting and
    // "Could not marshal to main thread" when the call cannot be posted.
    template <class T = variant>
    T runOnMainThread(const FunctorCallPtr& functor) {
        variant result = CrossThreadCall::runSynchronously(*this, functor);
        if constexpr (std::is_void_v<T>) {
            return;
        } else {
            return result.template convert<T>();
        }
    }

    // Runs functor on the main thread later without waiting; its script and conversion errors are
    // dropped. Returns false when the call could not be posted (it never runs then).
    bool queueBoundCall(const FunctorCallPtr& functor);

    // Keeps a scriptable object alive for the page. An object may be retained more than once.
    void retainObject(const JSAPIPtr& object);
    // Drops one retention of object.
    void releaseObject(const JSAPIPtr& object);
    void releaseRetainedObjects();
    std::size_t retainedCount() const;

    // The page's call function (installing it when needed), or null when there is no page window.
    JSObjectPtr getCallFunction();

    // Calls func (or its method fname, when not empty) with args after delayMs milliseconds, through the
    // page's call function; returns the page timer's id, or -1 when there is no call function.
    int invokeDelayed(int delayMs, const JSObjectPtr& func, const VariantList& args,
                      const std::string& fname);

    const std::string& instanceId() const { return instanceId_; }
    const std::string& callFunctionName() const { return callFunctionName_; }
    bool pageLogEnabled() const { return pageLogEnabled_ != 0; }

    // Number of BrowserHost objects alive in the process.
    static int liveCount() { return liveCount_.load(); }

  protected:
    // The browser's stream creation; null when the browser cannot open it.
    virtual BrowserStreamPtr makeStream(const BrowserStreamRequest& request) = 0;
    virtual BrowserStreamPtr makePostStream(const BrowserStreamRequest& request) = 0;

    const std::shared_ptr<AsyncCallRegistry>& callRegistry() const { return registry_; }

  private:
    static void logToPageOnMainThread(void* data);

    std::shared_ptr<AsyncCallRegistry> registry_;
    std::thread::id mainThread_;
    std::atomic<bool> shutDown_{false};
    std::atomic<std::thread::id> shutdownThread_{};  // the thread inside shutdown's locked step, if any
    std::shared_mutex crossThreadLock_;
    mutable std::recursive_mutex retentionLock_;
    std::list<JSAPIPtr> retained_;
    std::mutex streamLock_;
    BrowserStreamManagerPtr streams_;
    std::atomic<std::int32_t> pageLogEnabled_{1};
    std::string instanceId_;
    std::string callFunctionName_;

    static std::atomic<int> liveCount_;
};

}  // namespace FB
