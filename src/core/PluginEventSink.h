#pragma once

#include <memory>

namespace FB {

class PluginEvent;
class PluginEventSource;

// An object that receives the events of plug-in windows. It is always owned by shared pointers and
// keeps a weak reference to itself, so that it can hand out shared pointers to itself.
class PluginEventSink : public std::enable_shared_from_this<PluginEventSink> {
  public:
    virtual ~PluginEventSink() = default;

    // Handles event, sent by source; true when the event was handled.
    virtual bool handleEvent(PluginEvent* event, PluginEventSource* source) = 0;
};

using PluginEventSinkPtr = std::shared_ptr<PluginEventSink>;

}  // namespace FB
