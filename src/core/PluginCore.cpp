#include "core/PluginCore.h"

#include <exception>
#include <mutex>
#include <stdexcept>

#include "core/Log.h"

namespace FB {

namespace {

constexpr const char* kLogSource = "PluginCore";
constexpr int kOnloadDelayMs = 250;

struct Platform {
    std::mutex lock;
    std::string os;
    std::string browser;
};

Platform& platform() {
    static Platform p;
    return p;
}

}  // namespace

std::atomic<int> PluginCore::liveCount_{0};

PluginCore::PluginCore() {
    ++liveCount_;
}

PluginCore::~PluginCore() {
    // The host is shut down as soon as the last owner lets go of the instance.
    if (host_)
        host_->shutdown();
    --liveCount_;
    // Members go in reverse order: root object, window pointer, parameters, path, host.
}

void PluginCore::attachHost(const BrowserHostPtr& host) {
    host_ = host;
}

void PluginCore::setWindow(PluginWindow* window) {
    Log::info(kLogSource, "Window Set");
    if (window_ && window_ != window)
        clearWindow();
    window_ = window;
    if (window)
        window->attachObserver(weak_from_this());
}

void PluginCore::clearWindow() {
    Log::info(kLogSource, "Window Cleared");
    if (window_) {
        window_->detachObserver(this);
        window_ = nullptr;
    }
}

bool PluginCore::markReady() {
    Log::info(kLogSource, "Plugin Ready");
    bool ready = false;
    try {
        auto onload = params_.find("onload");
        if (onload != params_.end()) {
            if (!host_)
                throw std::logic_error("no browser host");
            host_->installCallFunction(this);
            JSObjectPtr handler = onload->second.convert<JSObjectPtr>();
            if (handler) {
                Log::info(kLogSource, "InvokeDelayed(onload)");
                VariantList args{variant(getScriptObject())};
                // -1: the page has no call function, so nothing was scheduled.
                ready = host_->invokeDelayed(kOnloadDelayMs, handler, args, "") != -1;
            }
        }
    } catch (...) {
        // A page without a usable handler still gets a ready instance.
    }
    onReady();
    return ready;
}

JSAPIPtr PluginCore::getScriptObject() {
    if (!rootObject_)
        rootObject_ = createScriptObject();
    return rootObject_;
}

bool PluginCore::wantsWindowless() {
    auto it = params_.find("windowless");
    if (it == params_.end())
        return false;
    try {
        return it->second.convert<bool>();
    } catch (const bad_variant_cast&) {
        return false;
    }
}

void PluginCore::storeParams(const VariantMap& params) {
    for (const auto& [name, value] : params) {
        try {
            std::string text = value.convert<std::string>();
            if (name.size() >= 2 && name.compare(0, 2, "on") == 0) {
                DOM::WindowPtr window = host_ ? host_->getPageWindow() : nullptr;
                if (!window)
                    throw std::runtime_error("no page window");
                JSObjectPtr handler = window->pageObject()->getProperty(text).convert<JSObjectPtr>();
                Log::info(kLogSource, "Found <param> event handler: " + name);
                params_[name] = variant(handler);
            } else {
                params_[name] = value;
            }
        } catch (const std::exception& e) {
            Log::info(kLogSource, "Exception processing <param> " + name + ": " + e.what());
            params_[name] = value;
        }
    }
}

std::optional<std::string> PluginCore::paramValue(const std::string& name) {
    auto it = params_.find(name);
    if (it == params_.end())
        return std::nullopt;
    return it->second.convert<std::string>();
}

void PluginCore::recordPlatform(const std::string& os, const std::string& browser) {
    {
        Platform& p = platform();
        std::lock_guard lock(p.lock);
        p.os = os;
        p.browser = browser;
    }
    Log::info(kLogSource, "os: " + os + "; browser: " + browser);
}

std::string PluginCore::platformOs() {
    Platform& p = platform();
    std::lock_guard lock(p.lock);
    return p.os;
}

std::string PluginCore::platformBrowser() {
    Platform& p = platform();
    std::lock_guard lock(p.lock);
    return p.browser;
}

}  // namespace FB
