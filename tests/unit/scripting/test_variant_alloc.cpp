// Proves that small values stay inline: constructing, copying, assigning and destroying a variant
// holding bool, int, long or unsigned long allocates nothing. Allocations are counted through a
// replaced global operator new (this program's own; AddressSanitizer keeps working underneath,
// since the replacement forwards to malloc, which ASan intercepts).

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "scripting/variant.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

template <class T>
long allocationsFor(T value) {
    const long before = allocations.load();
    {
        FB::variant v(value);
        FB::variant copy(v);
        FB::variant assigned;
        assigned = copy;
        assigned = v;
        FB::variant moved(std::move(copy));
        T back = moved.get<T>();
        (void)back;
    }
    return allocations.load() - before;
}

}  // namespace

TEST(VariantAllocation, SmallValuesNeverAllocate) {
    EXPECT_EQ(allocationsFor(true), 0);
    EXPECT_EQ(allocationsFor(42), 0);
    EXPECT_EQ(allocationsFor(-7L), 0);
    EXPECT_EQ(allocationsFor(4000000000UL), 0);
    EXPECT_EQ(allocationsFor(FB::variant_detail::null{}), 0);
}

TEST(VariantAllocation, LargeValuesOwnExactlyOneHeapObject) {
    // This file sees the script classes only as declarations; pointers to them are still storable.
    FB::variant api = FB::JSAPIPtr();
    FB::variant object = FB::JSObjectPtr();
    FB::variant weak = FB::JSAPIWeakPtr();
    FB::variant error = std::shared_ptr<FB::script_error>();
    EXPECT_EQ(api.type(), typeid(FB::JSAPIPtr));
    EXPECT_EQ(weak.type(), typeid(FB::JSAPIWeakPtr));

    // The counter sees the replacement: a text too long for the small-string buffer makes two
    // allocations per variant holding it (the string object and its characters).
    const std::string text(64, 'x');
    const long before = allocations.load();
    { FB::variant v(text); }
    EXPECT_EQ(allocations.load() - before, 2);
    const long beforeList = allocations.load();
    { FB::variant v(FB::VariantList{}); }
    EXPECT_EQ(allocations.load() - beforeList, 1);
}
