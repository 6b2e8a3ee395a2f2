// A script value as the fake page holds it: the NPVariant kinds with owned storage. A PageValue
// holding an object owns one reference to it (retained through the current FakeBrowser) and gives
// it back when destroyed; text is held in a std::string.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>

#include "npapi/npapi/npruntime.h"

namespace FB::Npapi {

class PageValue {
  public:
    enum class Type { Void, Null, Bool, Int32, Double, String, Object };

    PageValue() = default;      // void (undefined)
    PageValue(std::nullptr_t);  // null
    PageValue(bool value);
    PageValue(int32_t value);
    PageValue(double value);
    PageValue(std::string text);
    PageValue(const char* text);
    PageValue(NPObject* object);  // retains the object; a null pointer gives null
    ~PageValue();

    PageValue(const PageValue& other);
    PageValue(PageValue&& other) noexcept;
    PageValue& operator=(const PageValue& other);
    PageValue& operator=(PageValue&& other) noexcept;

    // Takes over a reference the caller already owns (a creation or returned reference).
    static PageValue adopt(NPObject* object);
    // Copies a borrowed NPVariant: retains its object, copies its text.
    static PageValue copyOf(const NPVariant& variant);
    // Takes over an owned NPVariant: keeps its object reference, frees its text with
    // NPN_MemFree and leaves the variant void.
    static PageValue take(NPVariant& variant);

    // A new NPVariant with its own references: text from NPN_MemAlloc, object retained. The
    // receiver releases it with NPN_ReleaseVariantValue.
    NPVariant toNPVariant() const;
    // A borrowed NPVariant that points into this value (argument arrays); valid while it lives.
    NPVariant borrow() const;

    Type type() const { return static_cast<Type>(value_.index()); }
    bool isVoid() const { return type() == Type::Void; }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInt32() const { return type() == Type::Int32; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isInt32() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isObject() const { return type() == Type::Object; }

    // Exact accessors; a value of another type throws std::logic_error.
    bool asBool() const;
    int32_t asInt32() const;
    double asNumber() const;  // Int32 or Double
    const std::string& asString() const;
    NPObject* asObject() const;

    // The text the page would show for the value: "undefined", "null", "true", "5", "0.5", the
    // text itself, or "[object]".
    std::string describe() const;

    // Same type and value; objects compare by identity.
    bool operator==(const PageValue& other) const;

  private:
    struct Void {
        bool operator==(const Void&) const = default;
    };
    struct Null {
        bool operator==(const Null&) const = default;
    };
    using Storage = std::variant<Void, Null, bool, int32_t, double, std::string, NPObject*>;

    explicit PageValue(Storage value) : value_(std::move(value)) {}
    void retain() const;
    void release();

    Storage value_;
};

std::ostream& operator<<(std::ostream& out, const PageValue& value);

}  // namespace FB::Npapi
