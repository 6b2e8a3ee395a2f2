#pragma once

// The dynamically typed value that crosses every script boundary: two words, an operations record
// of the stored type and one pointer-size slot. Small trivially copyable values live in the slot;
// anything larger lives in one heap object that the variant owns alone.

#include <cstddef>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace FB {

class JSAPI;
class JSObject;
class script_error;

using JSAPIPtr = std::shared_ptr<JSAPI>;
using JSAPIWeakPtr = std::weak_ptr<JSAPI>;
using JSObjectPtr = std::shared_ptr<JSObject>;

class variant;
using VariantList = std::vector<variant>;
using VariantMap = std::map<std::string, variant>;

// Human-readable (demangled) name of a type, as carried by bad_variant_cast.
const std::string& typeName(const std::type_info& type);

// Raised by every failed retrieval or conversion of a variant.
class bad_variant_cast : public std::bad_cast {
  public:
    bad_variant_cast(const std::type_info& from, const std::type_info& to);
    bad_variant_cast(const std::type_info& from, std::string toName);

    const char* what() const noexcept override { return "bad cast"; }
    const std::string& from() const noexcept { return from_; }
    const std::string& to() const noexcept { return to_; }

  private:
    std::string from_;
    std::string to_;
};

namespace variant_detail {

// Marker of a variant that holds nothing.
struct empty {};
// Marker of the script null.
struct null {};

union slot {
    void* heap;
    alignas(void*) unsigned char bytes[sizeof(void*)];
};

template <class T>
inline constexpr bool stored_inline = sizeof(T) <= sizeof(void*) &&
                                      alignof(T) <= alignof(void*) && std::is_trivially_copyable_v<T>;

// One immutable record per stored type.
struct ops {
    const std::type_info& (*type)();
    void (*destroy)(slot& s) noexcept;
    void (*clone)(const slot& from, slot& to);
    void (*assign)(const slot& from, slot& to);
    bool (*less)(const slot& a, const slot& b);
};

template <class T>
const T& ref(const slot& s) noexcept {
    if constexpr (stored_inline<T>) {
        return *std::launder(reinterpret_cast<const T*>(s.bytes));
    } else {
        return *static_cast<const T*>(s.heap);
    }
}

template <class T>
T& ref(slot& s) noexcept {
    if constexpr (stored_inline<T>) {
        return *std::launder(reinterpret_cast<T*>(s.bytes));
    } else {
        return *static_cast<T*>(s.heap);
    }
}

template <class T>
struct is_owner_ordered : std::false_type {};
template <class U>
struct is_owner_ordered<std::shared_ptr<U>> : std::true_type {};
template <class U>
struct is_owner_ordered<std::weak_ptr<U>> : std::true_type {};

// Shared pointers order by ownership group; everything else by its own '<' when it has one.
template <class T>
bool lessOf(const T& a, const T& b) {
    if constexpr (is_owner_ordered<T>::value) {
        return a.owner_before(b);
    } else if constexpr (requires(const T& x, const T& y) { x < y; }) {
        return static_cast<bool>(a < b);
    } else {
        return false;
    }
}

template <class T>
struct ops_for {
    static const std::type_info& type() { return typeid(T); }

    static void destroy(slot& s) noexcept {
        if constexpr (stored_inline<T>) {
            static_assert(std::is_trivially_destructible_v<T>);
        } else {
            delete static_cast<T*>(s.heap);
        }
    }

    static void clone(const slot& from, slot& to) {
        if constexpr (std::is_empty_v<T>) {
            return;
        } else if constexpr (stored_inline<T>) {
            ::new (static_cast<void*>(to.bytes)) T(ref<T>(from));
        } else {
            to.heap = new T(ref<T>(from));
        }
    }

    static void assign(const slot& from, slot& to) {
        if constexpr (!std::is_empty_v<T>) {
            ref<T>(to) = ref<T>(from);
        }
    }

    static bool less(const slot& a, const slot& b) {
        if constexpr (std::is_empty_v<T>) {
            return false;
        } else {
            return lessOf(ref<T>(a), ref<T>(b));
        }
    }

