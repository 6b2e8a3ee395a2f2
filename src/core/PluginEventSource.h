#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/PluginEventSink.h"

namespace FB {

// Something that sends plug-in events to observers: the plug-in windows. Observers are held weakly;
// one that has gone is skipped and forgotten.
class PluginEventSource {
  public:
    virtual ~PluginEventSource() = default;

    // Adds sink as observer (again, if it already is one) and sends it an AttachedEvent.
    virtual void attachObserver(const std::weak_ptr<PluginEventSink>& sink);
    // Removes every entry of sink and sends it a DetachedEvent.
    virtual void detachObserver(const PluginEventSink* sink);

    // Offers event to the observers in the order they attached, until one handles it.
    virtual bool sendEvent(PluginEvent* event);

    std::size_t observerCount() const;

  private:
    mutable std::recursive_mutex lock_;
    std::vector<std::weak_ptr<PluginEventSink>> observers_;
};

}  // namespace FB
