#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "core/FunctorCall.h"
#include "scripting/variant.h"

namespace FB {

class BrowserHost;

// Carries one functor call to the browser's main thread and its outcome back.
//
// Synchronous use: the calling thread posts the call and waits for the returned flag; the main
// thread runs the functor, stores the result (or the error it raised) and wakes the waiter. The mutex
// guards the returned flag, the result and the error; the waiter holds it except while it waits.
class CrossThreadCall {
  public:
    explicit CrossThreadCall(FunctorCallPtr functor) : functor_(std::move(functor)) {}

    // Runs functor on the main thread of host and returns its result; see BrowserHost::runOnMainThread.
    static variant runSynchronously(BrowserHost& host, const FunctorCallPtr& functor);

    // Posts functor to the main thread of host without waiting. Script errors and conversion errors
    // raised there are dropped. Returns false when the call could not be posted (it never runs then).
    static bool runAsynchronously(BrowserHost& host, const FunctorCallPtr& functor);

  private:
    static void syncMainThreadStep(void* data);
    static void asyncMainThreadStep(void* data);

    FunctorCallPtr functor_;
    variant result_;
    std::exception_ptr error_;  // an exception other than a script error, rethrown unchanged to the caller
    bool returned_ = false;
    std::condition_variable cond_;
    std::mutex mutex_;
};

}  // namespace FB
