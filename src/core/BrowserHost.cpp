#include "core/BrowserHost.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include <boost/format.hpp>

#include "core/Log.h"
#include "core/SystemProxyDetector.h"
#include "core/UrlOrigin.h"
#include "core/UrlScheme.h"
#include "scripting/utf_conversion.h"

namespace FB {

namespace {

constexpr const char* kLogSource = "BrowserHost";

constexpr const char* kCallFunctionName = "__FB_CALL_%1%";

// Defines window.__FB_CALL_<id>(delay, f, args[, fname]): after delay milliseconds it calls f(args...)
// or, given fname, f[fname](args...), and returns the page timer's id.
constexpr const char* kCallFunctionScript =
    "window.__FB_CALL_%1% = function(delay, f, args, fname) {"
    "   if (arguments.length == 3)"
    "       return setTimeout(function() { f.apply(null, args); }, delay);"
    "   else"
    "       return setTimeout(function() { f[fname].apply(f, args); }, delay);"
    "};";

struct PageLogRecord {
    std::shared_ptr<BrowserHost> host;
    std::string message;
};

}  // namespace

std::atomic<int> BrowserHost::liveCount_{0};

BrowserHost::BrowserHost()
    : registry_(AsyncCallRegistry::create()),
      mainThread_(std::this_thread::get_id()),
      streams_(std::make_shared<BrowserStreamManager>()) {
    ++liveCount_;
}

BrowserHost::~BrowserHost() {
    --liveCount_;
}

BrowserStreamPtr BrowserHost::createStream(const BrowserStreamRequest& request) {
    BrowserStreamPtr stream = makeStream(request);
    if (stream) {
        std::lock_guard lock(streamLock_);
        if (streams_)
            streams_->retainStream(stream);
    }
    return stream;
}

BrowserStreamPtr BrowserHost::createPostStream(const BrowserStreamRequest& request) {
    BrowserStreamPtr stream = makePostStream(request);
    if (stream) {
        std::lock_guard lock(streamLock_);
        if (streams_)
            streams_->retainStream(stream);
    }
    return stream;
}

void BrowserHost::evaluateScript(const std::wstring& script) {
    evaluateScript(wideToUtf8(script));
}

void BrowserHost::installCallFunction(const void* instanceIdentity) {
    // Unsigned 32-bit arithmetic throughout: the id only has to differ between instances of a page.
    auto n = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(instanceIdentity));
    std::uint32_t id = n + n / 8;
    instanceId_ = std::to_string(id);
    callFunctionName_ = (boost::format(kCallFunctionName) % instanceId_).str();
    evaluateScript((boost::format(kCallFunctionScript) % instanceId_).str());
}

std::string BrowserHost::pageOrigin() {
    try {
        DOM::WindowPtr window = getPageWindow();
        if (!window)
            return {};
        const std::string href = window->locationHref();
        std::string origin = urlOrigin(href);
        if (origin.empty() && urlScheme(href) == "file")
            origin = href.substr(0, href.find_first_of("?#"));
        return origin;
    } catch (const std::exception& e) {
        Log::info(kLogSource, std::string("Reading the page location failed: ") + e.what());
        return {};
    }
}

JSObjectPtr BrowserHost::getCallFunction() {
    DOM::WindowPtr window = getPageWindow();
    if (!window)
        return {};
    if (callFunctionName_.empty())
        installCallFunction(this);
    JSObjectPtr func = window->pageObject()->getProperty(callFunctionName_).convert<JSObjectPtr>();
    if (!func) {
        // The page lost the function (a reload of the page script, for one); define it again.
        installCallFunction(this);
        func = window->pageObject()->getProperty(callFunctionName_).convert<JSObjectPtr>();
    }
    return func;
}

int BrowserHost::invokeDelayed(int delayMs, const JSObjectPtr& func, const VariantList& args,
                               const std::string& fname) {
    JSObjectPtr callFunction = getCallFunction();
    if (!callFunction)
        return -1;
    VariantList callArgs{variant(delayMs), variant(func), variant(args)};
    if (!fname.empty())
        callArgs.emplace_back(fname);
    return callFunction->invoke("", callArgs).convert<int>();
}

