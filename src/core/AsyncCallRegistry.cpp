#include "core/AsyncCallRegistry.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace FB {

namespace {

// A token is the registry's number in the upper half of the post's data and the record's number in the
// lower half.
static_assert(sizeof(std::uintptr_t) >= 8, "a post's data must hold two 32-bit numbers");

AsyncCallRegistry::Token packToken(std::uint32_t registry, std::int32_t record) {
    const auto value = (static_cast<std::uintptr_t>(registry) << 32) | static_cast<std::uint32_t>(record);
    return reinterpret_cast<AsyncCallRegistry::Token>(value);
}

std::uint32_t registryOf(AsyncCallRegistry::Token token) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(token) >> 32);
}

// The live registries by number, so that a delivery finds its registry, or finds it gone, from the
// token alone. Never destroyed: deliveries and registries may outlive static destruction.
struct Directory {
    std::mutex lock;
    std::uint32_t next = 0;
    std::unordered_map<std::uint32_t, std::weak_ptr<AsyncCallRegistry>> registries;
};

Directory& directory() {
    static auto* instance = new Directory;
    return *instance;
}

}  // namespace

void AsyncCallRecord::runOnce() {
    if (called)
        return;
    Function f = func;
    func = nullptr;
    called = true;
    if (f)
        f(userData);
}

std::shared_ptr<AsyncCallRegistry> AsyncCallRegistry::create() {
    auto registry = std::make_shared<AsyncCallRegistry>();
    Directory& dir = directory();
    std::lock_guard lock(dir.lock);
    do {
        ++dir.next;  // wraps; 0 and numbers still in use are skipped
    } while (dir.next == 0 || dir.registries.count(dir.next) > 0);
    registry->id_ = dir.next;
    dir.registries.emplace(dir.next, registry);
    return registry;
}

AsyncCallRegistry::~AsyncCallRegistry() {
    if (id_ == 0)
        return;
    Directory& dir = directory();
    std::lock_guard lock(dir.lock);
    dir.registries.erase(id_);
}

AsyncCallRegistry::Token AsyncCallRegistry::makeRecord(AsyncCallRecord::Function func, void* userData) {
    auto record = std::make_unique<AsyncCallRecord>();
    record->func = func;
    record->userData = userData;
    std::lock_guard lock(lock_);
    counter_ =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(counter_) + 1u);  // wraps, never overflows
    record->number = counter_;
    pending_[counter_] = std::move(record);
    return packToken(id_, counter_);
}

void AsyncCallRegistry::dropRecord(Token token) {
    std::unique_ptr<AsyncCallRecord> record;
    std::lock_guard lock(lock_);
    if (auto found = pending_.find(recordNumber(token)); found != pending_.end()) {
        record = std::move(found->second);
        pending_.erase(found);
    }
}

void AsyncCallRegistry::shutdown() {
    std::vector<std::unique_ptr<AsyncCallRecord>> toRun;
    {
        std::lock_guard lock(lock_);
        for (auto& [number, record] : pending_) {
            cancelled_.insert(number);
            toRun.push_back(std::move(record));
        }
        pending_.clear();
    }
    for (auto& record : toRun)
        record->runOnce();
}

void AsyncCallRegistry::trampoline(void* token) {
    std::shared_ptr<AsyncCallRegistry> registry;
    {
        Directory& dir = directory();
        std::lock_guard lock(dir.lock);
        auto found = dir.registries.find(registryOf(token));
        if (found == dir.registries.end())
            return;
        registry = found->second.lock();
    }
    if (registry)
        registry->deliver(recordNumber(token));
}

std::int32_t AsyncCallRegistry::recordNumber(Token token) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(token)));
}

void AsyncCallRegistry::deliver(std::int32_t number) {
    std::unique_ptr<AsyncCallRecord> record;
    {
        std::lock_guard lock(lock_);
        auto found = pending_.find(number);
        if (found == pending_.end()) {
            // Already run by a shutdown: the delivery only closes the book on it.
            cancelled_.erase(number);
            return;
        }
        record = std::move(found->second);
        pending_.erase(found);
    }
    record->runOnce();
}

std::size_t AsyncCallRegistry::pendingCount() const {
    std::lock_guard lock(lock_);
    return pending_.size();
}

std::size_t AsyncCallRegistry::cancelledCount() const {
    std::lock_guard lock(lock_);
    return cancelled_.size();
}

}  // namespace FB
