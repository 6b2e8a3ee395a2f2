// The fake browser's NPN_MemAlloc heap: every block handed out is recorded until NPN_MemFree gives
// it back, so that frees of foreign pointers and blocks never freed can be reported. Thread-safe:
// the plug-in may allocate and free from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace FB::Npapi::fakebrowser {

class MemoryLedger {
  public:
    MemoryLedger() = default;
    MemoryLedger(const MemoryLedger&) = delete;
    MemoryLedger& operator=(const MemoryLedger&) = delete;
    ~MemoryLedger();

    void* allocate(uint32_t size);
    // False when the pointer is not an outstanding block (nothing is freed then).
    bool free(void* block);
    bool owns(const void* block) const;

    size_t outstanding() const;
    // Sizes of the outstanding blocks; the blocks are freed and forgotten.
    std::vector<size_t> reclaimAll();

  private:
    mutable std::mutex mutex_;
    std::unordered_map<void*, size_t> blocks_;
};

}  // namespace FB::Npapi::fakebrowser
