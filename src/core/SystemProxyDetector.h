#pragma once

#include <map>
#include <string>

namespace FB {

// Reads the operating system's proxy settings for a URL. One detector serves the whole process.
class SystemProxyDetector {
  public:
    virtual ~SystemProxyDetector() = default;

    // Fills settings with "type", "hostname" and "port" of the proxy to use for url and returns true;
    // returns false (settings possibly empty) when the URL is reached directly or nothing can be
    // detected. Never throws.
    virtual bool querySystemProxy(const std::string& url, std::map<std::string, std::string>& settings) = 0;

    // The process-wide detector, made on first use and destroyed at exit.
    static SystemProxyDetector& get();
};

}  // namespace FB
