#pragma once

#include <memory>
#include <mutex>
#include <set>

#include "core/BrowserStream.h"

namespace FB {

// Keeps the browser streams of one host alive while the host runs. When the manager goes (the host
// shuts down) every stream still held is closed.
class BrowserStreamManager {
  public:
    BrowserStreamManager() = default;
    ~BrowserStreamManager();
    BrowserStreamManager(const BrowserStreamManager&) = delete;
    BrowserStreamManager& operator=(const BrowserStreamManager&) = delete;

    void retainStream(const BrowserStreamPtr& stream);
    void releaseStream(const BrowserStreamPtr& stream);
    std::size_t count() const;

  private:
    mutable std::mutex lock_;
    std::set<BrowserStreamPtr> streams_;
};

using BrowserStreamManagerPtr = std::shared_ptr<BrowserStreamManager>;

}  // namespace FB
