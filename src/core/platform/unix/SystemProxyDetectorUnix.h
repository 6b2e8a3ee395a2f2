#pragma once

#include <map>
#include <mutex>
#include <string>

#include "core/SystemProxyDetector.h"

struct pxProxyFactory_;

namespace FB {

// Proxy detection through libproxy, which follows the desktop's configuration (and the
// http_proxy/https_proxy/no_proxy environment variables when no desktop configuration applies).
class SystemProxyDetectorUnix : public SystemProxyDetector {
  public:
    SystemProxyDetectorUnix();
    ~SystemProxyDetectorUnix() override;
    SystemProxyDetectorUnix(const SystemProxyDetectorUnix&) = delete;
    SystemProxyDetectorUnix& operator=(const SystemProxyDetectorUnix&) = delete;

    bool querySystemProxy(const std::string& url, std::map<std::string, std::string>& settings) override;

  private:
    std::mutex lock_;
    pxProxyFactory_* factory_ = nullptr;
};

}  // namespace FB
