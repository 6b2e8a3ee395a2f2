#include "scripting/JSAPIImpl.h"

#include <exception>

#include "scripting/JSObject.h"
#include "scripting/script_error.h"
#include "scripting/utf_conversion.h"

namespace FB {

JSAPIImpl::JSAPIImpl(SecurityZone zone) : zones_{zone} {}

JSAPIImpl::~JSAPIImpl() = default;

void JSAPIImpl::invalidate() {
    valid_ = false;
}

void JSAPIImpl::enterZone(SecurityZone zone) {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    zones_.push_back(zone);
}

void JSAPIImpl::leaveZone() {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    // The base zone always stays: an unbalanced leave must not leave the object without a zone.
    if (zones_.size() > 1) {
        zones_.pop_back();
    }
}

void JSAPIImpl::setBaseZone(SecurityZone zone) {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    zones_.front() = zone;
}

SecurityZone JSAPIImpl::baseZone() const {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    return zones_.front();
}

SecurityZone JSAPIImpl::currentZone() const {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    return zones_.back();
}

variant JSAPIImpl::invokeInZone(SecurityZone zone, const std::string& name, const VariantList& args) {
    std::lock_guard<RecursiveLock> lock(zoneMutex_);
    return JSAPI::invokeInZone(zone, name, args);
}

void JSAPIImpl::countListeners() {
    std::size_t count = 0;
    for (const auto& entry : handlers_) {
        count += entry.second.size();
    }
    for (const auto& entry : interfaces_) {
        count += entry.second.size();
    }
    listenerCount_.store(count, std::memory_order_release);
}

void* JSAPIImpl::handlerId(const JSObjectPtr& handler) {
    void* id = handler->eventIdentity();
    return id != nullptr ? id : static_cast<void*>(handler.get());
}

void JSAPIImpl::addEventHandler(const std::string& name, const JSObjectPtr& handler) {
    if (!handler) {
        throw invalid_arguments();
    }
    void* context = handler->eventContextOf();
    void* id = handlerId(handler);
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    auto& byName = handlers_[context];
    auto [first, last] = byName.equal_range(name);
    for (auto it = first; it != last; ++it) {
        if (handlerId(it->second) == id) {
            return;
        }
    }
    byName.emplace(name, handler);
    countListeners();
}

void JSAPIImpl::removeEventHandler(const std::string& name, const JSObjectPtr& handler) {
    if (!handler) {
        throw invalid_arguments();
    }
    void* context = handler->eventContextOf();
    void* id = handlerId(handler);
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    auto found = handlers_.find(context);
    if (found == handlers_.end()) {
        return;
    }
    auto [first, last] = found->second.equal_range(name);
    for (auto it = first; it != last; ++it) {
        if (handlerId(it->second) == id) {
            found->second.erase(it);
            countListeners();
            return;
        }
    }
}

void JSAPIImpl::addEventInterface(const JSObjectPtr& handler) {
    if (!handler) {
        throw invalid_arguments();
    }
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    interfaces_[handler->eventContextOf()][handlerId(handler)] = handler;
    countListeners();
}

void JSAPIImpl::removeEventInterface(const JSObjectPtr& handler) {
    if (!handler) {
        throw invalid_arguments();
    }
    std::lock_guard<std::recursive_mutex> lock(eventMutex_);
    auto found = interfaces_.find(handler->eventContextOf());
    if (found != interfaces_.end()) {
        found->second.erase(handlerId(handler));
        countListeners();
    }
}

void JSAPIImpl::addProxy(const JSAPIImplWeakPtr& proxy) {
    std::lock_guard<std::recursive_mutex> lock(proxyMutex_);
    proxies_.push_back(proxy);
    proxyCount_.store(proxies_.size(), std::memory_order_release);
}

void JSAPIImpl::removeProxy(const JSAPIImpl* proxy) {
    std::lock_guard<std::recursive_mutex> lock(proxyMutex_);
    std::erase_if(proxies_, [proxy](const JSAPIImplWeakPtr& entry) {
        auto live = entry.lock();
        return !live || live.get() == proxy;
    });
    proxyCount_.store(proxies_.size(), std::memory_order_release);
}

std::vector<JSAPIImplPtr> JSAPIImpl::liveProxies() {
    // The proxies are called after the lock is released, so that a proxy firing back into this
    // object (or one of its own proxies) cannot deadlock against another thread.
    std::vector<JSAPIImplPtr> live;
    if (proxyCount_.load(std::memory_order_acquire) == 0) {
        return live;
    }
    std::lock_guard<std::recursive_mutex> lock(proxyMutex_);
    std::erase_if(proxies_, [&live](const JSAPIImplWeakPtr& entry) {
        auto proxy = entry.lock();
        if (!proxy) {
            return true;
        }
        live.push_back(std::move(proxy));
        return false;
    });
    proxyCount_.store(proxies_.size(), std::memory_order_release);
    return live;
}

variant JSAPIImpl::translateValue(const JSAPIPtr& source, const variant& value) {
    if (!source) {
        return value;
    }
    if (value.is_of_type<JSAPIPtr>() && value.get<JSAPIPtr>() == source) {
        return variant(shared_from_this());
    }
    if (value.is_of_type<JSAPIWeakPtr>() && value.get<JSAPIWeakPtr>().lock() == source) {
        return variant(weak_from_this());
    }
    return value;
}

VariantList JSAPIImpl::translateForProxy(const JSAPIPtr& source, const VariantList& args) {
    VariantList out;
    out.reserve(args.size());
    for (const auto& value : args) {
        out.push_back(translateValue(source, value));
    }
    return out;
}

VariantMap JSAPIImpl::translateForProxy(const JSAPIPtr& source, const VariantMap& members) {
    VariantMap out;
    for (const auto& [key, value] : members) {
        out.emplace_hint(out.end(), key, translateValue(source, value));
    }
    return out;
}

void JSAPIImpl::fireEvent(const std::string& name, const VariantList& args) {
    if (!valid()) {
        return;
    }
    const std::vector<JSAPIImplPtr> proxies = liveProxies();
    if (!proxies.empty()) {
        JSAPIPtr self = weak_from_this().lock();
        for (const auto& proxy : proxies) {
            proxy->fireEvent(name, proxy->translateForProxy(self, args));
        }
    }
    try {
        fireEventLater(name, args);
    } catch (const script_error&) {
        // Delivery problems of one handler are not the firing code's business.
    }
}

void JSAPIImpl::fireEvent(const std::wstring& name, const VariantList& args) {
    fireEvent(wideToUtf8(name), args);
}

void JSAPIImpl::fireEventLater(const std::string& name, const VariantList& args) {
    if (!valid()) {
        return;
    }
    deliverEvent(name, args);
}

void JSAPIImpl::firePageEvent(const std::string& name, const VariantList& args) {
    firePageEvent(name, VariantMap(), args);
}

void JSAPIImpl::firePageEvent(const std::string& name, const VariantMap& members) {
    firePageEvent(name, members, VariantList());
}

void JSAPIImpl::firePageEvent(const std::string& name, const VariantMap& members, const VariantList& args) {
    if (!valid()) {
        return;
    }
    const std::vector<JSAPIImplPtr> proxies = liveProxies();
    if (!proxies.empty()) {
        JSAPIPtr self = weak_from_this().lock();
        for (const auto& proxy : proxies) {
            proxy->firePageEvent(name, proxy->translateForProxy(self, members),
                                 proxy->translateForProxy(self, args));
        }
    }
    // The event object is built only for someone to receive it.
    if (hasEventListeners()) {
        deliverEvent(name, VariantList{variant(makePageEvent(name, members, args))});
    }
}

VariantMap JSAPIImpl::makePageEvent(const std::string& name, const VariantMap& members,
                                    const VariantList& args) {
    JSAPIPtr self = weak_from_this().lock();
    VariantMap event;
    event["type"] = name;
    event["target"] = self;
    event["currentTarget"] = self;
    event["eventPhase"] = 2;
    event["bubbles"] = false;
    event["cancelable"] = false;
    event["namespaceURI"] = name;
    for (const auto& [key, value] : members) {
        event.emplace(key, value);
    }
    event["arguments"] = args;
    return event;
}

void JSAPIImpl::declareEvent(const std::wstring& name) {
    declareEvent(wideToUtf8(name));
}

void JSAPIImpl::deliverEvent(const std::string& name, const VariantList& args) {
    // Nobody listening: nothing to collect, no lock to take.
    if (!hasEventListeners()) {
        return;
    }
    struct Group {
        std::vector<JSObjectPtr> handlers;
        std::vector<JSObjectPtr> interfaces;
    };
    std::map<void*, Group> groups;
    {
        std::lock_guard<std::recursive_mutex> lock(eventMutex_);
        for (const auto& [context, byName] : handlers_) {
            auto [first, last] = byName.equal_range(name);
            for (auto it = first; it != last; ++it) {
                groups[context].handlers.push_back(it->second);
            }
        }
        for (const auto& [context, byId] : interfaces_) {
            for (const auto& entry : byId) {
                groups[context].interfaces.push_back(entry.second);
            }
        }
    }

    // One handler that cannot be reached must not cost the others their event: every delivery is
    // attempted, and the first failure is raised once all have been tried.
    std::exception_ptr failure;
    auto attempt = [&failure](auto&& deliver) {
        try {
            deliver();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    for (const auto& [context, group] : groups) {
        std::vector<JSObjectPtr> batchHandlers;
        std::vector<JSObjectPtr> batchInterfaces;
        for (const auto& handler : group.handlers) {
            if (!handler->isValid()) {
                continue;
            }
            if (handler->acceptsEventBatches()) {
                batchHandlers.push_back(handler);
            } else {
                attempt([&] { handler->invokeLater("", args); });
            }
        }
        for (const auto& target : group.interfaces) {
            if (!target->isValid()) {
                continue;
            }
            if (target->acceptsEventBatches()) {
                batchInterfaces.push_back(target);
            } else {
                attempt([&] { target->invokeLater(name, args); });
            }
        }
        if (!batchHandlers.empty() || !batchInterfaces.empty()) {
            const JSObjectPtr& carrier =
                !batchHandlers.empty() ? batchHandlers.front() : batchInterfaces.front();
            attempt([&] { carrier->deliverEventBatch(name, args, batchHandlers, batchInterfaces); });
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace FB
