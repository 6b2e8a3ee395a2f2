#include "signature/RefusedPins.h"

#include <algorithm>

namespace {
// A card allows a handful of tries; beyond this many the oldest refused PIN is let go.
constexpr std::size_t kMaxPinsPerToken = 16;
}  // namespace

RefusedPins& RefusedPins::process() {
    static RefusedPins pins;
    return pins;
}

RefusedPins::Token& RefusedPins::current(const std::string& token, std::int64_t insertion) {
    Token& entry = tokens_[token];
    if (entry.renumbered) {
        entry.renumbered = false;
        entry.insertion = insertion;
    } else if (entry.insertion != insertion) {
        entry.pins.clear();
        entry.accepted = false;
        entry.insertion = insertion;
    }
    return entry;
}

bool RefusedPins::refused(const std::string& token, std::int64_t insertion, const std::string& pin) {
    const std::lock_guard guard(lock_);
    auto it = tokens_.find(token);
    if (it == tokens_.end()) {
        return false;
    }
    const Token& entry = current(token, insertion);
    return std::any_of(entry.pins.begin(), entry.pins.end(),
                       [&pin](const PinEntry& e) { return e.pin == pin; });
}

void RefusedPins::remember(const std::string& token, std::int64_t insertion, const std::string& pin) {
    const std::lock_guard guard(lock_);
    Token& entry = current(token, insertion);
    entry.accepted = false;
    if (std::any_of(entry.pins.begin(), entry.pins.end(),
                    [&pin](const PinEntry& e) { return e.pin == pin; })) {
        return;
    }
    if (entry.pins.size() == kMaxPinsPerToken) {
        entry.pins.pop_front();
    }
    entry.pins.emplace_back().pin.assign(pin);
}

void RefusedPins::accepted(const std::string& token, std::int64_t insertion) {
    const std::lock_guard guard(lock_);
    Token& entry = current(token, insertion);
    entry.pins.clear();
    entry.accepted = true;
}

void RefusedPins::blocked(const std::string& token, std::int64_t insertion) {
    const std::lock_guard guard(lock_);
    current(token, insertion).accepted = false;
}

bool RefusedPins::lastAccepted(const std::string& token, std::int64_t insertion) {
    const std::lock_guard guard(lock_);
    if (tokens_.find(token) == tokens_.end()) {
        return false;
    }
    return current(token, insertion).accepted;
}

void RefusedPins::renumbered() {
    const std::lock_guard guard(lock_);
    for (auto& [name, token] : tokens_) {
        token.renumbered = true;
    }
}

void RefusedPins::clear() {
    const std::lock_guard guard(lock_);
    tokens_.clear();
}

std::size_t RefusedPins::size() {
    const std::lock_guard guard(lock_);
    std::size_t count = 0;
    for (const auto& [name, token] : tokens_) {
        count += token.pins.size();
    }
    return count;
}
