#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The characters of a PIN typed on the page and not yet handed to the engine. Every storage the buffer
// gives up (on clearing, on reassignment, when it grows, on destruction) is overwritten with "X" first,
// so the secret does not linger in freed memory.
class PinBuffer {
  public:
    // Test seam: called with the buffer's contents right after they were overwritten and just before the
    // storage holding them is emptied or released.
    using WipeObserver = void (*)(std::string_view wiped);
    static void setWipeObserver(WipeObserver observer);

    PinBuffer() = default;
    PinBuffer(const PinBuffer&) = delete;
    PinBuffer& operator=(const PinBuffer&) = delete;
    ~PinBuffer();

    void append(char c);
    // Drops the last character; nothing when empty.
    void removeLast();
    // Wipes the current characters, then holds text.
    void assign(std::string_view text);
    // Wipes the characters and empties the buffer.
    void clear();

    const std::string& text() const { return text_; }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

  private:
    // Overwrites every character with "X" and reports the result to the observer.
    void overwrite();

    std::string text_;
};
