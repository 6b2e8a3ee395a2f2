#include "npapi/platform/win/NpapiBrowserHostAsyncWin.h"

namespace FB::Npapi {

namespace {

// One posted call, allocated by the poster and freed by the window once it ran (or was dropped).
struct AsyncCall {
    BrowserHost::MainThreadFunction function;
    void* data;
};

bool runAsyncCall(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
    if (message != NpapiBrowserHostAsyncWin::kAsyncCallMessage) {
        return false;
    }
    std::unique_ptr<AsyncCall> call(reinterpret_cast<AsyncCall*>(lParam));
    if (call && call->function != nullptr) {
        call->function(call->data);
    }
    result = 0;
    return true;
}

}  // namespace

NpapiBrowserHostAsyncWin::NpapiBrowserHostAsyncWin(NpapiPluginModule* module, NPP npp)
    : NpapiBrowserHost(module, npp), window_(std::make_unique<WinMessageWindow>()) {
    window_->setHandler(&runAsyncCall);
}

NpapiBrowserHostAsyncWin::~NpapiBrowserHostAsyncWin() {
    // The calls are not run, but their records are ours to free.
    MSG message;
    while (PeekMessageW(&message, window_->handle(), kAsyncCallMessage, kAsyncCallMessage, PM_REMOVE)) {
        delete reinterpret_cast<AsyncCall*>(message.lParam);
    }
}

bool NpapiBrowserHostAsyncWin::postToMainThread(MainThreadFunction func, void* userData) {
    auto call = std::make_unique<AsyncCall>(AsyncCall{func, userData});
    if (!PostMessageW(window_->handle(), kAsyncCallMessage, 0, reinterpret_cast<LPARAM>(call.get()))) {
        return false;
    }
    call.release();
    return true;
}

}  // namespace FB::Npapi
