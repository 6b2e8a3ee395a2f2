#include "core/PluginEventSource.h"

#include <algorithm>

#include "core/PluginEvent.h"

namespace FB {

void PluginEventSource::attachObserver(const std::weak_ptr<PluginEventSink>& sink) {
    PluginEventSinkPtr observer = sink.lock();
    if (!observer)
        return;
    {
        std::lock_guard lock(lock_);
        observers_.push_back(sink);
    }
    AttachedEvent event;
    observer->handleEvent(&event, this);
}

void PluginEventSource::detachObserver(const PluginEventSink* sink) {
    PluginEventSinkPtr observer;
    {
        std::lock_guard lock(lock_);
        auto gone = std::remove_if(observers_.begin(), observers_.end(), [&](const auto& entry) {
            PluginEventSinkPtr live = entry.lock();
            if (live && live.get() == sink) {
                observer = live;
                return true;
            }
            return !live;
        });
        observers_.erase(gone, observers_.end());
    }
    if (observer) {
        DetachedEvent event;
        observer->handleEvent(&event, this);
    }
}

bool PluginEventSource::sendEvent(PluginEvent* event) {
    std::vector<std::weak_ptr<PluginEventSink>> observers;
    {
        std::lock_guard lock(lock_);
        observers = observers_;
    }
    // Handlers run outside the lock: they may attach or detach observers.
    for (const auto& entry : observers) {
        if (PluginEventSinkPtr observer = entry.lock(); observer && observer->handleEvent(event, this))
            return true;
    }
    return false;
}

std::size_t PluginEventSource::observerCount() const {
    std::lock_guard lock(lock_);
    return static_cast<std::size_t>(std::count_if(observers_.begin(), observers_.end(),
                                                  [](const auto& entry) { return !entry.expired(); }));
}

}  // namespace FB
