#pragma once

// Turns typed member functions into the uniform call functors and property records that JSAPIAuto
// stores. Arguments arrive as a VariantList and are converted to the parameter types; the result
// goes back as a variant. No argument failure reaches the member function.

#include <functional>
#include <string>
#include <type_traits>

#include "scripting/script_error.h"
#include "scripting/variant.h"

namespace FB {

using CallMethodFunctor = std::function<variant(const VariantList&)>;
using GetPropFunctor = std::function<variant()>;
using SetPropFunctor = std::function<void(const variant&)>;

struct PropertyFunctors {
    GetPropFunctor get;
    SetPropFunctor set;
};

namespace detail::methods {

template <class T>
using plain_t = std::remove_cv_t<std::remove_reference_t<T>>;

// A required argument at position `index` (from 1).
template <class T>
T convertArgument(const VariantList& args, std::size_t index) {
    if (args.size() < index) {
        throw invalid_arguments("Error: Argument " + std::to_string(index) + "is not optional.");
    }
    try {
        return args[index - 1].convert<T>();
    } catch (const bad_variant_cast& e) {
        throw invalid_arguments("Invalid argument conversion from " + e.from() + " to " + e.to() +
                                " at index " + std::to_string(index));
    }
}

// The last parameter: optional when it is a variant, else required.
template <class T>
T lastArgument(const VariantList& args, std::size_t index) {
    if constexpr (std::is_same_v<T, variant>) {
        return args.size() >= index ? args[index - 1] : variant();
    } else {
        return convertArgument<T>(args, index);
    }
}

inline void checkCount(const VariantList& args, std::size_t arity) {
    if (args.size() > arity) {
        throw invalid_arguments("Too many arguments, expected " + std::to_string(arity) + ".");
    }
}

template <class R, class Call>
variant resultOf(Call&& call) {
    if constexpr (std::is_void_v<R>) {
        call();
        return variant();
    } else {
        return variant(call());
    }
}

// Arity 0: the arguments are not examined.
template <class C, class R, class F>
struct method_wrapper0 {
    F f;
    variant operator()(C* instance, const VariantList&) const {
        return resultOf<R>([&]() -> decltype(auto) { return (instance->*f)(); });
    }
};

template <class C, class R, class A1, class F>
struct method_wrapper1 {
    F f;
    variant operator()(C* instance, const VariantList& args) const {
        checkCount(args, 1);
        plain_t<A1> a1 = lastArgument<plain_t<A1>>(args, 1);
        return resultOf<R>([&]() -> decltype(auto) { return (instance->*f)(a1); });
    }
};

// Arity 2: the count check, then the last parameter, then the first, so that a call without
// arguments names argument 2.
template <class C, class R, class A1, class A2, class F>
struct method_wrapper2 {
    F f;
    variant operator()(C* instance, const VariantList& args) const {
        checkCount(args, 2);
        plain_t<A2> a2 = lastArgument<plain_t<A2>>(args, 2);
        plain_t<A1> a1 = convertArgument<plain_t<A1>>(args, 1);
        return resultOf<R>([&]() -> decltype(auto) { return (instance->*f)(a1, a2); });
    }
};

template <class C, class R, class F, class... A>
auto makeWrapper(F f) {
    static_assert(sizeof...(A) <= 2, "script methods take at most two arguments");
    if constexpr (sizeof...(A) == 0) {
        return method_wrapper0<C, R, F>{f};
    } else if constexpr (sizeof...(A) == 1) {
        return method_wrapper1<C, R, A..., F>{f};
    } else {
        return method_wrapper2<C, R, A..., F>{f};
    }
}

template <class C, class R, class F, class... A>
CallMethodFunctor bind(C* instance, F f) {
    auto wrapper = makeWrapper<C, R, F, A...>(f);
    return [wrapper, instance](const VariantList& args) { return wrapper(instance, args); };
}

}  // namespace detail::methods

// The call functor for a member function of arity 0, 1 or 2. It keeps a plain pointer to the
// instance: it is stored in that instance's own method table and never outlives it.
template <class I, class C, class R, class... A>
CallMethodFunctor bindMethod(I* instance, R (C::*f)(A...)) {
    return detail::methods::bind<C, R, R (C::*)(A...), A...>(static_cast<C*>(instance), f);
}

template <class I, class C, class R, class... A>
CallMethodFunctor bindMethod(I* instance, R (C::*f)(A...) const) {
    return detail::methods::bind<C, R, R (C::*)(A...) const, A...>(static_cast<C*>(instance), f);
}

// Read-only property: writes are accepted and ignored.
template <class I, class C, class R>
PropertyFunctors bindProperty(I* instance, R (C::*getter)() const) {
    C* self = instance;
    return {[self, getter] { return variant((self->*getter)()); }, [](const variant&) {}};
}

template <class I, class C, class R>
PropertyFunctors bindProperty(I* instance, R (C::*getter)()) {
    C* self = instance;
    return {[self, getter] { return variant((self->*getter)()); }, [](const variant&) {}};
}

// Read-write property: the value is converted to the setter's parameter type first; a failed
// conversion raises bad_variant_cast and the setter is not called.
template <class I, class C, class R, class G, class S, class A>
PropertyFunctors bindPropertyImpl(I* instance, G getter, S setter) {
    C* self = instance;
    return {[self, getter] { return variant((self->*getter)()); },
            [self, setter](const variant& value) {
                (self->*setter)(value.convert<detail::methods::plain_t<A>>());
            }};
}

template <class I, class C, class R, class D, class A>
PropertyFunctors bindProperty(I* instance, R (C::*getter)() const, void (D::*setter)(A)) {
    return bindPropertyImpl<I, C, R, R (C::*)() const, void (D::*)(A), A>(instance, getter, setter);
}

template <class I, class C, class R, class D, class A>
PropertyFunctors bindProperty(I* instance, R (C::*getter)(), void (D::*setter)(A)) {
    return bindPropertyImpl<I, C, R, R (C::*)(), void (D::*)(A), A>(instance, getter, setter);
}

}  // namespace FB
