#include "npapi/NpapiStream.h"

#include <utility>

#include "npapi/NpapiBrowserHost.h"

namespace FB::Npapi {

NpapiStream::NpapiStream(std::string url, bool cache, bool seekable, std::size_t bufferSize,
                         const std::shared_ptr<NpapiBrowserHost>& host)
    : url_(std::move(url)), cache_(cache), seekable_(seekable), bufferSize_(bufferSize), host_(host) {}

NpapiStream::~NpapiStream() = default;

bool NpapiStream::close() {
    bool wasOpen = open_;
    open_ = false;
    if (stream_ != nullptr) {
        NPStream* stream = stream_;
        stream_ = nullptr;
        if (auto host = host_.lock()) {
            host->destroyStream(stream, NPRES_USER_BREAK);
        }
    }
    // The last owner may be this keep-alive; the stream must outlive the line that drops it.
    auto keep = std::move(self_);
    return wasOpen;
}

void NpapiStream::dataArrived(const void* data, std::size_t length, std::size_t offset) {
    StreamDataArrivedEvent event(data, length, offset);
    sendEvent(&event);
}

void NpapiStream::finished(bool success) {
    open_ = false;
    stream_ = nullptr;
    if (!finished_) {
        finished_ = true;
        StreamCompletedEvent event(success);
        sendEvent(&event);
    }
    auto keep = std::move(self_);
}

}  // namespace FB::Npapi
