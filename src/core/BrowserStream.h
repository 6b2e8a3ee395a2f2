#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace FB {

class PluginEventSink;

// What a page asks for when it opens a download or upload through the browser.
struct BrowserStreamRequest {
    std::string url;
    std::shared_ptr<PluginEventSink> callback;  // receives the stream's data events
    bool cache = true;
    bool seekable = false;
    std::size_t internalBufferSize = 128 * 1024;
    std::string postData;  // only for POST streams
};

// A stream through the browser. Browser streams are provided by the browser adapters; the core only
// keeps them alive and closes them when the host shuts down.
class BrowserStream {
  public:
    virtual ~BrowserStream() = default;
    virtual const std::string& url() const = 0;
    virtual bool close() = 0;
};

using BrowserStreamPtr = std::shared_ptr<BrowserStream>;

}  // namespace FB
