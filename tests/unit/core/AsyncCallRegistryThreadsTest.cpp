#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/AsyncCallRegistry.h"

namespace {

using FB::AsyncCallRegistry;

// Deliveries racing a shutdown on another thread: every posted function runs exactly once and every
// record is freed exactly once (ASan and TSan builds watch the second half).
TEST(AsyncCallRegistryThreadsTest, DeliveryRacingShutdownRunsEachCallOnce) {
    constexpr int kCalls = 400;
    for (int round = 0; round < 5; ++round) {
        auto registry = AsyncCallRegistry::create();
        std::vector<std::atomic<int>> runs(kCalls);
        std::vector<AsyncCallRegistry::Token> records;
        std::vector<std::pair<AsyncCallRegistry*, std::atomic<int>*>> data;
        data.reserve(kCalls);
        for (int i = 0; i < kCalls; ++i) {
            data.emplace_back(registry.get(), &runs[i]);
            records.push_back(registry->makeRecord(
                [](void* d) {
                    static_cast<std::pair<AsyncCallRegistry*, std::atomic<int>*>*>(d)->second->fetch_add(1);
                },
                &data.back()));
        }
        std::thread stopper([&] { registry->shutdown(); });
        for (AsyncCallRegistry::Token r : records)
            AsyncCallRegistry::trampoline(r);
        stopper.join();
        for (int i = 0; i < kCalls; ++i)
            ASSERT_EQ(runs[i].load(), 1) << "call " << i;
        EXPECT_EQ(registry->pendingCount(), 0u);
        EXPECT_EQ(registry->cancelledCount(), 0u);
    }
}

}  // namespace
