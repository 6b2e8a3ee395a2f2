#include "MemoryLedger.h"

#include <cstdlib>

namespace FB::Npapi::fakebrowser {

MemoryLedger::~MemoryLedger() {
    reclaimAll();
}

void* MemoryLedger::allocate(uint32_t size) {
    // A zero-byte request still gets a distinct block, as browsers' allocators give.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        std::lock_guard lock(mutex_);
        blocks_[block] = size;
    }
    return block;
}

bool MemoryLedger::free(void* block) {
    {
        std::lock_guard lock(mutex_);
        if (blocks_.erase(block) == 0) {
            return false;
        }
    }
    std::free(block);
    return true;
}

bool MemoryLedger::owns(const void* block) const {
    std::lock_guard lock(mutex_);
    return blocks_.count(const_cast<void*>(block)) != 0;
}

size_t MemoryLedger::outstanding() const {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

std::vector<size_t> MemoryLedger::reclaimAll() {
    std::unordered_map<void*, size_t> blocks;
    {
        std::lock_guard lock(mutex_);
        blocks.swap(blocks_);
    }
    std::vector<size_t> sizes;
    for (auto& [block, size] : blocks) {
        sizes.push_back(size);
        std::free(block);
    }
    return sizes;
}

}  // namespace FB::Npapi::fakebrowser
