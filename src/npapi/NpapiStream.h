#pragma once

// The browser stream of the NPAPI adapter: a URL request made through NPN_GetURLNotify or
// NPN_PostURLNotify, whose notifyData is the stream itself. It keeps itself alive while the browser
// works on it, and tells its observers when it was created, when data arrives and when it is done.
// This is the least the adapter's stream callbacks need; richer streams belong elsewhere.
//
// Threads: made, fed and finished on the browser's main thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/BrowserStream.h"
#include "core/PluginEvent.h"
#include "core/PluginEventSource.h"
#include "npapi/npapi/npapi.h"

namespace FB::Npapi {

class NpapiBrowserHost;

class StreamCreatedEvent : public PluginEvent {};
class StreamDataArrivedEvent : public PluginEvent {
  public:
    StreamDataArrivedEvent(const void* data, std::size_t length, std::size_t offset)
        : data(data), length(length), offset(offset) {}
    const void* data;
    std::size_t length;
    std::size_t offset;
};
class StreamCompletedEvent : public PluginEvent {
  public:
    explicit StreamCompletedEvent(bool success) : success(success) {}
    bool success;
};

class NpapiStream : public BrowserStream,
                    public PluginEventSource,
                    public std::enable_shared_from_this<NpapiStream> {
  public:
    NpapiStream(std::string url, bool cache, bool seekable, std::size_t bufferSize,
                const std::shared_ptr<NpapiBrowserHost>& host);
    ~NpapiStream() override;

    const std::string& url() const override { return url_; }
    // Ends the stream: the browser's stream is destroyed and the stream lets go of itself.
    bool close() override;

    bool cache() const { return cache_; }
    bool seekable() const { return seekable_; }
    std::size_t bufferSize() const { return bufferSize_; }
    bool isOpen() const { return open_; }

    // The browser's record of the stream, once NPP_NewStream has given it.
    void setStreamHandle(NPStream* stream) { stream_ = stream; }
    NPStream* streamHandle() const { return stream_; }

    // Kept alive by itself until the browser is done with it (NPP_URLNotify or a close).
    void keepAlive() { self_ = shared_from_this(); }
    void releaseKeepAlive() { self_.reset(); }

    // Stream callbacks of the instance.
    void opened() { open_ = true; }
    void dataArrived(const void* data, std::size_t length, std::size_t offset);
    // The browser is done with the request (NPP_URLNotify): observers hear, the keep-alive goes.
    void finished(bool success);

  private:
    std::string url_;
    bool cache_;
    bool seekable_;
    std::size_t bufferSize_;
    std::weak_ptr<NpapiBrowserHost> host_;
    NPStream* stream_ = nullptr;
    bool open_ = false;
    bool finished_ = false;
    std::shared_ptr<NpapiStream> self_;
};

using NpapiStreamPtr = std::shared_ptr<NpapiStream>;

}  // namespace FB::Npapi
