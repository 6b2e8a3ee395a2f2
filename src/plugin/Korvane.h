#pragma once

#include <string>

#include "core/PluginCore.h"
#include "core/PluginEvent.h"
#include "core/PluginWindow.h"

// The signing plug-in: one per embedded element. Its root scriptable object is a KorvaneAPI. It always
// asks for a windowed instance and handles none of its window's events.
class Korvane : public FB::PluginCore {
  public:
    Korvane() = default;
    ~Korvane() override;

    // Sends mouse and window events from a plug-in window to the matching handler; anything else, or an
    // event from another kind of source, is not handled.
    bool handleEvent(FB::PluginEvent* event, FB::PluginEventSource* source) override;
    void onReady() override {}
    void onShutdown() override {}
    FB::JSAPIPtr createScriptObject() override;
    FB::JSAPIPtr getScriptObject() override;
    bool wantsWindowless() override { return false; }

    // Reads the page's origin from the first host: the instance keeps its PINs under that origin for its
    // whole life, whatever the page does to its location later.
    void attachHost(const FB::BrowserHostPtr& host) override;
    // The origin whose PINs this instance uses. A page that names no origin (no window, a file: page)
    // gets one of its own, shared with no other instance.
    const std::string& pinOrigin() const { return pinOrigin_; }
    // True for an origin given to an instance whose page names none.
    static bool isUnnamedOrigin(const std::string& origin);

    virtual bool onMouseDown(FB::MouseDownEvent* event, FB::PluginWindow* window) { return false; }
    virtual bool onMouseUp(FB::MouseUpEvent* event, FB::PluginWindow* window) { return false; }
    virtual bool onMouseMove(FB::MouseMoveEvent* event, FB::PluginWindow* window) { return false; }
    virtual bool onWindowAttached(FB::AttachedEvent* event, FB::PluginWindow* window) { return false; }
    virtual bool onWindowDetached(FB::DetachedEvent* event, FB::PluginWindow* window) { return false; }

  private:
    // The cached root object, kept here so that destruction can drop it before the host is touched.
    FB::JSAPIPtr rootObject_;
    std::string pinOrigin_;
};
