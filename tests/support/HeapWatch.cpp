#include "HeapWatch.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace heapwatch {
namespace {

struct alignas(std::max_align_t) Header {
    std::size_t size;
    std::uint32_t window;
};

std::atomic<std::uint32_t> openWindow{0};
std::atomic<std::uint32_t> nextWindow{0};
std::atomic<long> liveInWindow{0};
std::atomic<int> paused{0};

// Only one scan at a time; set and cleared by the test's thread.
std::atomic<bool> scanning{false};
std::string_view scanSecret;
std::size_t scanRun = 0;
std::atomic<long> scanHits{0};
std::atomic<std::size_t> scanFirstHit{0};

void* allocate(std::size_t size) {
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + (size == 0 ? 1 : size)));
    if (header == nullptr) {
        throw std::bad_alloc();
    }
    header->size = size;
    header->window = paused.load() == 0 ? openWindow.load() : 0;
    if (header->window != 0) {
        ++liveInWindow;
    }
    return header + 1;
}

void release(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    Header* header = static_cast<Header*>(block) - 1;
    if (header->window != 0 && header->window == openWindow.load()) {
        --liveInWindow;
    }
    if (scanning.load() &&
        holdsRun(static_cast<const unsigned char*>(block), header->size, scanSecret, scanRun)) {
        if (scanHits++ == 0) {
            scanFirstHit = header->size;
        }
    }
    std::free(header);
}

}  // namespace

Window::Window() {
    liveInWindow = 0;
    openWindow = ++nextWindow;
}

Window::~Window() {
    openWindow = 0;
}

long Window::liveBlocks() const {
    return liveInWindow.load();
}

Window::Pause::Pause() {
    ++paused;
}

Window::Pause::~Pause() {
    --paused;
}

FreedBlockScan::FreedBlockScan(std::string_view secret, std::size_t run) {
    scanSecret = secret;
    scanRun = run;
    scanHits = 0;
    scanFirstHit = 0;
    scanning = true;
}

FreedBlockScan::~FreedBlockScan() {
    scanning = false;
}

long FreedBlockScan::hits() const {
    return scanHits.load();
}

std::size_t FreedBlockScan::firstHitSize() const {
    return scanFirstHit.load();
}

namespace {

// Whether the aligned 8-byte word holding bytes [i, i + run) reads as a 64-bit user-space address
// (top two bytes zero, the next one not): the random bits of stack and heap addresses spell any three
// characters now and then, which is no copy of the secret. `bytes` is 8-byte aligned.
bool insideAddress(const unsigned char* bytes, std::size_t size, std::size_t i, std::size_t run) {
    const std::size_t word = i & ~std::size_t{7};
    return i + run <= word + 8 && word + 8 <= size && bytes[word + 7] == 0 && bytes[word + 6] == 0 &&
           bytes[word + 5] != 0;
}

}  // namespace

bool holdsRun(const unsigned char* bytes, std::size_t size, std::string_view secret, std::size_t run) {
    if (run == 0 || secret.size() < run || size < run) {
        return false;
    }
    for (std::size_t i = 0; i + run <= size; ++i) {
        if (insideAddress(bytes, size, i, run)) {
            continue;
        }
        for (std::size_t j = 0; j + run <= secret.size(); ++j) {
            if (std::memcmp(bytes + i, secret.data() + j, run) == 0) {
                return true;
            }
        }
    }
    return false;
}

// Not inlined, so its frame and the area it reserves lie below the caller's, where the frames of the
// caller's earlier callees were.
__attribute__((noinline)) bool deadStackHolds(std::string_view secret, std::size_t run, std::size_t depth) {
    auto* area = static_cast<volatile unsigned char*>(__builtin_alloca(depth));
    // Copied out through volatile reads, so the compiler cannot assume anything about the bytes.
    auto* copy = static_cast<unsigned char*>(std::malloc(depth));
    for (std::size_t i = 0; i < depth; ++i) {
        copy[i] = area[i];
    }
    const bool found = holdsRun(copy, depth, secret, run);
    std::free(copy);
    return found;
}

}  // namespace heapwatch

void* operator new(std::size_t size) {
    return heapwatch::allocate(size);
}
void* operator new[](std::size_t size) {
    return heapwatch::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return heapwatch::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return heapwatch::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* block) noexcept {
    heapwatch::release(block);
}
void operator delete[](void* block) noexcept {
    heapwatch::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    heapwatch::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    heapwatch::release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    heapwatch::release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    heapwatch::release(block);
}