    static constexpr ops table{&type, &destroy, &clone, &assign, &less};
};

// Pointers to scriptable objects are stored under the two pointer types the system knows, so a
// pointer to a derived class is found by every conversion and by the browser adapters. Only
// complete class types other than the two base classes are examined.
template <class U>
concept derived_script_class =
    std::is_class_v<U> && !std::is_same_v<U, JSAPI> && !std::is_same_v<U, JSObject> && requires {
    sizeof(U);
};

template <class U>
struct script_pointer {
    using shared = std::shared_ptr<U>;
    using weak = std::weak_ptr<U>;
};
template <derived_script_class U>
struct script_pointer<U> {
    using shared =
        std::conditional_t<std::is_base_of_v<JSObject, U>, JSObjectPtr,
                           std::conditional_t<std::is_base_of_v<JSAPI, U>, JSAPIPtr, std::shared_ptr<U>>>;
    using weak = std::conditional_t<std::is_base_of_v<JSAPI, U>, JSAPIWeakPtr, std::weak_ptr<U>>;
};

template <class D>
struct stored_as {
    using type = D;
};
template <class U>
struct stored_as<std::shared_ptr<U>> {
    using type = typename script_pointer<U>::shared;
};
template <class U>
struct stored_as<std::weak_ptr<U>> {
    using type = typename script_pointer<U>::weak;
};

template <class T>
inline constexpr bool is_number_target =
    std::is_same_v<T, char> || std::is_same_v<T, short> || std::is_same_v<T, unsigned short> ||
    std::is_same_v<T, int> || std::is_same_v<T, unsigned int> || std::is_same_v<T, long> ||
    std::is_same_v<T, unsigned long> || std::is_same_v<T, long long> ||
    std::is_same_v<T, unsigned long long> || std::is_same_v<T, float> || std::is_same_v<T, double>;

// Conversion rules, defined in variant.cpp.
template <class T>
T toNumber(const variant& v);
bool toBool(const variant& v);
std::string toString(const variant& v);
std::wstring toWide(const variant& v);
JSObjectPtr toObject(const variant& v);
JSAPIPtr toApi(const variant& v);
VariantList toList(const variant& v);
VariantMap toMap(const variant& v);

}  // namespace variant_detail

class variant {
    template <class T>
    static constexpr const variant_detail::ops* opsOf() noexcept {
        return &variant_detail::ops_for<T>::table;
    }

    template <class T>
    static constexpr bool storable =
        !std::is_same_v<std::decay_t<T>, variant> && !std::is_array_v<std::remove_reference_t<T>>;

  public:
    variant() noexcept : ops_(opsOf<variant_detail::empty>()) {}

    template <class T, std::enable_if_t<storable<T>, int> = 0>
    variant(T&& value) : ops_(opsOf<variant_detail::empty>()) {  // NOLINT: implicit by design
        store<typename variant_detail::stored_as<std::decay_t<T>>::type>(std::forward<T>(value));
    }

    // Text literals are stored as text, a null pointer as the script null.
    variant(const char* text);     // NOLINT: implicit by design
    variant(const wchar_t* text);  // NOLINT: implicit by design

    variant(const variant& other) : ops_(opsOf<variant_detail::empty>()) {
        other.ops_->clone(other.slot_, slot_);
        ops_ = other.ops_;
    }

    variant(variant&& other) noexcept : ops_(other.ops_), slot_(other.slot_) {
        other.ops_ = opsOf<variant_detail::empty>();
    }

    ~variant() { ops_->destroy(slot_); }

    variant& operator=(const variant& other) {
        if (this == &other) {
            return *this;
        }
        if (ops_ == other.ops_) {
            ops_->assign(other.slot_, slot_);
        } else {
            reset();
            other.ops_->clone(other.slot_, slot_);
            ops_ = other.ops_;
        }
        return *this;
    }

    variant& operator=(variant&& other) noexcept {
        if (this != &other) {
            reset();
            ops_ = other.ops_;
            slot_ = other.slot_;
            other.ops_ = opsOf<variant_detail::empty>();
        }
        return *this;
    }

