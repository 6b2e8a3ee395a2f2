// Reads the typed pieces a fuzz target needs from the raw bytes libFuzzer hands it. Running out of
// bytes gives zeros and empty texts, so every input, however short, is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    std::size_t remaining() const { return size_; }

    std::uint8_t byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }

    bool flag() { return (byte() & 1) != 0; }

    // A choice among `count` alternatives (count > 0).
    std::size_t pick(std::size_t count) { return byte() % count; }

    // A value of trivially copyable type from the next sizeof(T) bytes, zero-filled at the end.
    template <class T>
    T value() {
        unsigned char bytes[sizeof(T)] = {};
        const std::size_t n = size_ < sizeof(T) ? size_ : sizeof(T);
        std::memcpy(bytes, data_, n);
        data_ += n;
        size_ -= n;
        T out;
        std::memcpy(&out, bytes, sizeof(T));
        return out;
    }

    // A text whose length comes from one byte, at most maxLength.
    std::string text(std::size_t maxLength = 255) {
        std::size_t n = byte();
        if (n > maxLength) {
            n = maxLength;
        }
        return take(n);
    }

    std::vector<std::uint8_t> bytes(std::size_t maxLength = 255) {
        const std::string piece = text(maxLength);
        return std::vector<std::uint8_t>(piece.begin(), piece.end());
    }

    // Everything that is left.
    std::string rest() { return take(size_); }

  private:
    std::string take(std::size_t n) {
        if (n > size_) {
            n = size_;
        }
        std::string out(reinterpret_cast<const char*>(data_), n);
        data_ += n;
        size_ -= n;
        return out;
    }

    const std::uint8_t* data_;
    std::size_t size_;
};

// A fault the target's own checks found: printed and aborted, so that libFuzzer keeps the input
// and the replay program fails.
[[noreturn]] void fuzzFailure(const char* what);
#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            fuzzFailure(__FILE__ ":" FUZZ_LINE_TEXT(__LINE__) ": " #condition); \
        }                                                                       \
    } while (0)
#define FUZZ_LINE_TEXT(line) FUZZ_LINE_TEXT2(line)
#define FUZZ_LINE_TEXT2(line) #line
