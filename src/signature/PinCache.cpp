#include "signature/PinCache.h"

#include <algorithm>

namespace {
// A plain pointer, so it stays valid while the process-wide cache is destroyed at exit.
PinCache::WipeObserver wipeObserver = nullptr;
}  // namespace

PinEntry::~PinEntry() {
    wipe();
}

void PinEntry::wipe() {
    if (pin.empty()) {
        return;
    }
    std::fill(pin.begin(), pin.end(), 'X');
    PinCache::notifyWipe(pin);
}

void PinEntry::replacePin(const std::string& newPin) {
    // A longer PIN reallocates: the storage released then holds only "X".
    wipe();
    pin.assign(newPin);
}

namespace {
// Entries are erased only by dropOrigin, for origins whose pages are gone.
std::map<std::string, PinCache>& cachesByOrigin() {
    static std::map<std::string, PinCache> caches;
    return caches;
}
}  // namespace

PinCache& PinCache::forOrigin(const std::string& origin) {
    return cachesByOrigin().try_emplace(origin).first->second;
}

void PinCache::clearEveryOrigin() {
    for (auto& [origin, cache] : cachesByOrigin()) {
        cache.clear();
    }
}

void PinCache::dropOrigin(const std::string& origin) {
    cachesByOrigin().erase(origin);
}

std::size_t PinCache::originCount() {
    return cachesByOrigin().size();
}

PinCache::~PinCache() {
    clear();
}

void PinCache::setPin(const std::string& moduleName, const std::string& pin) {
    auto it = entries_.find(moduleName);
    if (it == entries_.end()) {
        entries_[moduleName].pin.assign(pin);
        return;
    }
    PinEntry& entry = it->second;
    if (entry.pin == pin) {
        return;
    }
    entry.replacePin(pin);
    entry.rejected = false;
}

void PinCache::requirePin(const std::string& moduleName) {
    PinEntry& entry = entries_[moduleName];
    entry.replacePin({});
    entry.rejected = false;
    entry.retryCount = 0;
}

void PinCache::markRejected(const std::string& moduleName, bool counted) {
    auto it = entries_.find(moduleName);
    if (it == entries_.end()) {
        return;
    }
    it->second.rejected = true;
    if (counted) {
        ++it->second.retryCount;
    }
}

void PinCache::forgetAccepted(const std::string& moduleName) {
    auto it = entries_.find(moduleName);
    if (it != entries_.end() && !it->second.rejected) {
        entries_.erase(it);
    }
}

void PinCache::clear() {
    entries_.clear();
}

const PinEntry* PinCache::find(const std::string& moduleName) const {
    auto it = entries_.find(moduleName);
    return it == entries_.end() ? nullptr : &it->second;
}

bool PinCache::anyMissing() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const auto& e) { return e.second.pin.empty(); });
}

bool PinCache::anyRejected() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const auto& e) { return e.second.rejected; });
}

std::vector<std::string> PinCache::modulesWithoutPin() const {
    std::vector<std::string> names;
    for (const auto& [name, entry] : entries_) {
        if (entry.pin.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> PinCache::modulesWithInvalidPin() const {
    std::vector<std::string> names;
    for (const auto& [name, entry] : entries_) {
        if (entry.rejected) {
            names.push_back(name);
        }
    }
    return names;
}

std::int32_t PinCache::retryCount(const std::string& moduleName) const {
    const PinEntry* entry = find(moduleName);
    return entry ? entry->retryCount : 0;
}

void PinCache::setWipeObserver(WipeObserver observer) {
    wipeObserver = observer;
}

void PinCache::notifyWipe(const std::string& wiped) {
    if (wipeObserver) {
        wipeObserver(wiped);
    }
}
