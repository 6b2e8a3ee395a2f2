#include "core/platform/unix/SystemProxyDetectorUnix.h"

#include <proxy.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "core/Log.h"
#include "core/UrlScheme.h"

namespace FB {

namespace {

struct ProxyEntry {
    std::string scheme;  // lower case, "http" when the entry names none
    std::string host;
    std::string port;
};

std::string defaultPort(const std::string& scheme) {
    if (scheme == "https")
        return "443";
    if (scheme.rfind("socks", 0) == 0)
        return "1080";
    return "80";
}

// Splits one libproxy answer ("http://user@host:3128", "socks5://[::1]:1080", "host:3128") into its parts.
// A missing port is the scheme's usual one.
ProxyEntry parseEntry(const std::string& entry) {
    ProxyEntry result;
    std::string rest = entry;
    auto sep = rest.find("://");
    if (sep == std::string::npos) {
        result.scheme = "http";
    } else {
        result.scheme = urlScheme(rest);
        rest.erase(0, sep + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = rest.rfind('@'); at != std::string::npos)
        rest.erase(0, at + 1);  // credentials are never handed out as host names

    if (!rest.empty() && rest.front() == '[') {
        auto close = rest.find(']');
        if (close == std::string::npos)
            throw std::runtime_error("malformed proxy address " + entry);
        result.host = rest.substr(1, close - 1);
        rest.erase(0, close + 1);
        if (!rest.empty() && rest.front() == ':')
            result.port = rest.substr(1);
    } else if (auto colon = rest.rfind(':'); colon != std::string::npos) {
        result.host = rest.substr(0, colon);
        result.port = rest.substr(colon + 1);
    } else {
        result.host = rest;
    }
    if (result.host.empty())
        throw std::runtime_error("malformed proxy address " + entry);
    if (result.port.empty())
        result.port = defaultPort(result.scheme);
    return result;
}

using ProxyList = UniquePtrHandle<char*, &px_proxy_factory_free_proxies>;

}  // namespace

void SystemProxyDetectorUnix::FreeFactory::operator()(pxProxyFactory_* factory) const {
    px_proxy_factory_free(factory);
}

SystemProxyDetectorUnix::SystemProxyDetectorUnix() : factory_(px_proxy_factory_new()) {}

bool SystemProxyDetectorUnix::querySystemProxy(const std::string& url,
                                               std::map<std::string, std::string>& settings) {
    settings.clear();
    try {
        if (!factory_)
            throw std::runtime_error("px_proxy_factory_new failed");
        std::vector<std::string> proxies;
        {
            std::lock_guard lock(lock_);
            ProxyList list(px_proxy_factory_get_proxies(factory_.get(), url.c_str()));
            if (!list)
                throw std::runtime_error("px_proxy_factory_get_proxies failed");
            for (char** p = list.get(); *p; ++p)
                proxies.emplace_back(*p);
        }
        // libproxy lists the proxies in order of preference; the first one we can use wins.
        for (const std::string& entry : proxies) {
            if (entry.rfind("direct://", 0) == 0)
                return false;
            ProxyEntry proxy = parseEntry(entry);
            std::string type;
            if (proxy.scheme == "http" || proxy.scheme == "https")
                type = urlScheme(url);
            else if (proxy.scheme.rfind("socks", 0) == 0)
                type = "socks";
            else
                continue;  // a kind of proxy this plug-in cannot describe
            settings["type"] = type;
            settings["hostname"] = proxy.host;
            settings["port"] = proxy.port;
            return true;
        }
        return false;
    } catch (const std::exception& e) {
        Log::info("SystemProxyDetector", std::string("Could not detect system proxy: ") + e.what());
        return false;
    }
}

SystemProxyDetector& SystemProxyDetector::get() {
    static SystemProxyDetectorUnix detector;
    return detector;
}

}  // namespace FB
