#include "core/AsyncCallRegistry.h"

namespace FB {

void AsyncCallRecord::runOnce() {
    if (called)
        return;
    Function f = func;
    func = nullptr;
    called = true;
    if (f)
        f(userData);
}

AsyncCallRecord* AsyncCallRegistry::makeRecord(AsyncCallRecord::Function func, void* userData) {
    auto record = std::make_unique<AsyncCallRecord>();
    record->func = func;
    record->userData = userData;
    record->registry = weak_from_this();
    std::lock_guard lock(lock_);
    counter_ =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(counter_) + 1u);  // wraps, never overflows
    record->number = counter_;
    pending_.insert(record.get());
    return record.release();
}

void AsyncCallRegistry::dropRecord(AsyncCallRecord* record) {
    {
        std::lock_guard lock(lock_);
        pending_.erase(record);
    }
    delete record;
}

void AsyncCallRegistry::shutdown() {
    std::vector<AsyncCallRecord*> toRun;
    {
        std::lock_guard lock(lock_);
        toRun.assign(pending_.begin(), pending_.end());
        for (AsyncCallRecord* record : toRun)
            record->running = true;
        cancelled_.insert(pending_.begin(), pending_.end());
        pending_.clear();
    }
    // A record stays alive after this: it is freed by its delivery, which may still come. Only when the
    // delivery arrived while the function ran here is freeing left to us.
    for (AsyncCallRecord* record : toRun) {
        record->runOnce();
        std::unique_lock lock(lock_);
        record->running = false;
        if (record->delivered) {
            cancelled_.erase(record);
            lock.unlock();
            delete record;
        }
    }
}

void AsyncCallRegistry::trampoline(void* data) {
    // Each successful post is delivered once, so this is the one place that frees a posted record.
    std::unique_ptr<AsyncCallRecord> record(static_cast<AsyncCallRecord*>(data));
    std::shared_ptr<AsyncCallRegistry> registry = record->registry.lock();
    if (!registry)
        return;
    {
        std::lock_guard lock(registry->lock_);
        if (registry->pending_.erase(record.get()) == 0) {
            // Cancelled by a shutdown. If that shutdown is still running the function, it frees the record.
            if (record->running) {
                record->delivered = true;
                record.release();
                return;
            }
            registry->cancelled_.erase(record.get());
            return;
        }
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
