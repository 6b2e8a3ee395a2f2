#pragma once

// A recursive mutex whose re-entry by the thread that holds it is a comparison and a count, not a
// call into the threads library. Member lookups re-enter an object's zone lock several times in
// one page call (a read asks for the method object, then the property, each of which checks
// visibility), so re-entry is the common case.

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>

namespace FB {

class RecursiveLock {
  public:
    RecursiveLock() = default;
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void lock() {
        const std::thread::id self = std::this_thread::get_id();
        // Only this thread ever stores its own id, so reading it back means this thread holds the
        // lock already.
        if (owner_.load(std::memory_order_relaxed) == self) {
            ++depth_;
            return;
        }
        mutex_.lock();
        owner_.store(self, std::memory_order_relaxed);
        depth_ = 1;
    }

    bool try_lock() {
        const std::thread::id self = std::this_thread::get_id();
        if (owner_.load(std::memory_order_relaxed) == self) {
            ++depth_;
            return true;
        }
        if (!mutex_.try_lock()) {
            return false;
        }
        owner_.store(self, std::memory_order_relaxed);
        depth_ = 1;
        return true;
    }

    void unlock() {
        if (--depth_ == 0) {
            owner_.store(std::thread::id(), std::memory_order_relaxed);
            mutex_.unlock();
        }
    }

  private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    std::size_t depth_ = 0;  // touched only by the holder
};

}  // namespace FB
