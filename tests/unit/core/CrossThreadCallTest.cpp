#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestHost.h"
#include "core/FunctorCall.h"
#include "scripting/script_error.h"

// Calls between real worker threads and a main thread: the test's own thread, which made the host
// and delivers its posted calls.

namespace {

using namespace FB;
using testhost::TestHost;
using namespace std::chrono_literals;

std::shared_ptr<TestHost> makeHost() {
    return std::make_shared<TestHost>();
}

// Runs body on a worker thread while the test thread pumps the host's posts until the worker is done.
template <class F>
auto onWorker(TestHost& host, F body) {
    auto future = std::async(std::launch::async, std::move(body));
    EXPECT_TRUE(host.pumpUntil([&] { return future.wait_for(0s) == std::future_status::ready; }));
    return future.get();
}

// Waits, without delivering anything, until n posts are queued.
bool waitForQueued(const TestHost& host, std::size_t n) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (host.queued() < n) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const script_error& e) {
        return e.what();
    }
    return "<no script error>";
}

TEST(CrossThreadCallTest, ResultIsCarriedBackFromTheMainThread) {
    auto host = makeHost();
    std::thread::id ranOn;
    int result = onWorker(*host, [&] {
        return host->runOnMainThread<int>(makeFunctorCall([&] {
            ranOn = std::this_thread::get_id();
            return std::string("41");
        })) + 1;
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // A function without result gives nothing, and the worker still waits for it to finish.
    bool done = false;
    onWorker(*host, [&] { host->runOnMainThread<void>(makeFunctorCall([&] { done = true; })); });
    EXPECT_TRUE(done);
}

TEST(CrossThreadCallTest, ErrorsOnTheMainThreadReachTheWorker) {
    auto host = makeHost();
    std::string message = onWorker(*host, [&] {
        return messageOf([&] {
            host->runOnMainThread(makeFunctorCall([]() -> int { throw invalid_member("signPkcs2"); }));
        });
    });
    EXPECT_EQ(message, "The specified member does not exist: signPkcs2");

    // Other kinds of failure must not escape into the browser's dispatch; the worker gets them as they were.
    bool rethrown = onWorker(*host, [&] {
        try {
            host->runOnMainThread(makeFunctorCall([]() -> int { throw std::out_of_range("index 9"); }));
        } catch (const std::out_of_range& e) {
            return std::string(e.what()) == "index 9";
        }
        return false;
    });
    EXPECT_TRUE(rethrown);

    // The result converts to what the caller asked for, on the worker.
    EXPECT_THROW(
        onWorker(*host, [&] { return host->runOnMainThread<int>(makeFunctorCall([] { return "x"; })); }),
        bad_variant_cast);
}

TEST(CrossThreadCallTest, ShutdownWhileAWorkerWaits) {
    auto host = makeHost();
    std::atomic<int> runs{0};
    auto future = std::async(std::launch::async, [&] {
        return messageOf([&] { host->runOnMainThread<int>(makeFunctorCall([&] { return ++runs; })); });
    });
    // Wait until the call is posted, then shut down instead of delivering it.
    ASSERT_TRUE(waitForQueued(*host, 1));
    host->shutdown();
    EXPECT_EQ(future.get(), "Shutting down");
    EXPECT_EQ(runs.load(), 1);  // run by the shutdown, its result discarded
    host->drain();
    EXPECT_EQ(runs.load(), 1);
}

TEST(CrossThreadCallTest, NoMarshallingAfterShutdownOrWhenTheBrowserRefuses) {
    auto host = makeHost();
    std::atomic<int> runs{0};
    host->refusePosts = true;
    EXPECT_EQ(
        onWorker(*host,
                 [&] {
                     return messageOf([&] { host->runOnMainThread<void>(makeFunctorCall([&] { ++runs; })); });
                 }),
        "Could not marshal to main thread");
    host->refusePosts = false;
    host->shutdown();
    EXPECT_EQ(
        onWorker(*host,
                 [&] {
                     return messageOf([&] { host->runOnMainThread<void>(makeFunctorCall([&] { ++runs; })); });
                 }),
        "Could not marshal to main thread");
    EXPECT_EQ(runs.load(), 0);
}

TEST(CrossThreadCallTest, WorkerPostsAroundAShutdownRunExactlyOnceOrNever) {
    auto host = makeHost();
    constexpr int kWorkers = 4;
    constexpr int kPosts = 200;
    std::vector<std::vector<std::atomic<int>>> runs(kWorkers);
    std::vector<std::vector<char>> accepted(kWorkers);
    for (int w = 0; w < kWorkers; ++w) {
        runs[w] = std::vector<std::atomic<int>>(kPosts);
        accepted[w].assign(kPosts, 0);
    }
    std::atomic<int> finished{0};
    std::atomic<int> total{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kPosts; ++i) {
                std::atomic<int>* counter = &runs[w][i];
                if (i % 2 == 0) {
                    accepted[w][i] = host->queueBoundCall(makeFunctorCall([counter, &total] {
                        ++*counter;
                        ++total;
                    }));
                } else {
                    try {
                        host->runOnMainThread<void>(makeFunctorCall([counter, &total] {
                            ++*counter;
                            ++total;
                        }));
                        accepted[w][i] = 1;
                    } catch (const script_error&) {
                        accepted[w][i] = 2;  // "Shutting down" or "Could not marshal to main thread"
                    }
                }
            }
            ++finished;
        });
    }
    // Deliver a quarter of the calls, then shut down while the workers are still posting.
    ASSERT_TRUE(host->pumpUntil([&] { return total.load() >= kWorkers * kPosts / 4; }));
    host->shutdown();
    for (auto& t : workers)
        t.join();
    host->drain();

    int ranAfterAccept = 0;
    for (int w = 0; w < kWorkers; ++w) {
        for (int i = 0; i < kPosts; ++i) {
            int n = runs[w][i].load();
            ASSERT_LE(n, 1) << "worker " << w << " call " << i;
            if (accepted[w][i] == 1) {
                ASSERT_EQ(n, 1) << "accepted call never ran: worker " << w << " call " << i;
                ++ranAfterAccept;
            } else if (accepted[w][i] == 0) {
                ASSERT_EQ(n, 0) << "refused call ran: worker " << w << " call " << i;
            }
        }
    }
    EXPECT_GT(ranAfterAccept, 0);
}

}  // namespace
