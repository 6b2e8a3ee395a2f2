#pragma once

#include <map>
#include <string>

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include "core/SystemProxyDetector.h"

namespace FB {

// Proxy detection from the system's WinINet settings (the current user's Internet Settings).
class SystemProxyDetectorWin : public SystemProxyDetector {
  public:
    using QueryOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD);

    // Tests may supply another query function; the detector then asks it instead of WinINet.
    explicit SystemProxyDetectorWin(QueryOption queryOption = &InternetQueryOptionW);

    bool querySystemProxy(const std::string& url, std::map<std::string, std::string>& settings) override;

  private:
    QueryOption queryOption_;
};

}  // namespace FB
