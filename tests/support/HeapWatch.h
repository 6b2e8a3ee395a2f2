// A replaced global operator new and delete for tests that look at the heap itself. Link it into a
// program of its own (korvane_heapwatch): it serves every allocation of that program.
//
// - Window: counts the blocks allocated while it is open that are still alive, e.g. records a
//   component forgot to free.
// - FreedBlockScan: looks into every block as it is released and counts the blocks that still hold a
//   run of characters of a secret.
// - deadStackHolds: looks at the stack below the caller, where the frames of calls that have returned
//   lay, for the same runs.
//
// Blocks carry a small header in front of the caller's bytes; AddressSanitizer keeps watching the
// blocks themselves, since the replacement takes them from malloc.
#pragma once

#include <cstddef>
#include <string_view>

namespace heapwatch {

class Window {
  public:
    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Blocks allocated since the window opened, not counting paused stretches, and not yet freed.
    long liveBlocks() const;

    // Allocations made while a Pause lives are not counted (book-keeping of the test's own doubles).
    class Pause {
      public:
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
    };
};

class FreedBlockScan {
  public:
    // Any `run` consecutive characters of `secret` found in a block being freed count as a hit. The
    // secret's text must outlive the scan.
    FreedBlockScan(std::string_view secret, std::size_t run);
    ~FreedBlockScan();
    FreedBlockScan(const FreedBlockScan&) = delete;
    FreedBlockScan& operator=(const FreedBlockScan&) = delete;

    long hits() const;
    // Size of the first block found holding the secret; 0 when none.
    std::size_t firstHitSize() const;
};

// True when the `depth` bytes of stack below the caller's frame hold `run` consecutive characters of
// `secret`.
bool deadStackHolds(std::string_view secret, std::size_t run, std::size_t depth = 256 * 1024);

// True when `bytes` (8-byte aligned) hold `run` consecutive characters of `secret`, other than inside a
// word that reads as an address.
bool holdsRun(const unsigned char* bytes, std::size_t size, std::string_view secret, std::size_t run);

}  // namespace heapwatch
