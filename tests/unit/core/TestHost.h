#pragma once

// A browser host for tests. Its "main thread" is the thread that makes it (the test's own thread);
// posted calls wait in a queue until the test drains it, as a browser's event loop would deliver them.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PageModel.h"
#include "core/BrowserHost.h"

namespace testhost {

class FakeStream : public FB::BrowserStream {
  public:
    explicit FakeStream(std::string url) : url_(std::move(url)) {}
    const std::string& url() const override { return url_; }
    bool close() override {
        ++closes;
        return true;
    }
    int closes = 0;

  private:
    std::string url_;
};

class TestHost : public FB::BrowserHost {
  public:
    ~TestHost() override {
        // Deliver what is left, as the browser would, so that every posted record is freed.
        drain();
    }

    // Gives the host a page; the page's window is what getPageWindow wraps.
    void attachPage(testpage::Page* page) { page_ = page; }

    void* contextIdentity() const override { return const_cast<TestHost*>(this); }
    FB::DOM::DocumentPtr getPageDocument() override {
        return page_ ? FB::DOM::Document::create(page_->document) : nullptr;
    }
    FB::DOM::WindowPtr getPageWindow() override {
        return page_ ? FB::DOM::Window::create(page_->window) : nullptr;
    }
    FB::DOM::ElementPtr getPluginElement() override { return nullptr; }

    // Records the script. The page call function definition makes a page function on the window that
    // records its arguments and answers a timer id.
    void evaluateScript(const std::string& script) override {
        scripts.push_back(script);
        const std::string prefix = "window.";
        auto eq = script.find(" = function(delay, f, args, fname)");
        if (!page_ || script.compare(0, prefix.size(), prefix) != 0 || eq == std::string::npos)
            return;
        auto fn = testpage::PageObject::make(weak_from_this());
        fn->method("", [this](const FB::VariantList& args) {
            if (failDelayedCalls)
                throw FB::script_error("setTimeout is not available");
            delayedCalls.push_back(args);
            return FB::variant(static_cast<int>(delayedCalls.size()) + 100);
        });
        page_->window->set(script.substr(prefix.size(), eq - prefix.size()), FB::JSObjectPtr(fn));
    }

    void deferredRelease() override { ++deferredReleases; }

    bool postToMainThread(MainThreadFunction func, void* userData) override {
        if (refusePosts)
            return false;
        {
            std::lock_guard lock(queueLock_);
            queue_.emplace_back(func, userData);
        }
        queueCond_.notify_all();
        return true;
    }

    // Delivers every queued post on the calling thread; returns how many were delivered.
    int drain() {
        int delivered = 0;
        while (deliverOne())
            ++delivered;
        return delivered;
    }

    // Delivers posts as they come until done() holds or the time runs out; false on timeout.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (deliverOne())
                continue;
            std::unique_lock lock(queueLock_);
            if (queueCond_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                                   std::chrono::milliseconds(1))) ==
                    std::cv_status::timeout &&
                std::chrono::steady_clock::now() >= deadline)
                return done();
        }
        return true;
    }

    std::size_t queued() const {
        std::lock_guard lock(queueLock_);
        return queue_.size();
    }

    std::vector<std::shared_ptr<FakeStream>> streams;
    std::vector<std::string> scripts;
    std::vector<FB::VariantList> delayedCalls;
    int deferredReleases = 0;
    bool refusePosts = false;
    bool failDelayedCalls = false;

  protected:
    FB::BrowserStreamPtr makeStream(const FB::BrowserStreamRequest& request) override {
        streams.push_back(std::make_shared<FakeStream>(request.url));
        return streams.back();
    }
    FB::BrowserStreamPtr makePostStream(const FB::BrowserStreamRequest& request) override {
        return makeStream(request);
    }

  private:
    bool deliverOne() {
        std::pair<MainThreadFunction, void*> post;
        {
            std::lock_guard lock(queueLock_);
            if (queue_.empty())
                return false;
            post = queue_.front();
            queue_.pop_front();
        }
        post.first(post.second);
        return true;
    }

    testpage::Page* page_ = nullptr;
    mutable std::mutex queueLock_;
    std::condition_variable queueCond_;
    std::deque<std::pair<MainThreadFunction, void*>> queue_;
};

}  // namespace testhost
