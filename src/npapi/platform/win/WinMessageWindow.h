#pragma once

// A hidden message-only window that brings work onto the thread that made it: messages posted to it from
// any thread are handled by that thread's message loop, through a replaceable handler.
//
// Every window has a window class of its own, registered by the constructor and unregistered by the
// destructor, so that no class outlives the module whose window procedure it names.
//
// Threads: made, used and destroyed on one thread (the browser's main thread); only posting to its
// handle may happen elsewhere. The process-wide map from handle to object has its own lock.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace FB {

class WinMessageWindow {
  public:
    // Takes the window, the message, its two parameters and the result to give back; returns whether
    // it handled the message (unhandled ones go to the default window procedure).
    using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)>;

    // Raises std::runtime_error "Could not register window class" or "Could not create Message Window".
    WinMessageWindow();
    ~WinMessageWindow();
    WinMessageWindow(const WinMessageWindow&) = delete;
    WinMessageWindow& operator=(const WinMessageWindow&) = delete;

    HWND handle() const { return window_; }
    const std::wstring& className() const { return className_; }
    void setHandler(Handler handler);

    // Message windows alive in the process.
    static std::size_t windowCount();
    // The module (DLL or program) that holds this code, whose instance handle the classes carry.
    static HINSTANCE moduleInstance();

  private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::wstring className_;
    HWND window_ = nullptr;
    Handler handler_;
};

}  // namespace FB
