#include "PostedCallQueue.h"

#include <algorithm>

namespace FB::Npapi::fakebrowser {

void PostedCallQueue::addInstance(NPP npp) {
    std::lock_guard lock(mutex_);
    live_.insert(npp);
    destroyed_.erase(npp);
}

size_t PostedCallQueue::removeInstance(NPP npp, bool dropCalls) {
    std::lock_guard lock(mutex_);
    live_.erase(npp);
    destroyed_.insert(npp);
    if (!dropCalls) {
        return 0;
    }
    auto removed =
        std::remove_if(calls_.begin(), calls_.end(), [npp](const Call& c) { return c.npp == npp; });
    size_t count = static_cast<size_t>(calls_.end() - removed);
    calls_.erase(removed, calls_.end());
    return count;
}

PostedCallQueue::Outcome PostedCallQueue::post(const Call& call) {
    {
        std::lock_guard lock(mutex_);
        if (live_.count(call.npp) == 0) {
            return destroyed_.count(call.npp) != 0 ? Outcome::DestroyedInstance : Outcome::UnknownInstance;
        }
        calls_.push_back(call);
        ++postedTotal_;
    }
    arrived_.notify_all();
    return Outcome::Queued;
}

std::optional<PostedCallQueue::Call> PostedCallQueue::take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (calls_.empty() && timeout.count() > 0) {
        arrived_.wait_for(lock, timeout, [this] { return !calls_.empty(); });
    }
    if (calls_.empty()) {
        return std::nullopt;
    }
    Call call = calls_.front();
    calls_.pop_front();
    return call;
}

size_t PostedCallQueue::clear() {
    std::lock_guard lock(mutex_);
    size_t count = calls_.size();
    calls_.clear();
    return count;
}

size_t PostedCallQueue::pending() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
}

size_t PostedCallQueue::postedTotal() const {
    std::lock_guard lock(mutex_);
    return postedTotal_;
}

}  // namespace FB::Npapi::fakebrowser
