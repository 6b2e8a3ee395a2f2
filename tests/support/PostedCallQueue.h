// Calls posted with NPN_PluginThreadAsyncCall, waiting for the test to run them as the browser's
// main thread. Any thread may post; the queue knows which instances exist so that posting never
// needs the browser's main-thread state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "npapi/npapi/npapi.h"

namespace FB::Npapi::fakebrowser {

class PostedCallQueue {
  public:
    struct Call {
        NPP npp;
        void (*function)(void*);
        void* data;
        std::thread::id poster;
    };
    enum class Outcome { Queued, UnknownInstance, DestroyedInstance };

    void addInstance(NPP npp);
    // Marks the instance destroyed; its queued calls are dropped when `dropCalls` is set.
    // Returns the number dropped.
    size_t removeInstance(NPP npp, bool dropCalls);

    Outcome post(const Call& call);
    // The oldest queued call, waiting up to `timeout` for one to arrive.
    std::optional<Call> take(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    size_t clear();

    size_t pending() const;
    size_t postedTotal() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Call> calls_;
    std::set<NPP> live_;
    std::set<NPP> destroyed_;
    size_t postedTotal_ = 0;
};

}  // namespace FB::Npapi::fakebrowser
