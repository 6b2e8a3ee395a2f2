#pragma once

#include <windows.h>

#include <memory>

#include "npapi/NpapiBrowserHost.h"
#include "npapi/platform/win/WinMessageWindow.h"

namespace FB::Npapi {

// The browser host for browsers whose NPN_PluginThreadAsyncCall cannot be used (minor version below 19,
// or a WebKit browser): calls for the main thread are posted to a hidden message window that the main
// thread made, and run by the browser's message loop.
class NpapiBrowserHostAsyncWin : public NpapiBrowserHost {
  public:
    // The message posted for every call.
    static constexpr UINT kAsyncCallMessage = WM_USER + 1;

    // Raises std::runtime_error when the message window cannot be made.
    NpapiBrowserHostAsyncWin(NpapiPluginModule* module, NPP npp);
    // Calls still posted to the window are dropped unrun with it.
    ~NpapiBrowserHostAsyncWin() override;

    // Posts even after shutdown, until the host is destroyed; false when the window refuses the message.
    bool postToMainThread(MainThreadFunction func, void* userData) override;

    HWND messageWindow() const { return window_->handle(); }

  private:
    std::unique_ptr<WinMessageWindow> window_;
};

}  // namespace FB::Npapi
