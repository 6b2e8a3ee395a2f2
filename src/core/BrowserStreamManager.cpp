#include "core/BrowserStreamManager.h"

#include <utility>

namespace FB {

BrowserStreamManager::~BrowserStreamManager() {
    std::set<BrowserStreamPtr> streams;
    {
        std::lock_guard lock(lock_);
        streams.swap(streams_);
    }
    for (const BrowserStreamPtr& stream : streams)
        stream->close();
}

void BrowserStreamManager::retainStream(const BrowserStreamPtr& stream) {
    if (!stream)
        return;
    std::lock_guard lock(lock_);
    streams_.insert(stream);
}

void BrowserStreamManager::releaseStream(const BrowserStreamPtr& stream) {
    BrowserStreamPtr keep;  // the stream may die here: not under our lock
    std::lock_guard lock(lock_);
    if (auto it = streams_.find(stream); it != streams_.end()) {
        keep = *it;
        streams_.erase(it);
    }
}

std::size_t BrowserStreamManager::count() const {
    std::lock_guard lock(lock_);
    return streams_.size();
}

}  // namespace FB
