#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace FB {

class AsyncCallRegistry;

// One call posted to the main thread: the function, its data and the book-keeping that lets the
// registry run it at most once. Created by the registry; freed by the trampoline when the browser
// delivers the post.
struct AsyncCallRecord {
    using Function = void (*)(void*);

    Function func = nullptr;
    void* userData = nullptr;
    bool called = false;
    std::int32_t number = 0;
    // Guarded by the registry's mutex: a shutdown is running the function right now, and a delivery
    // that arrived meanwhile left freeing the record to the shutdown.
    bool running = false;
    bool delivered = false;
    std::weak_ptr<AsyncCallRegistry> registry;

    // Runs the function once; a second run does nothing.
    void runOnce();
};

// Book-keeping of the calls a browser host has posted to the main thread. A posted call runs exactly
// once: either when the browser delivers it, or, when the registry is shut down first, during the
// shutdown. A delivery that comes afterwards does nothing.
//
// Locking: one recursive mutex guards the counter and both sets; it is never held while a posted
// function runs.
class AsyncCallRegistry : public std::enable_shared_from_this<AsyncCallRegistry> {
  public:
    static std::shared_ptr<AsyncCallRegistry> create() { return std::make_shared<AsyncCallRegistry>(); }

    // Makes a pending record for func and data. The caller hands it, with trampoline, to the browser.
    AsyncCallRecord* makeRecord(AsyncCallRecord::Function func, void* userData);

    // Takes back a record that could not be posted; the record is freed.
    void dropRecord(AsyncCallRecord* record);

    // Cancels every pending record and runs its function now, on the calling thread. Posted functions
    // that post again during this are not run by it: the host refuses posts once it shuts down.
    void shutdown();

    // The function handed to the browser with a record as its data.
    static void trampoline(void* record);

    std::size_t pendingCount() const;
    std::size_t cancelledCount() const;

  private:
    mutable std::recursive_mutex lock_;
    std::int32_t counter_ = 0;
    std::set<AsyncCallRecord*> pending_;
    std::set<AsyncCallRecord*> cancelled_;
};

}  // namespace FB
