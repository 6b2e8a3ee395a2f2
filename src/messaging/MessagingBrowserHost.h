#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "core/BrowserHost.h"

namespace FB {

// The browser host of one native-messaging session. The page is on the other side of an extension, so
// there is no window, document or element to reach and no page script to run: those calls raise
// std::runtime_error saying so. Events reach the page as messages (see MessagingSession). Calls posted
// to the main thread wait in a queue that the connection's loop runs after each request.
class MessagingBrowserHost : public BrowserHost {
  public:
    // origin: the page origin the connection pinned, reported by pageOrigin().
    explicit MessagingBrowserHost(std::string origin) : origin_(std::move(origin)) {}
    ~MessagingBrowserHost() override;

    void* contextIdentity() const override { return const_cast<MessagingBrowserHost*>(this); }
    std::string pageOrigin() override { return origin_; }

    DOM::DocumentPtr getPageDocument() override;
    DOM::WindowPtr getPageWindow() override;
    DOM::ElementPtr getPluginElement() override;
    void evaluateScript(const std::string& script) override;
    using BrowserHost::evaluateScript;
    // There is no page console; messages are dropped.
    void logToPage(const std::string& message) override {}
    void deferredRelease() override {}

    bool postToMainThread(MainThreadFunction func, void* userData) override;
    // Runs the posted calls, including those they post, on the calling (main) thread; returns how many.
    int runPostedCalls();

  protected:
    BrowserStreamPtr makeStream(const BrowserStreamRequest& request) override { return nullptr; }
    BrowserStreamPtr makePostStream(const BrowserStreamRequest& request) override { return nullptr; }

  private:
    std::string origin_;
    std::mutex queueLock_;
    std::deque<std::pair<MainThreadFunction, void*>> queue_;
};

}  // namespace FB
