#include "npapi/platform/win/WinMessageWindow.h"

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>

namespace FB {

namespace {

std::mutex& mapLock() {
    static std::mutex lock;
    return lock;
}

std::map<HWND, WinMessageWindow*>& windowMap() {
    static std::map<HWND, WinMessageWindow*> windows;
    return windows;
}

std::atomic<unsigned> windowCounter{0};

}  // namespace

HINSTANCE WinMessageWindow::moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WinMessageWindow::windowProcedure), &module);
    return module;
}

WinMessageWindow::WinMessageWindow() {
    const std::wstring number = std::to_wstring(windowCounter++);
    className_ = L"FBEventWindow" + number;
    const std::wstring title = L"Message" + number;
    const HINSTANCE instance = moduleInstance();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &WinMessageWindow::windowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className_.c_str();
    bool registered = RegisterClassExW(&windowClass) != 0;
    if (!registered && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("Could not register window class");
    }

    window_ = CreateWindowExW(0, className_.c_str(), title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              instance, nullptr);
    if (window_ == nullptr) {
        if (registered) {
            UnregisterClassW(className_.c_str(), instance);
        }
        throw std::runtime_error("Could not create Message Window");
    }
    std::lock_guard<std::mutex> guard(mapLock());
    windowMap()[window_] = this;
}

WinMessageWindow::~WinMessageWindow() {
    {
        std::lock_guard<std::mutex> guard(mapLock());
        windowMap().erase(window_);
    }
    DestroyWindow(window_);
    // The class names this module's window procedure: it must not outlive the module, which the browser
    // may unload and load again at another address.
    UnregisterClassW(className_.c_str(), moduleInstance());
    handler_ = nullptr;
}

void WinMessageWindow::setHandler(Handler handler) {
    std::lock_guard<std::mutex> guard(mapLock());
    handler_ = std::move(handler);
}

std::size_t WinMessageWindow::windowCount() {
    std::lock_guard<std::mutex> guard(mapLock());
    return windowMap().size();
}

LRESULT CALLBACK WinMessageWindow::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(mapLock());
        auto found = windowMap().find(window);
        if (found != windowMap().end()) {
            handler = found->second->handler_;
        }
    }
    // The handler runs outside the lock: what it calls may make or destroy message windows.
    LRESULT result = 0;
    if (handler && handler(window, message, wParam, lParam, result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace FB
