#pragma once

#include "core/PluginEventSource.h"

namespace FB {

// What the browser tells the plug-in about its window: a native window handle.
struct WindowContext {
    void* handle = nullptr;
};

// What the browser tells a windowless plug-in: the drawable it paints into.
struct WindowlessWindowContext {
    void* drawable = nullptr;
};

// The plug-in's window as the core and the signing plug-in need it: an event source that carries the
// browser's native handle. It does no drawing; the browser adapter feeds it events with sendEvent.
class PluginWindow : public PluginEventSource {
  public:
    explicit PluginWindow(const WindowContext& context) : handle_(context.handle) {}

    void* nativeHandle() const { return handle_; }

  private:
    void* handle_;
};

// The window of a windowless instance: the drawable the browser gives.
class PluginWindowlessWindow : public PluginWindow {
  public:
    explicit PluginWindowlessWindow(const WindowlessWindowContext& context)
        : PluginWindow(WindowContext{context.drawable}) {}
};

}  // namespace FB
