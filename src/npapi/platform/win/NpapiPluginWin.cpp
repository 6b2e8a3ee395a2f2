#include "npapi/platform/win/NpapiPluginWin.h"

#include <windows.h>

#include <vector>

#include "scripting/utf_conversion.h"

namespace FB::Npapi {

NpapiPluginWin::NpapiPluginWin(FactoryBase& factory, const NpapiBrowserHostPtr& host,
                               const std::string& mimetype)
    : NpapiPlugin(factory, host, mimetype) {
    PluginCore::recordPlatform("Windows", "NPAPI");
    setFilesystemPath(modulePath());
}

NPError NpapiPluginWin::SetWindow(NPWindow* window) {
    if (window == nullptr || (window->window == nullptr && window->type != NPWindowTypeDrawable)) {
        core()->clearWindow();
        window_.reset();
    }
    return NPERR_NO_ERROR;
}

int16_t NpapiPluginWin::HandleEvent(void* /*event*/) {
    // Only a windowless plug-in window draws or handles messages, and none is ever made here.
    return 0;
}

std::string NpapiPluginWin::modulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&NpapiPluginWin::modulePath), &module)) {
        return {};
    }
    // Long paths need more than MAX_PATH; the buffer grows until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return wideToUtf8(std::wstring(buffer.data(), length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace FB::Npapi
