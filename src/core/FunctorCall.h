#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "scripting/variant.h"

namespace FB {

// A call bound together with everything it needs, to be run later, possibly on another thread.
// After call() it holds the function's result as a variant (empty for functions without result).
class FunctorCall {
  public:
    virtual ~FunctorCall() = default;
    virtual void call() = 0;

    const variant& result() const { return result_; }

  protected:
    variant result_;
};

using FunctorCallPtr = std::shared_ptr<FunctorCall>;

// A functor call around any callable taking no arguments.
template <class F>
class BoundFunctorCall : public FunctorCall {
  public:
    explicit BoundFunctorCall(F f) : f_(std::move(f)) {}

    void call() override {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            f_();
        } else {
            result_ = variant(static_cast<std::decay_t<R>>(f_()));
        }
    }

  private:
    F f_;
};

template <class F>
FunctorCallPtr makeFunctorCall(F f) {
    return std::make_shared<BoundFunctorCall<F>>(std::move(f));
}

// Binds a member function of an object and copies of its arguments. The object is kept alive by the
// call until the call is destroyed.
template <class C, class M, class... A>
FunctorCallPtr makeFunctorCall(std::shared_ptr<C> object, M method, A... args) {
    return makeFunctorCall([object = std::move(object), method, ... args = std::move(args)]() mutable {
        return std::invoke(method, *object, args...);
    });
}

}  // namespace FB
