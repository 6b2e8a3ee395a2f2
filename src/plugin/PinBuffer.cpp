#include "plugin/PinBuffer.h"

#include <atomic>
#include <utility>

namespace {

std::atomic<PinBuffer::WipeObserver> wipeObserver{nullptr};

// Volatile stores, so the compiler cannot drop them as dead before the storage is freed.
void fillWithX(std::string& text, std::size_t from = 0) {
    volatile char* p = text.data();
    for (std::size_t i = from; i < text.size(); ++i)
        p[i] = 'X';
}

}  // namespace

void PinBuffer::setWipeObserver(WipeObserver observer) {
    wipeObserver.store(observer);
}

PinBuffer::~PinBuffer() {
    overwrite();
}

void PinBuffer::overwrite() {
    if (text_.empty())
        return;
    fillWithX(text_);
    if (auto observer = wipeObserver.load())
        observer(text_);
}

void PinBuffer::append(char c) {
    if (text_.size() == text_.capacity()) {
        // Growing would free the old storage with the PIN still in it: move to a larger one ourselves and
        // wipe the old one before it goes.
        std::string larger;
        larger.reserve(text_.capacity() * 2 + 1);
        larger.assign(text_);
        overwrite();
        std::swap(text_, larger);
    }
    text_.push_back(c);
}

void PinBuffer::removeLast() {
    if (text_.empty())
        return;
    fillWithX(text_, text_.size() - 1);
    text_.pop_back();
}

void PinBuffer::assign(std::string_view text) {
    // The old storage may be released by the assignment; it holds only "X" by then.
    clear();
    text_.assign(text);
}

void PinBuffer::clear() {
    overwrite();
    text_.clear();
}
