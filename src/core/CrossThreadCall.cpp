#include "core/CrossThreadCall.h"

#include <chrono>
#include <string>

#include "core/BrowserHost.h"
#include "core/Log.h"
#include "scripting/script_error.h"

namespace FB {

namespace {

constexpr std::chrono::milliseconds kWaitSlice{10};

}  // namespace

variant CrossThreadCall::runSynchronously(BrowserHost& host, const FunctorCallPtr& functor) {
    if (host.onMainThread()) {
        functor->call();
        return functor->result();
    }

    auto call = std::make_shared<CrossThreadCall>(functor);
    // The main-thread step holds only a weak reference: a caller that gave up takes the call with it.
    auto* data = new std::weak_ptr<CrossThreadCall>(call);
    // Posted before the call's mutex is taken: shutdown holds the host's cross-thread lock while it runs
    // pending calls, which take their call's mutex, so the two are never taken in the other order. A
    // call that returns before we wait is seen through the returned flag.
    if (!host.queueMainThreadCall(&CrossThreadCall::syncMainThreadStep, data)) {
        delete data;
        throw script_error("Could not marshal to main thread");
    }
    std::unique_lock lock(call->mutex_);
    // Waiting in short slices notices a shutdown without anyone having to wake us.
    while (!call->returned_ && !host.isShutDown())
        call->cond_.wait_for(lock, kWaitSlice);
    if (host.isShutDown())
        throw script_error("Shutting down");

    variant result = std::move(call->result_);
    std::exception_ptr error = std::move(call->error_);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
    if (result.is_of_type<std::shared_ptr<script_error>>())
        throw script_error(result.get<std::shared_ptr<script_error>>()->what());
    return result;
}

void CrossThreadCall::syncMainThreadStep(void* data) {
    std::shared_ptr<CrossThreadCall> call;
    {
        std::unique_ptr<std::weak_ptr<CrossThreadCall>> ref(
            static_cast<std::weak_ptr<CrossThreadCall>*>(data));
        call = ref->lock();
    }
    if (!call)
        return;

    variant result;
    std::exception_ptr error;
    try {
        call->functor_->call();
        result = call->functor_->result();
    } catch (const script_error& e) {
        result = std::make_shared<script_error>(e);
    } catch (...) {
        // Nothing may escape into the browser's dispatch; the caller gets the exception instead.
        error = std::current_exception();
    }
    {
        std::lock_guard lock(call->mutex_);
        // Moved, not copied: from here on only the waiting thread holds the result and the exception.
        call->result_ = std::move(result);
        call->error_ = std::move(error);
        call->returned_ = true;
    }
    call->cond_.notify_all();
}

bool CrossThreadCall::runAsynchronously(BrowserHost& host, const FunctorCallPtr& functor) {
    auto* call = new CrossThreadCall(functor);
    if (!host.queueMainThreadCall(&CrossThreadCall::asyncMainThreadStep, call)) {
        delete call;
        return false;
    }
    return true;
}

void CrossThreadCall::asyncMainThreadStep(void* data) {
    std::unique_ptr<CrossThreadCall> call(static_cast<CrossThreadCall*>(data));
    try {
        call->functor_->call();
    } catch (const script_error&) {
        // The caller asked not to hear about the outcome.
    } catch (const bad_variant_cast&) {
    } catch (const std::exception& e) {
        // Anything else must not reach the browser's dispatch either.
        Log::info("BrowserHost", std::string("Queued call failed: ") + e.what());
    } catch (...) {
        Log::info("BrowserHost", "Queued call failed");
    }
}

}  // namespace FB