    template <class T, std::enable_if_t<storable<T>, int> = 0>
    variant& operator=(T&& value) {
        using D = typename variant_detail::stored_as<std::decay_t<T>>::type;
        if (ops_ == opsOf<D>()) {
            if constexpr (!std::is_empty_v<D>) {
                variant_detail::ref<D>(slot_) = std::forward<T>(value);
            }
        } else {
            reset();
            store<D>(std::forward<T>(value));
        }
        return *this;
    }

    const std::type_info& type() const { return ops_->type(); }

    // A tag of the stored type, equal for equal types within one module: a cheap key for tables
    // indexed by type. A variant made in another module may carry another tag for the same type, so
    // a table keyed by tags falls back to type().
    const void* typeTag() const noexcept { return ops_; }
    template <class T>
    static const void* typeTagOf() noexcept {
        return opsOf<T>();
    }

    template <class T>
    bool is_of_type() const {
        return ops_ == opsOf<T>() || type() == typeid(T);
    }

    bool is_empty() const { return is_of_type<variant_detail::empty>(); }
    bool is_null() const { return is_of_type<variant_detail::null>(); }

    void reset() noexcept {
        ops_->destroy(slot_);
        ops_ = opsOf<variant_detail::empty>();
    }

    // Exact retrieval: the stored type must be T.
    template <class T>
    T get() const {
        if (!is_of_type<T>()) {
            throw bad_variant_cast(type(), typeid(T));
        }
        return variant_detail::ref<T>(slot_);
    }

    // The stored value itself, without a copy; null when the stored type is not T. For readers that
    // must not leave copies of what they read (a PIN).
    template <class T>
    const T* peek() const noexcept {
        return is_of_type<T>() ? &variant_detail::ref<T>(slot_) : nullptr;
    }

    // Overwrites the characters of stored text (std::string or std::wstring) with "X" in place, so a
    // secret is gone before the variant's owner releases it; other values are left alone.
    void overwriteText() noexcept;

    // Converting retrieval by the fixed conversion rules.
    template <class T>
    T convert() const {
        using namespace variant_detail;
        if constexpr (std::is_same_v<T, variant>) {
            return *this;
        } else if constexpr (std::is_same_v<T, bool>) {
            return toBool(*this);
        } else if constexpr (is_number_target<T>) {
            return toNumber<T>(*this);
        } else if constexpr (std::is_same_v<T, std::string>) {
            return toString(*this);
        } else if constexpr (std::is_same_v<T, std::wstring>) {
            return toWide(*this);
        } else if constexpr (std::is_same_v<T, JSObjectPtr>) {
            return toObject(*this);
        } else if constexpr (std::is_same_v<T, JSAPIPtr>) {
            return toApi(*this);
        } else if constexpr (std::is_same_v<T, VariantList>) {
            return toList(*this);
        } else if constexpr (std::is_same_v<T, VariantMap>) {
            return toMap(*this);
        } else {
            return get<T>();
        }
    }

    // Same stored type: that type's ordering; otherwise the readable type names decide.
    bool less(const variant& other) const;

    friend bool operator<(const variant& a, const variant& b) { return a.less(b); }

  private:
    template <class D, class T>
    void store(T&& value) {
        if constexpr (std::is_empty_v<D>) {
            // Markers carry no data.
        } else if constexpr (variant_detail::stored_inline<D>) {
            ::new (static_cast<void*>(slot_.bytes)) D(std::forward<T>(value));
        } else {
            slot_.heap = new D(std::forward<T>(value));
        }
        ops_ = opsOf<D>();
    }

    const variant_detail::ops* ops_;
    variant_detail::slot slot_{};
};

static_assert(sizeof(variant) == 2 * sizeof(void*), "a variant is two words");

namespace variant_detail {
extern template char toNumber<char>(const variant&);
extern template short toNumber<short>(const variant&);
extern template unsigned short toNumber<unsigned short>(const variant&);
extern template int toNumber<int>(const variant&);
extern template unsigned int toNumber<unsigned int>(const variant&);
extern template long toNumber<long>(const variant&);
extern template unsigned long toNumber<unsigned long>(const variant&);
extern template long long toNumber<long long>(const variant&);
extern template unsigned long long toNumber<unsigned long long>(const variant&);
extern template float toNumber<float>(const variant&);
extern template double toNumber<double>(const variant&);
}  // namespace variant_detail

}  // namespace FB
