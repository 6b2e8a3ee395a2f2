#pragma once

// Common implementation of scriptable objects: validity, security zones, event handlers, event
// firing and proxies.
//
// Locks: the zone lock (a RecursiveLock, cheap to re-enter) guards the zone stack (and, in
// JSAPIAuto, every member table); the event lock guards the handler and interface maps; the proxy
// lock guards the proxy list. All three are recursive because getters, setters and methods run
// under the zone lock and may call back into the same object. A method that fires an event takes the event
// lock inside the zone lock; nothing takes them the other way round. Handlers are collected under the event
// lock and called after it is released.

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scripting/JSAPI.h"
#include "scripting/RecursiveLock.h"

namespace FB {

class JSAPIImpl;
using JSAPIImplPtr = std::shared_ptr<JSAPIImpl>;
using JSAPIImplWeakPtr = std::weak_ptr<JSAPIImpl>;

class JSAPIImpl : public JSAPI {
  public:
    explicit JSAPIImpl(SecurityZone zone = SecurityScope_Public);
    ~JSAPIImpl() override;

    void invalidate() override;
    bool valid() const { return valid_.load(); }

    void enterZone(SecurityZone zone) override;
    void leaveZone() override;
    void setBaseZone(SecurityZone zone) override;
    SecurityZone baseZone() const override;
    SecurityZone currentZone() const override;
    // The zone lock is held from entering the zone to leaving it: no other thread's call runs in
    // the zone pushed for this one.
    variant invokeInZone(SecurityZone zone, const std::string& name, const VariantList& args) override;

    using JSAPI::addEventHandler;
    using JSAPI::removeEventHandler;
    void addEventHandler(const std::string& name, const JSObjectPtr& handler) override;
    void removeEventHandler(const std::string& name, const JSObjectPtr& handler) override;
    void addEventInterface(const JSObjectPtr& handler) override;
    void removeEventInterface(const JSObjectPtr& handler) override;

    // Calls every handler registered under `name`, and every event interface, asynchronously.
    virtual void fireEventLater(const std::string& name, const VariantList& args);
    // Forwards to the proxies, then fireEventLater; script errors of the delivery are swallowed.
    virtual void fireEvent(const std::string& name, const VariantList& args);
    virtual void fireEvent(const std::wstring& name, const VariantList& args);
    // Fires a DOM-style event object ("type", "target", ... "arguments") as the only argument.
    virtual void firePageEvent(const std::string& name, const VariantList& args);
    virtual void firePageEvent(const std::string& name, const VariantMap& members);
    virtual void firePageEvent(const std::string& name, const VariantMap& members, const VariantList& args);
    virtual void declareEvent(const std::wstring& name);
    virtual void declareEvent(const std::string& name) {}

    virtual void addProxy(const JSAPIImplWeakPtr& proxy);
    virtual void removeProxy(const JSAPIImpl* proxy);

  protected:
    // Replaces every value in `args` that refers to `source` by this object (a proxy of source).
    virtual VariantList translateForProxy(const JSAPIPtr& source, const VariantList& args);
    virtual VariantMap translateForProxy(const JSAPIPtr& source, const VariantMap& members);

    // The event object handed to page event handlers.
    VariantMap makePageEvent(const std::string& name, const VariantMap& members, const VariantList& args);

    // Calls the handlers of `name` (as functions) and the event interfaces (method `name`) with `args`.
    void deliverEvent(const std::string& name, const VariantList& args);
    // Whether any handler or event interface is registered (any name, any context).
    bool hasEventListeners() const { return listenerCount_.load(std::memory_order_acquire) > 0; }

    RecursiveLock& zoneMutex() const { return zoneMutex_; }
    // The current zone, for callers that hold the zone lock already.
    SecurityZone currentZoneLocked() const { return zones_.back(); }
    // Whether a fired event can reach anyone through the handler maps or the proxies.
    bool hasEventReceivers() const {
        return hasEventListeners() || proxyCount_.load(std::memory_order_acquire) > 0;
    }
    std::recursive_mutex& eventMutex() const { return eventMutex_; }

  private:
    using HandlerMap = std::multimap<std::string, JSObjectPtr>;
    using InterfaceMap = std::map<void*, JSObjectPtr>;

    static void* handlerId(const JSObjectPtr& handler);
    // Recounts handlers and interfaces; called under the event lock after every change.
    void countListeners();
    std::vector<JSAPIImplPtr> liveProxies();
    variant translateValue(const JSAPIPtr& source, const variant& value);

    std::map<void*, HandlerMap> handlers_;
    std::map<void*, InterfaceMap> interfaces_;
    std::vector<JSAPIImplWeakPtr> proxies_;
    mutable std::recursive_mutex eventMutex_;
    mutable std::recursive_mutex proxyMutex_;
    mutable RecursiveLock zoneMutex_;
    std::deque<SecurityZone> zones_;
    std::atomic<bool> valid_{true};
    // Kept with the maps so that firing with no listener or proxy returns before taking any lock.
    std::atomic<std::size_t> listenerCount_{0};
    std::atomic<std::size_t> proxyCount_{0};
};

}  // namespace FB
