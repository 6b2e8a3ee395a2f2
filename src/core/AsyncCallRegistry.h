#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace FB {

// One call posted to the main thread: the function, its data and the book-keeping that lets the
// registry run it at most once. Owned by its registry.
struct AsyncCallRecord {
    using Function = void (*)(void*);

    Function func = nullptr;
    void* userData = nullptr;
    bool called = false;
    std::int32_t number = 0;

    // Runs the function once; a second run does nothing.
    void runOnce();
};

// Book-keeping of the calls a browser host has posted to the main thread. A posted call runs exactly
// once: either when the browser delivers it, or, when the registry is shut down first, during the
// shutdown. A delivery that comes afterwards does nothing.
//
// The browser is handed a token, the registry's and the record's numbers packed into the post's data,
// never an address: a browser may drop the posts of a destroyed instance without delivering them, so
// the records stay the registry's to free (after running them in a shutdown, or with the registry).
//
// Locking: one recursive mutex guards the counter and both tables; it is never held while a posted
// function runs.
class AsyncCallRegistry : public std::enable_shared_from_this<AsyncCallRegistry> {
  public:
    // The data handed to the browser with the trampoline.
    using Token = void*;

    static std::shared_ptr<AsyncCallRegistry> create();
    AsyncCallRegistry() = default;
    AsyncCallRegistry(const AsyncCallRegistry&) = delete;
    AsyncCallRegistry& operator=(const AsyncCallRegistry&) = delete;
    ~AsyncCallRegistry();

    // Makes a pending record for func and data. The caller hands the token, with trampoline, to the
    // browser.
    Token makeRecord(AsyncCallRecord::Function func, void* userData);

    // Takes back a record that could not be posted; the record is freed.
    void dropRecord(Token token);

    // Cancels every pending record and runs its function now, on the calling thread. Posted functions
    // that post again during this are not run by it: the host refuses posts once it shuts down.
    void shutdown();

    // The function handed to the browser with a token as its data.
    static void trampoline(void* token);

    // The record number a token carries.
    static std::int32_t recordNumber(Token token);

    std::size_t pendingCount() const;
    std::size_t cancelledCount() const;

  private:
    void deliver(std::int32_t number);

    std::uint32_t id_ = 0;  // this registry's number in the process-wide directory; 0 until created
    mutable std::recursive_mutex lock_;
    std::int32_t counter_ = 0;
    std::map<std::int32_t, std::unique_ptr<AsyncCallRecord>> pending_;
    // Numbers run by a shutdown whose delivery has not come (and may never come).
    std::set<std::int32_t> cancelled_;
};

}  // namespace FB
