#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/AsyncCallRegistry.h"

namespace {

using FB::AsyncCallRegistry;

void countCall(void* data) {
    ++*static_cast<int*>(data);
}

TEST(AsyncCallRegistryTest, DeliveredRecordRunsOnceAndNumbersCount) {
    auto registry = AsyncCallRegistry::create();
    int runs = 0;
    AsyncCallRegistry::Token first = registry->makeRecord(&countCall, &runs);
    AsyncCallRegistry::Token second = registry->makeRecord(&countCall, &runs);
    EXPECT_EQ(AsyncCallRegistry::recordNumber(first) + 1, AsyncCallRegistry::recordNumber(second));
    EXPECT_EQ(registry->pendingCount(), 2u);

    AsyncCallRegistry::trampoline(first);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(registry->pendingCount(), 1u);
    AsyncCallRegistry::trampoline(second);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(registry->pendingCount(), 0u);
}

TEST(AsyncCallRegistryTest, ShutdownRunsPendingCallsOnceAndLaterDeliveryDoesNothing) {
    auto registry = AsyncCallRegistry::create();
    int runs = 0;
    std::vector<AsyncCallRegistry::Token> posted;
    for (int i = 0; i < 3; ++i)
        posted.push_back(registry->makeRecord(&countCall, &runs));
    AsyncCallRegistry::trampoline(posted[0]);
    EXPECT_EQ(runs, 1);

    registry->shutdown();
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(registry->pendingCount(), 0u);
    EXPECT_EQ(registry->cancelledCount(), 2u);

    // The browser still delivers the two posts; they only close the book on them.
    AsyncCallRegistry::trampoline(posted[1]);
    AsyncCallRegistry::trampoline(posted[2]);
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(registry->cancelledCount(), 0u);

    registry->shutdown();  // a second shutdown finds nothing to do
    EXPECT_EQ(runs, 3);
}

TEST(AsyncCallRegistryTest, DeliveryAfterTheRegistryIsGoneRunsNothing) {
    int runs = 0;
    AsyncCallRegistry::Token record = nullptr;
    {
        auto registry = AsyncCallRegistry::create();
        record = registry->makeRecord(&countCall, &runs);
    }
    AsyncCallRegistry::trampoline(record);  // the record went with its registry
    EXPECT_EQ(runs, 0);
}

TEST(AsyncCallRegistryTest, DroppedRecordIsNoLongerPending) {
    auto registry = AsyncCallRegistry::create();
    int runs = 0;
    AsyncCallRegistry::Token record = registry->makeRecord(&countCall, &runs);
    registry->dropRecord(record);
    EXPECT_EQ(registry->pendingCount(), 0u);
    registry->shutdown();
    EXPECT_EQ(runs, 0);
}

// A function run by the shutdown may post again; that post is an ordinary pending record.
TEST(AsyncCallRegistryTest, FunctionRunByShutdownMayPostAgain) {
    struct Ctx {
        std::shared_ptr<AsyncCallRegistry> registry;
        AsyncCallRegistry::Token again = nullptr;
        int runs = 0;
    } ctx{AsyncCallRegistry::create()};
    AsyncCallRegistry::Token first = ctx.registry->makeRecord(
        [](void* data) {
            auto* c = static_cast<Ctx*>(data);
            c->again = c->registry->makeRecord(&countCall, &c->runs);
        },
        &ctx);
    ctx.registry->shutdown();
    ASSERT_NE(ctx.again, nullptr);
    EXPECT_EQ(ctx.registry->pendingCount(), 1u);
    AsyncCallRegistry::trampoline(first);
    AsyncCallRegistry::trampoline(ctx.again);
    EXPECT_EQ(ctx.runs, 1);
}

}  // namespace
