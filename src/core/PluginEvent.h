#pragma once

namespace FB {

// Events a plug-in window sends to its observers. Observers tell them apart by their concrete type.
class PluginEvent {
  public:
    virtual ~PluginEvent() = default;
};

class MouseEvent : public PluginEvent {
  public:
    enum class Button { None, Left, Middle, Right };

    MouseEvent(int x, int y, Button button = Button::None) : x(x), y(y), button(button) {}

    int x;
    int y;
    Button button;
};

class MouseDownEvent : public MouseEvent {
  public:
    using MouseEvent::MouseEvent;
};

class MouseUpEvent : public MouseEvent {
  public:
    using MouseEvent::MouseEvent;
};

class MouseMoveEvent : public MouseEvent {
  public:
    using MouseEvent::MouseEvent;
};

// Sent to an observer when it is attached to a window, and when it is detached from it.
class AttachedEvent : public PluginEvent {};
class DetachedEvent : public PluginEvent {};

}  // namespace FB