void BrowserHost::logToPage(const std::string& message) {
    Log::info(kLogSource, "Logging to HTML: " + message);
    if (!pageLogEnabled())
        return;
    try {
        auto record = std::make_unique<PageLogRecord>(PageLogRecord{shared_from_this(), message});
        if (queueMainThreadCall(&BrowserHost::logToPageOnMainThread, record.get()))
            record.release();
    } catch (const std::exception&) {
        // Logging never disturbs the caller.
    }
}

void BrowserHost::logToPageOnMainThread(void* data) {
    std::unique_ptr<PageLogRecord> record(static_cast<PageLogRecord*>(data));
    try {
        DOM::WindowPtr window = record->host->getPageWindow();
        if (!window || !window->pageObject()->hasProperty("console"))
            return;
        JSObjectPtr console = window->pageObject()->getProperty("console").convert<JSObjectPtr>();
        std::printf("Logging: %s\n", record->message.c_str());
        std::fflush(stdout);
        if (console)
            console->invoke("log", VariantList{variant(record->message)});
    } catch (const std::exception&) {
        Log::info(kLogSource, "Logging to browser console failed");
    }
}

void BrowserHost::shutdown() {
    std::vector<JSAPIPtr> retained;
    {
        std::lock_guard lock(retentionLock_);
        retained.assign(retained_.begin(), retained_.end());
    }
    for (const JSAPIPtr& object : retained)
        object->shutdown();
    retained.clear();
    releaseRetainedObjects();

    // A posted call run below may drop the last owner of something that shuts this host down again;
    // that nested shutdown must not wait for the lock its own thread holds.
    if (shutdownThread_.load() == std::this_thread::get_id())
        return;
    BrowserStreamManagerPtr streams;
    {
        std::unique_lock lock(crossThreadLock_);
        shutdownThread_.store(std::this_thread::get_id());
        shutDown_.store(true, std::memory_order_release);
        registry_->shutdown();
        std::lock_guard streamLock(streamLock_);
        streams.swap(streams_);
        shutdownThread_.store(std::thread::id());
    }
    // Dropping the manager closes the streams it still holds, outside our locks.
}

bool BrowserHost::detectProxySettings(const std::string& url, std::map<std::string, std::string>& settings) {
    return SystemProxyDetector::get().querySystemProxy(url, settings);
}

bool BrowserHost::scheduleOnMainThread(std::function<void()> call) {
    return queueBoundCall(makeFunctorCall(std::move(call)));
}

bool BrowserHost::queueMainThreadCall(MainThreadFunction func, void* userData) {
    // Checked before the lock too: functions run by shutdown (which holds the lock exclusively) may
    // post again, and must be refused rather than wait for the lock.
    if (isShutDown())
        return false;
    std::shared_lock lock(crossThreadLock_);
    if (isShutDown())
        return false;
    AsyncCallRegistry::Token token = registry_->makeRecord(func, userData);
    if (!postToMainThread(&AsyncCallRegistry::trampoline, token)) {
        registry_->dropRecord(token);
        return false;
    }
    return true;
}

bool BrowserHost::queueBoundCall(const FunctorCallPtr& functor) {
    return CrossThreadCall::runAsynchronously(*this, functor);
}

void BrowserHost::retainObject(const JSAPIPtr& object) {
    std::lock_guard lock(retentionLock_);
    retained_.push_back(object);
}

void BrowserHost::releaseObject(const JSAPIPtr& object) {
    JSAPIPtr released;  // dies after the lock is let go
    {
        std::lock_guard lock(retentionLock_);
        for (auto it = retained_.begin(); it != retained_.end(); ++it) {
            if (*it == object) {
                released = std::move(*it);
                retained_.erase(it);
                break;
            }
        }
    }
    if (onMainThread())
        deferredRelease();
}

void BrowserHost::releaseRetainedObjects() {
    std::lock_guard lock(retentionLock_);
    retained_.clear();
    deferredRelease();
}

std::size_t BrowserHost::retainedCount() const {
    std::lock_guard lock(retentionLock_);
    return retained_.size();
}

}  // namespace FB
