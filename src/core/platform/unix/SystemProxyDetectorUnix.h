#pragma once

#include <map>
#include <mutex>
#include <string>

#include "core/SystemProxyDetector.h"
#include "core/UniqueHandle.h"

struct pxProxyFactory_;

namespace FB {

// Proxy detection through libproxy, which follows the desktop's configuration (and the
// http_proxy/https_proxy/no_proxy environment variables when no desktop configuration applies).
class SystemProxyDetectorUnix : public SystemProxyDetector {
  public:
    SystemProxyDetectorUnix();

    bool querySystemProxy(const std::string& url, std::map<std::string, std::string>& settings) override;

  private:
    // px_proxy_factory_free, kept out of this header with the rest of libproxy's declarations.
    struct FreeFactory {
        void operator()(pxProxyFactory_* factory) const;
    };

    std::mutex lock_;
    UniqueHandle<pxProxyFactory_*, FreeFactory> factory_;
};

}  // namespace FB
